// The alarm program's command line: the database, the rules file, and
// whether to judge what there is once and end.
#pragma once

#include <QString>
#include <QStringList>

namespace alarms {

struct Options {
    QString conninfo; // a postgresql:// address or key=value words; empty: the PG* variables
    QString rules = QStringLiteral("/etc/climalog/avisos.conf");
    bool once = false;
};

enum class Parsed { Run, Help, Bad };

// `args` without the program's name. Bad: `error` says why, in Spanish,
// with any password hidden.
Parsed parseArguments(const QStringList &args, Options &o, QString &error);
QString usage();

} // namespace alarms
