#include "shell/cmdline.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct Row {
    const char *name;
    const char *line;
    Orden::Puerto puerto;
    int numero;
    bool captura;
};

using P = Orden::Puerto;

const Row rows[] = {
    {"empty", "", P::Automatico, 0, false},
    {"blanksOnly", "   ", P::Automatico, 0, false},
    {"port1", "/1", P::Numero, 1, false},
    {"port4", "/4", P::Numero, 4, false},
    {"port2WithBlanks", "  /2  ", P::Numero, 2, false},
    {"zero", "/0", P::SinConexion, 0, false},
    {"letterX", "/X", P::SinConexion, 0, false},
    {"lowerLetter", "/x", P::SinConexion, 0, false},
    {"five", "/5", P::Rechazo, 0, false},
    {"nine", "/9", P::Rechazo, 0, false},
    {"twelve", "12", P::Rechazo, 0, false},
    {"twentyTwo", "/22", P::Rechazo, 0, false},
    {"slashAlone", "/", P::Rechazo, 0, false},
    {"test", "/test", P::Ventana, 0, false},
    {"testUpper", "/TEST", P::Ventana, 0, false},
    {"testWithCap", "/test /cap", P::Rechazo, 0, true},
    {"capWithTest", "/cap /test", P::Rechazo, 0, true},
    {"capAlone", "/cap", P::Automatico, 0, true},
    {"capMixedCase", "/Cap", P::Automatico, 0, true},
    {"capThenPortGlued", "/CAP/2", P::Numero, 2, true},
    {"portThenCap", "/2 /cap", P::Numero, 2, true},
    {"portGluedCapBlanks", "  /2/Cap  ", P::Numero, 2, true},
    {"capPortSpaced", "/cap /3", P::Numero, 3, true},
    {"capX", "/CAPX", P::Rechazo, 0, true},
    {"capTwice", "/cap/cap", P::Rechazo, 0, true},
    {"capZero", "/cap /0", P::SinConexion, 0, true},
    {"word", "hola", P::Rechazo, 0, false},
    {"fullWidthDigit", "/\xef\xbc\x92", P::SinConexion, 0, false},
};

TEST(CommandLine, everyFormOfTheTable)
{
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const Orden o = interpreta(QString::fromUtf8(row.line));
        EXPECT_EQ(o.puerto, row.puerto);
        EXPECT_EQ(o.numero, row.numero);
        EXPECT_EQ(o.captura, row.captura);
    }
}

TEST(CommandLine, usageMessageLinesJoinedByCrLf)
{
    const QStringList lines = usoTexto().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("Argumentos en línea de comandos incorrectos."));
    EXPECT_EQ(lines[1], QStringLiteral("Usar:"));
    EXPECT_EQ(lines[2], QStringLiteral("Climalog /n   [n=COMn=1,2,3,4]"));
    EXPECT_EQ(lines[3], QStringLiteral("Climalog /test"));
    EXPECT_EQ(lines[4], QStringLiteral("Climalog /cap"));
    EXPECT_EQ(lines[5], QStringLiteral("Climalog /cap /n    [n=COMn=1,2,3,4]"));
}

}
