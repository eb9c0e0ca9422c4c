// The edges of the values the advanced window stores, and search counts the
// simulator cannot report (negative ones).
#include "dialogs/advanced.h"
#include "dialogs/searchslots.h"
#include "registry/general.h"

#include <gtest/gtest.h>

namespace {

TEST(AdvancedRules, ValueLimits)
{
    struct Row {
        const char *name;
        std::int16_t tipo;
        int slot;
        const char *text;
        QString refusal; // empty: stored
    };
    const auto refused = [](const char *field) {
        return QStringLiteral("El valor de %1 está fuera de rango.").arg(QLatin1String(field));
    };
    const Row rows[] = {
        {"offsetLargestTenths", STT, 0, "3276.7", {}},
        {"offsetOneTenthOver", STT, 0, "3276.8", refused("Offset")},
        {"offsetLowestTenths", STT, 0, "-3276.8", {}},
        {"offsetOverflowingDouble", STT, 0, "1e309", refused("Offset")},
        {"sttAlarmNearSingleTop", STT, 1, "3.4e38", {}},
        {"sttAlarmBeyondSingle", STT, 2, "3.5e38", refused("Alarma max")},
        {"aviGainBeyondSingle", AVI, 2, "1e39", refused("Gan CHc")},
        {"aviAlarmBeyondSingle", AVI, 9, "-1e40", refused("Alarma max")},
        {"detHasNoValues", DET, 0, "1e99", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Dispositivo d;
        d.tipo = row.tipo;
        d.ajuste[0] = 7;
        d.alarma = {1, 2, 3, 4};
        d.ganancia = {5, 6, 7, 8};
        std::array<QString, kSlots> texts;
        for (const Propiedad &p : propiedades(d))
            texts[p.slot] = p.valor;
        texts[row.slot] = QString::fromLatin1(row.text);
        const Dispositivo before = d;

        const auto result = leePropiedades(d, texts);

        EXPECT_EQ(result.value_or(QString()), row.refusal);
        if (!row.refusal.isEmpty() || row.tipo == DET) {
            EXPECT_TRUE(d == before);
        } else {
            EXPECT_FALSE(d == before);
        }
    }
}

TEST(SearchSlots, CountsTheLibraryReports)
{
    struct Row {
        const char *name;
        int count;
        int listed;
    };
    const Row rows[] = {
        {"negative", -3, 0}, {"zero", 0, 0}, {"some", 3, 3}, {"announcedMaximum", 100, 100},
        {"beyondTheBuffer", 150, 100}, {"largestWord", 32767, 100},
    };
    SondaIO::SearchBuffer buffer{};
    for (std::size_t k = 0; k < buffer.size(); ++k)
        buffer[k] = static_cast<std::uint8_t>(k / 8);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QStringList listed = serialesEncontrados(buffer, row.count);
        ASSERT_EQ(listed.size(), row.listed);
        if (row.listed > 0) {
            EXPECT_EQ(listed.last(), QStringLiteral("%1").arg(row.listed - 1, 2, 16, QChar(u'0')).toUpper().repeated(8));
        }
    }
}

}
