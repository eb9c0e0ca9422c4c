// The rules file (avisos.conf) read into alarms::Settings. Plain text:
// sections `[correo]`, `[destinatario NOMBRE]`, `[regla NOMBRE]` and
// `[informe NOMBRE]`, each followed by `clave = valor` lines; `#` starts a
// comment; blank lines are ignored. A file with any bad line is refused
// whole, with where and why.
#pragma once

#include "alarms/settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace alarms {

// The rules of `text`, read from the file `fileName` (for the messages).
// False, with `error` as "fichero:línea: motivo" in Spanish, when any line
// is bad; `out` is then left as it was.
bool parseRules(std::string_view text, const std::string &fileName, Settings &out,
                std::string &error);

// The rules of the file at `path`; false (with `error`) when it cannot be
// read or a line is bad.
bool readRules(const std::string &path, Settings &out, std::string &error);

// The condition of this name ("alto" "bajo" "activa" "err" "parada").
std::optional<Condition> conditionNamed(std::string_view name);

// A name matches a pattern: "*" any text, "?" one character, the rest
// itself; an empty list matches every name.
bool matches(const std::vector<std::string> &patterns, const std::string &name);

} // namespace alarms
