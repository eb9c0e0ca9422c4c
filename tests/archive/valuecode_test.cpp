// The stored code of a reading, against codes worked out by hand from the
// decimal text (mantissa * 64 + exponent + 32): a wrong digit, exponent or
// edge of the code's range would change what the database reads back.
#include "archive/valuecode.h"
#include "viewer/capturelines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <ranges>
#include <string>

namespace {

constexpr std::int32_t none = std::numeric_limits<std::int32_t>::min();

TEST(ValueCode, HardCasesGiveTheCodeOfTheShortestDecimal)
{
    const struct {
        double value;
        std::int32_t code;
    } cases[] = {
        {0.0, 32},
        {-0.0, none},
        {1, 96},
        {100, 98},
        {0.1, 95},
        {0.3, 223},
        {0.1 + 0.2, none}, // 0.30000000000000004
        {23.45, 150110},
        {-23.45, -150050},
        {std::nextafter(23.45, 0.0), none},
        {std::strtod("1.2345678", nullptr), 790123417},
        {std::strtod("1.23456789", nullptr), none},
        {123456789, none},
        {std::strtod("1.2345678e-15", nullptr), 790123402}, // exponent -22
        {std::strtod("1.2345678e29", nullptr), 790123446}, // exponent 22
        {1e22, 118},
        {1e-22, 74},
        {1.5e22, 1013},
        {1e23, none},
        {1e-23, none},
        {1.23e25, none}, // 1230e22 fits, its shortest decimal does not
        {33554431, 2147483616}, // 2^25 - 1
        {-33554431, -2147483552},
        {335544310, 2147483617},
        {33554432, none}, // 2^25
        {std::numeric_limits<double>::denorm_min(), none},
        {std::numeric_limits<double>::max(), none},
        {std::numeric_limits<double>::quiet_NaN(), none},
        {std::numeric_limits<double>::infinity(), none},
    };
    for (const auto &c : cases) {
        const std::optional<std::int32_t> code = valueCode(c.value);
        EXPECT_EQ(code.value_or(none), c.code) << c.value;
        if (code) {
            EXPECT_EQ(codeValue(*code), c.value) << c.value;
        }
    }
}

// The code a capture text gives while it is read is the one its value gets
// otherwise, for the texts of every shape the reader takes at once: edges
// of the code's range, zeros with and without a sign, trailing zeros, and
// many drawn at random (signs, up to 16 digits, either separator anywhere).
TEST(ValueCode, TheTextsCodeIsItsValues)
{
    std::vector<std::string> texts;
    for (const auto word : std::views::split(
             std::string_view("0 -0 +0 0,000 -0,0 1500 -1500,00 33554431 33554432 3,3554431 "
                              "-33554431 0,1 ,5 5. +7,25 ERR 123456789012345 1234567890123456 "
                              "0,00000000000001 100000000000000 -0,30 21.50"),
             ' '))
        texts.emplace_back(word.begin(), word.end());
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        std::string t = rng() % 3 == 0 ? "-" : rng() % 5 == 0 ? "+" : "";
        const int digits = 1 + static_cast<int>(rng() % 16);
        const int point = static_cast<int>(rng() % (digits + 2)); // past the end: none
        for (int k = 0; k < digits; ++k) {
            if (k == point)
                t += rng() % 2 ? ',' : '.';
            t += static_cast<char>('0' + (rng() % 4 == 0 ? 0 : rng() % 10));
        }
        texts.push_back(t);
    }
    int known = 0;
    for (const std::string &t : texts) {
        std::vector<double> row;
        std::vector<std::int32_t> codes;
        ASSERT_TRUE(capturelines::values(t.data(), t.data() + t.size(), row, &codes)) << t;
        ASSERT_EQ(codes.size(), 1u) << t;
        if (std::isnan(row[0])) {
            EXPECT_EQ(codes[0], 0) << t;
        } else if (codes[0] != capturelines::unknownCode) {
            ++known;
            EXPECT_EQ(codes[0], valueCode(row[0]).value_or(none)) << t;
        } else {
            // Only a text too long to read at once leaves a code to find.
            EXPECT_TRUE(std::ranges::count_if(t, [](char c) { return c >= '0' && c <= '9'; }) >
                            15 ||
                        !valueCode(row[0]))
                << t;
        }
    }
    // Most texts of up to 8 digits are coded while read.
    EXPECT_GT(known, 50000);
}

} // namespace
