// The argument helpers shared by both entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "arguments.h"

namespace {

std::string printf_15g(double value) {
    char text[64];
    snprintf(text, sizeof text, "%.15g", value);
    return text;
}

TEST(NumberTextTest, NamesNaNAndInfinities) {
    EXPECT_STREQ(number_text(std::numeric_limits<double>::quiet_NaN()).text, "NaN");
    EXPECT_STREQ(number_text(std::numeric_limits<double>::infinity()).text, "Inf");
    EXPECT_STREQ(number_text(-std::numeric_limits<double>::infinity()).text, "-Inf");
}

TEST(NumberTextTest, WritesWhatPrintfWritesWithFifteenDigits) {
    const double values[] = {0.0, -0.0 + 0.0, 1.0, -1.0, 0.5, -0.5, 0.1, 13.9, 2.9, 7.0, 10.0,
                             100.0, 2147483647.0, 2147483648.0, -2147483649.0, 3e9, 1e15,
                             123456789012345.0, 1234567890123456.0, 1e300, -1e-300, 1e-5,
                             0.0001, 0.00012345, 5e-324, 1.7976931348623157e308, 65536.0,
                             0.25, 1.0 / 3.0, 2.0 / 3.0, 99999.99999999999, 9.999999999999999};
    for (double value : values) EXPECT_EQ(number_text(value).text, printf_15g(value)) << value;
}

TEST(NumberTextTest, RandomValuesReadBackWithinTheFifteenthDigit) {
    std::mt19937_64 generator(7);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    for (int trial = 0; trial < 20000; ++trial) {
        const double value = mantissa(generator) * std::pow(10.0, exponent(generator));
        const double back = std::strtod(number_text(value).text, nullptr);
        EXPECT_LE(std::fabs(back - value), 1e-14 * std::fabs(value))
            << number_text(value).text << " for " << printf_15g(value);
    }
}

// The host sets the x87 precision control (Linux hosts at 64 bits, Windows
// hosts at 53): the message digits are the same under each setting, and
// the host's setting is back afterwards.
TEST(NumberTextTest, DigitsDoNotDependOnTheHostsX87Precision) {
    const auto control_word = [] {
        uint16_t word;
        __asm__ volatile("fnstcw %0" : "=m"(word));
        return word;
    };
    const auto set_control_word = [](uint16_t word) { __asm__ volatile("fldcw %0" : : "m"(word)); };
    const uint16_t saved = control_word();
    // Values whose digits the rounding of a 53-bit unit changes, and others.
    const double values[] = {29.186466052722249, 26.993950415948049, -8.896576807156027e+65,
                             2.6317500308555149e+248, 3.9361622782974949e+69, 0.1, 2147483648.0,
                             1e300, 12.345678901234567};
    for (const uint16_t precision : {0x000, 0x200, 0x300}) {
        set_control_word(static_cast<uint16_t>((saved & ~0x300) | precision));
        for (double value : values) {
            const NumberText text = number_text(value);
            const uint16_t after = control_word();
            set_control_word(saved);
            EXPECT_STREQ(text.text, number_text(value).text) << "precision field " << (precision >> 8);
            EXPECT_EQ(after, static_cast<uint16_t>((saved & ~0x300) | precision));
            set_control_word(static_cast<uint16_t>((saved & ~0x300) | precision));
        }
    }
    set_control_word(saved);
}

}  // namespace
