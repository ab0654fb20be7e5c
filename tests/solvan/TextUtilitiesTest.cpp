// Text conversions of the bus: sexagesimal and decimal parsing (in the C and a German locale),
// sexagesimal printing with its per-thread rotating buffers, and the number text.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

struct Parse {
    const char* text;
    double value;
};

const Parse sexagesimal[] = {
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

const Parse decimal[] = {
    {"e3", 1000},           {"  -2.5e2", -250}, {"+3,75", 3.75}, {"1E-2", 0.01}, {"abc", 0},
    {"0.1", 0.1},           {"12x", 12},        {"-", 0},        {"42.", 42},    {"1e+2", 100},
    {"0.000123", 0.000123},
};

// Switches to `name`; a German locale the machine lacks is compiled into a private directory
// (glibc reads LOCPATH at every setlocale), so the decimal comma is always tried.
bool useLocale(const std::string& name) {
    if (std::setlocale(LC_ALL, name.c_str())) return true;
    if (name != "de_DE.UTF-8") return false;
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
        if (!useLocale(GetParam())) {
            GTEST_SKIP() << GetParam() << " cannot be made";
        }
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 2.5);
        if (std::string(GetParam()) != "C") {
            ASSERT_STREQ(probe, "2,5");
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, previous.c_str()); }
    std::string previous;
};

TEST_P(TextUtilities, ParsesSexagesimalAndDecimalTexts) {
    for (auto c : sexagesimal)
        EXPECT_DOUBLE_EQ(solvan_stod(c.text), c.value) << c.text;
    for (auto c : decimal)
        EXPECT_DOUBLE_EQ(solvan_atod(c.text), c.value) << c.text;
}

TEST_P(TextUtilities, PrintsSexagesimalAndNumberTexts) {
    struct Case {
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
    };
    // Sexagesimal seconds carry the locale's decimal mark, which solvan_stod reads back.
    for (auto c : cases) {
        std::string text = solvan_dtos(c.value, c.format);
        if (std::string(GetParam()) != "C") {
            EXPECT_EQ(text.find('.'), std::string::npos);
        }
        std::replace(text.begin(), text.end(), ',', '.');
        EXPECT_EQ(text, c.text) << c.value;
    }
    EXPECT_DOUBLE_EQ(solvan_stod(solvan_dtos(-12.515625, nullptr)), -12.515625);
    // The number text has a "." whatever the locale.
    char buffer[32];
    EXPECT_STREQ(solvan_dtoa(buffer, 2.5), "2.5");
    EXPECT_STREQ(solvan_dtoa(buffer, -1234567.125), "-1234567.125");
}

INSTANTIATE_TEST_SUITE_P(Locales, TextUtilities, ::testing::Values("C", "de_DE.UTF-8"));

TEST(TextUtilitiesRotation, FifthCallReusesTheFirstBuffer) {
    const char* first = solvan_dtos(1, nullptr);
    const char* kept[3];
    for (auto& k : kept)
        k = solvan_dtos(2, nullptr);
    EXPECT_STREQ(first, "1:00:00.00");  // survives three further calls
    for (auto k : kept)
        EXPECT_NE(k, first);
    EXPECT_EQ(solvan_dtos(3, nullptr), first);
    EXPECT_STREQ(first, "3:00:00.00");
}

TEST(TextUtilitiesRotation, ThreadsNeverShareABuffer) {
    // Each thread checks its own results; under the thread sanitizer a shared buffer is a race.
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 2000; ++i) {
                double value = t + 0.5;
                const char* text = solvan_dtos(value, nullptr);
                std::string expected = std::to_string(t) + ":30:00.00";
                if (expected != text || solvan_stod(text) != value) wrong[t]++;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
