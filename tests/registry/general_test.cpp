// The small shared helpers on texts and on the device table.
#include "registry/general.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <functional>

namespace {

QString bytesOf(const Serial &s)
{
    QStringList parts;
    for (const auto b : s)
        parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(' ');
}

const QString zero = QStringLiteral("00 00 00 00 00 00 00 00");

} // namespace

TEST(GeneralHelpers, Texts)
{
    struct Row {
        const char *name;
        std::function<QString()> actual;
        QString expected;
    };
    const Row rows[] = {
        {"hexserie upper", [] { return bytesOf(hexserie("0123456789ABCDEF")); }, "01 23 45 67 89 AB CD EF"},
        {"hexserie lower", [] { return bytesOf(hexserie("0123456789abcdef")); }, "01 23 45 67 89 AB CD EF"},
        {"hexserie 15 digits", [] { return bytesOf(hexserie("0123456789ABCDE")); }, zero},
        {"hexserie 17 digits", [] { return bytesOf(hexserie("0123456789ABCDEF0")); }, zero},
        {"hexserie blank", [] { return bytesOf(hexserie("                ")); }, zero},
        {"hexserie g", [] { return bytesOf(hexserie("0123456789ABCDEg")); }, zero},
        {"hexserie zeros", [] { return bytesOf(hexserie("0000000000000000")); }, zero},
        {"codtipo lower", [] { return QString::number(codtipo("stt")); }, "1"},
        {"codtipo mixed", [] { return QString::number(codtipo("Ctr")); }, "5"},
        {"codtipo leading blank", [] { return QString::number(codtipo(" STT")); }, "0"},
        {"codtipo letter that upper-cases to S", [] { return QString::number(codtipo(QStringLiteral("\u017Ftt"))); }, "0"},
        {"nomtipo 3", [] { return nomtipo(3); }, "AVI"},
        {"nomtipo 0", [] { return nomtipo(0); }, "???"},
        {"nomtipo 6", [] { return nomtipo(6); }, "???"},
        {"nomtipo -1", [] { return nomtipo(-1); }, "???"},
        {"txtestado 0", [] { return txtestado(0); }, "1"},
        {"txtestado 1", [] { return txtestado(1); }, "0"},
        {"txtestado -1", [] { return txtestado(-1); }, "0"},
        {"txtestado 255", [] { return txtestado(255); }, "0"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.actual(), row.expected) << row.name;
}

// Records carry their reading blocks when sorted or deleted; entry 0 stays.
TEST(GeneralHelpers, TableOperations)
{
    struct Row {
        const char *name;
        std::vector<std::pair<std::int16_t, QString>> devices;
        std::function<void(General &)> op;
        bool modificadoBefore;
        std::vector<int> order; // original positions after the operation
        bool modificadoAfter;
    };
    const auto sort = [](General &g) { g.ordena(); };
    const Row rows[] = {
        {"types then names", {{STT, "b"}, {STT, "A"}, {AVI, "z"}}, sort, false, {3, 2, 1}, true},
        {"sorted stays unmodified", {{AVI, "z"}, {STT, "A"}, {STT, "b"}}, sort, false, {1, 2, 3}, false},
        {"sorted stays modified", {{AVI, "z"}, {STT, "A"}, {STT, "b"}}, sort, true, {1, 2, 3}, true},
        {"equal keys keep order", {{STT, " x"}, {HRT, "a"}, {STT, "x "}, {STT, "x"}}, sort, false, {2, 1, 3, 4}, true},
        {"unknown type first", {{STT, "a"}, {9, "b"}}, sort, false, {2, 1}, true},
        {"delete first of three", {{STT, "a"}, {STT, "b"}, {STT, "c"}}, [](General &g) { g.borra(1); }, false, {2, 3}, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        General g;
        g.estados[0].proxima = 999;
        for (const auto &[tipo, name] : row.devices) {
            g.dispactual.tipo = tipo;
            g.dispactual.nombre = name;
            g.dispactual.periodo = std::int16_t(g.n() + 1);
            g.nuevo();
            g.estados.back().proxima = 10 * (g.n());
        }
        g.modificado = row.modificadoBefore;
        row.op(g);
        ASSERT_EQ(g.n(), int(row.order.size()));
        ASSERT_EQ(g.estados.size(), g.dispositivos.size());
        EXPECT_EQ(g.secuencia(), "00");
        EXPECT_EQ(g.estados[0].proxima, 999);
        for (int k = 1; k <= g.n(); ++k) {
            EXPECT_EQ(g.dispositivos[k].periodo, row.order[k - 1]) << "position " << k;
            EXPECT_EQ(g.estados[k].proxima, 10 * row.order[k - 1]) << "position " << k;
        }
        EXPECT_EQ(g.modificado, row.modificadoAfter);
    }
}
