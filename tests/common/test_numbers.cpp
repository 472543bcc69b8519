// Number conversions and the process-wide decimal separator.
#include "common/Errors.h"
#include "common/Numbers.h"

#include <gtest/gtest.h>

#include <utility>

namespace {
struct SeparatorGuard {
    explicit SeparatorGuard(char c) { SetDecimalSeparator(c); }
    ~SeparatorGuard() { SetDecimalSeparator('.'); }
};
} // namespace

TEST(Numbers, DecimalTextFollowsTheSeparator) {
    EXPECT_EQ(DecimalSeparator(), '.');
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(" 18.5 ", v));
    EXPECT_DOUBLE_EQ(v, 18.5);
    EXPECT_FALSE(TryStrToFloat("18,5", v));
    EXPECT_FALSE(TryStrToFloatFromDevice("18,5", v));
    EXPECT_EQ(FormatFixed(157.0784, 2), "157.08");
    EXPECT_EQ(FloatToStr(-0.01), "-0.01");
    {
        SeparatorGuard comma(',');
        EXPECT_TRUE(TryStrToFloat("18,5", v));
        EXPECT_DOUBLE_EQ(v, 18.5);
        EXPECT_FALSE(TryStrToFloat("18.5", v));
        EXPECT_EQ(FormatFixed(2.5, 2), "2,50");
        EXPECT_EQ(FloatToStr(0.25), "0,25");
        // An instrument writes a full stop whatever the workstation says.
        EXPECT_TRUE(TryStrToFloatFromDevice("18.25", v));
        EXPECT_DOUBLE_EQ(v, 18.25);
        EXPECT_TRUE(TryStrToFloatFromDevice("18,5", v));
        EXPECT_DOUBLE_EQ(v, 18.5);
        EXPECT_EQ(FormatFixedPoint(2.5, 2), "2.50");
    }
    // Numbers of a job trace file: a full stop or a comma, whichever separator the user has.
    for (const char separator : {'.', ','}) {
        SeparatorGuard users(separator);
        for (const auto& [text, ok] : {std::pair{"19.5", true}, {"19,5", true}, {"19;5", false}, {"1,2.5", false}}) {
            v = 0;
            EXPECT_EQ(TryStrToFloatPointOrComma(text, v), ok) << separator << text;
            if (ok) {
                EXPECT_DOUBLE_EQ(v, 19.5);
            }
        }
    }
}

TEST(Numbers, FloatTextShapes) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {{"18", true, 18},    {"-2.25", true, -2.25}, {"+3", true, 3},   {"1e2", true, 100},
                          {".5", true, 0.5},   {"5.", true, 5},        {"", false, 0},    {"abc", false, 0},
                          {"1.2.3", false, 0}, {"1e", false, 0},       {"1 2", false, 0}, {"1e999", false, 0},
                          {"-", false, 0},     {"0x10", false, 0},     {"nan", false, 0}, {"inf", false, 0}};
    for (const Case& c : cases) {
        double v = -1;
        EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
}

TEST(Numbers, IntegerTextShapes) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {{"2479", true, 2479},
                          {" 950", true, 950},
                          {"-007", true, -7},
                          {"+12", true, 12},
                          {"0000", true, 0},
                          {"2147483647", true, 2147483647},
                          {"-2147483648", true, INT32_MIN},
                          {"2147483648", false, 0},
                          {"12 3", false, 0},
                          {"12 ", false, 0},
                          {"", false, 0},
                          {"  ", false, 0},
                          {"-", false, 0},
                          {"1a", false, 0},
                          {"$10", false, 0}};
    for (const Case& c : cases) {
        int32_t v = -1;
        EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    try {
        StrToInt("12x4");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'12x4' is not a valid integer value");
    }
}

TEST(Numbers, TruncHundredthsIsExactForTwoDecimalTexts) {
    // Every text with two decimals up to 999.99 gives its own hundredths; more decimals truncate.
    for (int i = 0; i < 100000; ++i) {
        const std::string text = std::to_string(i / 100) + "." + (i % 100 < 10 ? "0" : "") + std::to_string(i % 100);
        double v = 0;
        ASSERT_TRUE(TryStrToFloat(text, v));
        ASSERT_EQ(TruncHundredths(v), i) << text;
    }
    EXPECT_EQ(TruncHundredths(18.005), 1800);
    EXPECT_EQ(TruncHundredths(18.009999), 1800);
    EXPECT_EQ(TruncHundredths(-0.019), -1);
    EXPECT_EQ(TruncHundredths(0), 0);
    EXPECT_EQ(TruncHundredths(1e30), INT64_MAX);
    EXPECT_EQ(TruncHundredths(-1e30), INT64_MIN);
}
