#include "shell/cmdline.h"

#include "registry/fixedtext.h"

Orden interpreta(const QString &commandLine)
{
    Orden orden;
    QString text = trimBlanks(commandLine).toUpper();
    const qsizetype cap = text.indexOf(QLatin1String("/CAP"));
    if (cap >= 0) {
        text = trimBlanks(text.left(cap) + text.mid(cap + 4));
        orden.captura = true;
    }
    if (text.isEmpty()) {
        orden.puerto = Orden::Puerto::Automatico;
    } else if (text.size() == 2 && text[0] == u'/') {
        // The second character's digit value; any other character counts 0.
        const int d = text[1].isDigit() && text[1].unicode() < 0x80 ? text[1].unicode() - u'0' : 0;
        if (d == 0) {
            orden.puerto = Orden::Puerto::SinConexion;
        } else if (d <= 4) {
            orden.puerto = Orden::Puerto::Numero;
            orden.numero = d;
        }
    } else if (text == QLatin1String("/TEST") && !orden.captura) {
        orden.puerto = Orden::Puerto::Ventana;
    }
    return orden;
}

QString usoTexto()
{
    return QStringLiteral("Argumentos en línea de comandos incorrectos.\r\n"
                          "Usar:\r\n"
                          "Climalog /n   [n=COMn=1,2,3,4]\r\n"
                          "Climalog /test\r\n"
                          "Climalog /cap\r\n"
                          "Climalog /cap /n    [n=COMn=1,2,3,4]");
}
