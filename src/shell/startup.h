// Start-up decisions that need no window: the automatic port choice and
// connecting on a port.
#pragma once

#include <QString>

class General;
class SondaIO;

// 1..4 when exactly one of config1.ini..config4.ini is in the folder,
// 0 when none, -1 when several.
int puertoAutomatico(const QString &folder);

// Connects on COMd (d = 1..4): port index, port name, connected flag.
// On failure the port index is -1 and the library message says why.
bool conecta(General &g, SondaIO *io, int d);

// The port's own folder under the program's folder, where its captures go:
// named by the port's digit, the program's folder itself with no port.
QString portFolder(const General &g);
