#include "registry/numtext.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr float nanF = std::numeric_limits<float>::quiet_NaN();
constexpr float infF = std::numeric_limits<float>::infinity();

TEST(NumText, SingleTexts)
{
    struct Row {
        const char *name;
        float value;
        const char *text;
        const char *comma;
    };
    const Row rows[] = {
        {"whole", 20.0f, "20", "20"},
        {"half", 21.5f, "21.5", "21,5"},
        {"below one has no leading zero", 0.5f, ".5", ",5"},
        {"negative below one", -0.25f, "-.25", "-,25"},
        {"negative", -12.75f, "-12.75", "-12,75"},
        {"binary tail hidden", 21.1f, "21.1", "21,1"},
        {"seven digits stay plain", 1234567.0f, "1234567", "1234567"},
        {"eighth digit rounds into exponent form", 12345678.0f, "1.234568E+07", "1,234568E+07"},
        {"ten million", 1e7f, "1E+07", "1E+07"},
        {"negative huge", -3.4e38f, "-3.4E+38", "-3,4E+38"},
        {"rounding to seven digits", 123456.75f, "123456.8", "123456,8"},
        {"ten-thousandth plain", 0.0001f, ".0001", ",0001"},
        {"hundred-thousandth in exponent form", 0.00001f, "1E-05", "1E-05"},
        {"tiny", 1.5e-30f, "1.5E-30", "1,5E-30"},
        {"smallest denormal", std::numeric_limits<float>::denorm_min(), "1.401298E-45", "1,401298E-45"},
        {"zero", 0.0f, "0", "0"},
        {"minus zero", -0.0f, "0", "0"},
        {"not a number", nanF, "NaN", "NaN"},
        {"infinity", infF, "Inf", "Inf"},
        {"minus infinity", -infF, "-Inf", "-Inf"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(txtsimple(row.value), QString::fromLatin1(row.text));
        EXPECT_EQ(numcoma(row.value), QString::fromLatin1(row.comma));
    }
}

TEST(NumText, DoubleTexts)
{
    struct Row {
        const char *name;
        double value;
        const char *text;
    };
    const Row rows[] = {
        {"tenth", 0.1, ".1"},
        {"negative half", -0.5, "-.5"},
        {"third to fifteen digits", 1.0 / 3.0, ".333333333333333"},
        {"fifteen digits plain", 123456789012345.0, "123456789012345"},
        {"sixteen digits in exponent form", 1234567890123456.0, "1.23456789012346E+15"},
        {"three-digit exponent", 1e-300, "1E-300"},
        {"float value shown exactly", static_cast<double>(21.1f), "21.1000003814697"},
        {"minus zero", -0.0, "0"},
        {"infinity", std::numeric_limits<double>::infinity(), "Inf"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(txtdoble(row.value), QString::fromLatin1(row.text));
    }
}

TEST(NumText, LeadingNumber)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char *name;
        const char *text;
        double value;
    };
    const Row rows[] = {
        {"plain", "21.5", 21.5},
        {"blanks before, text after", "  21.5abc", 21.5},
        {"tab and sign", "\t-3", -3},
        {"plus sign", "+4", 4},
        {"point first", ".5", 0.5},
        {"negative point first", "-.5", -0.5},
        {"exponent", "1e3", 1000},
        {"signed exponent then text", "1E+3x", 1000},
        {"D exponent", "2.5D-1", 0.25},
        {"exponent letter without digits", "7e", 7},
        {"exponent sign without digits", "7e+", 7},
        {"comma is not a point", "12,5", 12},
        {"blanks inside are skipped", "1 5", 15},
        {"blank after the sign", "- 5", -5},
        {"blanks inside the exponent", "2 e 1 x", 20},
        {"letters only", "abc", 0},
        {"empty", "", 0},
        {"sign only", "-", 0},
        {"point only", ".", 0},
        {"overflow", "1e400", inf},
        {"negative overflow", "-1e400", -inf},
        {"many digits, huge negative exponent", "100000000000000000000e-10000000000000000000000", 0},
        {"overflow through digits", "1000e307", inf},
        {"underflow", "1e-400", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(valnum(QString::fromLatin1(row.text)), row.value);
    }
}

TEST(NumText, RoundToWord)
{
    struct Row {
        const char *name;
        double value;
        std::optional<std::int16_t> word;
    };
    const Row rows[] = {
        {"half down to even", 2.5, 2},
        {"half up to even", 3.5, 4},
        {"negative half to even", -12.5, -12},
        {"negative half away to even", -13.5, -14},
        {"below half", 0.49, 0},
        {"zero half", 0.5, 0},
        {"minus half", -0.5, 0},
        {"above half", 1.51, 2},
        {"top", 32767.4, 32767},
        {"top half rounds out", 32767.5, std::nullopt},
        {"bottom half rounds to even inside", -32768.5, -32768},
        {"below bottom", -32768.6, std::nullopt},
        {"huge", 1e300, std::nullopt},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), std::nullopt},
        {"infinity", -std::numeric_limits<double>::infinity(), std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(redondea16(row.value), row.word);
    }
}

}
