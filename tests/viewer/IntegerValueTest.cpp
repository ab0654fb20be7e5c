// Reading a text field's integer the platform's way: leading digits only.
#include "IntegerValue.h"

#include <gtest/gtest.h>

#include <limits>

TEST(IntegerValueTest, LeadingDigitsAfterBlanksAndASign) {
    const std::pair<QString, int64_t> cases[] = {
        {"1000", 1000}, {"  1000", 1000}, {"1000 ADU", 1000}, {"1,000", 1},
        {"+42", 42},    {"-42", -42},     {"007", 7},         {"", 0},
        {"--", 0},      {"N/A", 0},       {"x12", 0},         {"- 5", 0},
        {"12.9", 12},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(integerValueOfText(text), value) << text.toStdString();
}

TEST(IntegerValueTest, ValuesBeyondTheRangeStopAtItsLimits) {
    constexpr int64_t max = std::numeric_limits<int64_t>::max();
    constexpr int64_t min = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(integerValueOfText("9223372036854775807"), max);
    EXPECT_EQ(integerValueOfText("9223372036854775808"), max);
    EXPECT_EQ(integerValueOfText("99999999999999999999999"), max);
    EXPECT_EQ(integerValueOfText("-9223372036854775808"), min);
    EXPECT_EQ(integerValueOfText("-99999999999999999999999"), min);
}
