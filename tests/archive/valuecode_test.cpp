// The stored code of a reading, against codes worked out by hand from the
// decimal text (mantissa * 64 + exponent + 32): a wrong digit, exponent or
// edge of the code's range would change what the database reads back.
#include "archive/valuecode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::int32_t none = std::numeric_limits<std::int32_t>::min();

TEST(ValueCode, HardCasesGiveTheCodeOfTheShortestDecimal)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        std::int32_t code;
    } cases[] = {
        {0.0, 32},
        {-0.0, none},
        {1, 96},
        {100, 98},
        {0.5, 351},
        {0.1, 95},
        {0.3, 223},
        {0.1 + 0.2, none}, // 0.30000000000000004
        {23.45, 150110},
        {-23.45, -150050},
        {std::nextafter(23.45, 0.0), none},
        {std::nextafter(0.1, 1.0), none},
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
        {3.3554431, 2147483609},
        {33554432, none}, // 2^25
        {std::ldexp(1.0, -20), none}, // 9.5367431640625e-07
        {16777216.5, none},
        {std::numeric_limits<double>::denorm_min(), none},
        {-std::numeric_limits<double>::denorm_min(), none},
        {std::numeric_limits<double>::min(), none},
        {std::numeric_limits<double>::max(), none},
        {std::numeric_limits<double>::quiet_NaN(), none},
        {inf, none},
        {-inf, none},
    };
    for (const auto &c : cases) {
        const std::optional<std::int32_t> code = valueCode(c.value);
        EXPECT_EQ(code.value_or(none), c.code) << c.value;
        if (code) {
            EXPECT_EQ(codeValue(*code), c.value) << c.value;
        }
    }
}

} // namespace
