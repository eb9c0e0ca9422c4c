// The command line: at most one port choice and one capture switch.
#pragma once

#include <QString>

struct Orden {
    enum class Puerto {
        Automatico, // no port named: the configuration files decide
        Numero, // "/d", d = 1..4: connect on COMd
        SinConexion, // "/0" or "/X": no connection attempt
        Ventana, // "/TEST": the port selection window decides
        Rechazo, // anything else: usage message and end
    };
    Puerto puerto = Puerto::Rechazo;
    int numero = 0; // 1..4 with Puerto::Numero
    bool captura = false;
};

Orden interpreta(const QString &commandLine);

// The usage message, lines joined by CR LF.
QString usoTexto();
