// Text conversions of the bus: sexagesimal and decimal parsing (in the C and a German locale),
// sexagesimal printing with its per-thread rotating buffers, and the number text.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Switches to `name`; a German locale the machine lacks is compiled into a private directory
// (glibc reads LOCPATH at every setlocale), so the decimal comma is always tried.
bool useLocale(const std::string& name) {
    if (std::setlocale(LC_ALL, name.c_str())) return true;
    auto dir =
        std::filesystem::temp_directory_path() / ("solvan-locale-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.utf8").string() + "' >/dev/null 2>&1";
    if (!std::filesystem::exists(dir / "de_DE.utf8") && std::system(command.c_str()) != 0)
        return false;
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_ALL, name.c_str()) != nullptr;
}

class TextUtilities : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        previous = std::setlocale(LC_ALL, nullptr);
        if (!useLocale(GetParam())) GTEST_SKIP() << GetParam() << " cannot be made";
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        ASSERT_STREQ(probe, german() ? "2,5" : "2.5");
    }
    void TearDown() override { std::setlocale(LC_ALL, previous.c_str()); }
    bool german() const { return std::string(GetParam()) != "C"; }
    std::string previous;
};

TEST_P(TextUtilities, ParsesSexagesimalAndDecimalTexts) {
    const std::pair<const char*, double> sexagesimal[] = {
        {"12:30:36", 12.51},
        {"12*30", 12.5},
        {"-12:30", -12.5},
        {"7.5", 7.5},
        {"10,25", 10.25},
        {"-0:30", -0.5},
        {"-0:30:00", -0.5},
        {"12'30'36", 12.51},
        {"5\xDF"
         "30",
         5.5},
        {" -1:00:36", -1.01},
        {"", 0},
    };
    for (auto [text, value] : sexagesimal)
        EXPECT_DOUBLE_EQ(solvan_stod(text), value) << text;
    const std::pair<const char*, double> decimal[] = {
        {"e3", 1000}, {"  -2.5e2", -250}, {"+3,75", 3.75}, {"1E-2", 0.01}, {"abc", 0},
        {"0.1", 0.1}, {"12x", 12},        {"-", 0},        {"42.", 42},    {"1e+2", 100},
    };
    for (auto [text, value] : decimal)
        EXPECT_DOUBLE_EQ(solvan_atod(text), value) << text;
}

TEST_P(TextUtilities, PrintsSexagesimalAndNumberTexts) {
    const struct {
        double value;
        const char* format;
        const char* text;
    } cases[] = {
        {1.5, nullptr, "1:30:00.00"},
        {-1.5, nullptr, "-1:30:00.00"},
        {12.515625, nullptr, "12:30:56.25"},
        {12.51, nullptr, "12:30:35.99"},  // seconds are cut, not rounded
        {-1.5, "%+03d:%02d:%02d", "-01:30:00"},
        {1.5, "%+03d:%02d:%02d", "+01:30:00"},
        {-2.25, "%d %02d %04.1f", "-2 15 00.0"},
        // Beyond an int: whole degrees in full, or saturated where a format takes an int.
        {3e9, nullptr, "3000000000:00:00.00"},
        {-3e9 - 0.5, nullptr, "-3000000000:30:00.00"},
        {1e19, nullptr, "10000000000000000000:00:00.00"},
        {3e9, "%d %02d %02d", "2147483647 00 00"},
        {NAN, nullptr, "nan"},
        {-NAN, "%d:%02d:%02d", "nan"},
        {INFINITY, nullptr, "inf"},
        {-INFINITY, "%+03d:%02d:%02d", "-inf"},
    };
    // Sexagesimal seconds carry the locale's decimal mark, which solvan_stod reads back.
    for (auto c : cases) {
        std::string text = solvan_dtos(c.value, c.format);
        EXPECT_EQ(text.find(german() ? '.' : ','), std::string::npos);
        std::replace(text.begin(), text.end(), ',', '.');
        EXPECT_EQ(text, c.text) << c.value;
    }
    EXPECT_DOUBLE_EQ(solvan_stod(solvan_dtos(-12.515625, nullptr)), -12.515625);
    char buffer[32];  // the number text has a "." whatever the locale
    EXPECT_STREQ(solvan_dtoa(buffer, -1234567.125), "-1234567.125");
}

TEST_P(TextUtilities, SexagesimalTextReadsBackAsItsValue) {
    // Whole degrees of more than 117 digits leave no room for the minutes and seconds in the
    // 127 characters: they are written in exponent form. nullptr: only the reading back counts.
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1e200, "1e+200:00:00.00"},
        {-1e200, "-1e+200:00:00.00"},
        {DBL_MAX, "1.7976931348623157e+308:00:00.00"},
        {-DBL_MAX, "-1.7976931348623157e+308:00:00.00"},
        {1e117, "1e+117:00:00.00"},  // 118 digits
        {-2.5e150, "-2.5e+150:00:00.00"},
        {9.999999999999999e116, nullptr},  // 117 digits: in full, as the negative one
        {-9.999999999999999e116, nullptr},
        {1e20, "100000000000000000000:00:00.00"},
        {-1e20, "-100000000000000000000:00:00.00"},
        {3e9, "3000000000:00:00.00"},
        {12.51, "12:30:35.99"},
        {-0.5, "-0:30:00.00"},
        {0.1, "0:06:00.00"},
        {1e-9, "0:00:00.00"},
        {359.99999, nullptr},
        {-1234.5678, nullptr},
        {4503599627370495.5, nullptr},  // the largest value with a half
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.value);
        std::string text = solvan_dtos(c.value, nullptr);
        EXPECT_LE(text.size(), 127u);
        EXPECT_NEAR(solvan_stod(text.c_str()), c.value, 0.01 / 3600);
        std::replace(text.begin(), text.end(), ',', '.');
        if (c.text)
            EXPECT_EQ(text, c.text);
        else
            EXPECT_EQ(text.find('e'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, TextUtilities, ::testing::Values("C", "de_DE.UTF-8"));

TEST(TextUtilitiesRotation, AResultSurvivesThreeCallsAndThreadsNeverShareABuffer) {
    const char* first = solvan_dtos(1, nullptr);
    const char* kept[3];
    for (auto& k : kept)
        k = solvan_dtos(2, nullptr);
    EXPECT_STREQ(first, "1:00:00.00");
    for (auto k : kept)
        EXPECT_NE(k, first);
    EXPECT_EQ(solvan_dtos(3, nullptr), first);  // the fifth call reuses the first buffer

    // Each thread checks its own results; under the thread sanitizer a shared buffer is a race.
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 2000; ++i) {
                const char* text = solvan_dtos(t + 0.5, nullptr);
                if (std::to_string(t) + ":30:00.00" != text || solvan_stod(text) != t + 0.5)
                    wrong[t]++;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
