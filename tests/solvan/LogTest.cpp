// The logger: the standard-error line format, levels, line splitting, the program name, the
// hook, the length limit, eight threads at once, messages after the exit handler, the clock.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Redirects file descriptor 2 into a temporary file until finish() or destruction.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() { finish(); }

    // Restores standard error and returns everything written to it meanwhile.
    std::string finish() {
        if (!file_) return text_;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
            text_.append(chunk, n);
        std::fclose(file_);
        file_ = nullptr;
        return text_;
    }

  private:
    int saved_ = -1;
    FILE* file_ = nullptr;
    std::string text_;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "HH:MM:SS.uuuuuu name: text"
const std::regex lineFormat(R"(^([0-2]\d):([0-5]\d):([0-6]\d)\.(\d{6}) ([^:]+): (.*)$)");

class Log : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        solvan_set_log_level(SOLVAN_LOG_ERROR);
        solvan_log_message_handler = nullptr;
        solvan_use_syslog = false;
        solvan_main_argc = 0;
        solvan_main_argv = nullptr;
        solvan_program_name[0] = '\0';
    }
};

std::vector<std::string> hookCalls;
void hook(const char* message) {
    hookCalls.emplace_back(message);
}

TEST_F(Log, LineCarriesTimeMicrosecondsProgramNameAndText) {
    StderrCapture capture;
    const std::time_t before = std::time(nullptr);
    solvan_error("hello %d", 5);
    const std::vector<std::string> lines = splitLines(capture.finish());
    ASSERT_EQ(lines.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, lineFormat)) << lines[0];
    EXPECT_EQ(m[5], "Application");
    EXPECT_EQ(m[6], "hello 5");
    // The stamp is local wall-clock time.
    std::tm local{};
    localtime_r(&before, &local);
    const int stamped = std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]);
    const int now = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((stamped - now + 86400) % 86400, 2);
}

struct LevelCase {
    uint32_t level;
    const char* expected;  // which of error, log, debug, trace print
};

TEST_F(Log, LevelDecidesWhichRoutinesPrint) {
    for (LevelCase c :
         {LevelCase{0, "E"}, LevelCase{1, "EL"}, LevelCase{2, "ELD"}, LevelCase{3, "ELDT"},
          LevelCase{7, "ELDT"}, LevelCase{0xFFFFFFFFu, "ELDT"}}) {
        SCOPED_TRACE(c.level);
        solvan_set_log_level(c.level);
        EXPECT_EQ(solvan_get_log_level(), c.level);
        StderrCapture capture;
        solvan_error("E");
        solvan_log("L");
        solvan_debug("D");
        solvan_trace("T");
        std::string printed;
        for (const std::string& line : splitLines(capture.finish())) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, lineFormat)) << line;
            printed += m[6];
        }
        EXPECT_EQ(printed, c.expected);
    }
}

TEST_F(Log, EachLineOfAMessageIsItsOwnLineAndEmptyLinesAreDropped) {
    StderrCapture capture;
    solvan_error("a\n\nb\n");
    const std::vector<std::string> lines = splitLines(capture.finish());
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, lineFormat));
    EXPECT_EQ(m[6], "a");
    ASSERT_TRUE(std::regex_match(lines[1], m, lineFormat));
    EXPECT_EQ(m[6], "b");
    EXPECT_EQ(m[5], "Application");
}

TEST_F(Log, ProgramNameIsTheLastPathComponentOfArgumentZeroComputedOnce) {
    struct Case {
        int argc;
        const char* argv0;
        const char* name;
    };
    for (Case c :
         {Case{0, "/usr/local/bin/tool", "Application"}, Case{1, "/usr/local/bin/tool", "tool"},
          Case{1, "plain", "plain"}, Case{2, "relative/dir/quasel", "quasel"}}) {
        const char* argv[] = {c.argv0, nullptr};
        solvan_main_argc = c.argc;
        solvan_main_argv = argv;
        solvan_program_name[0] = '\0';
        StderrCapture capture;
        solvan_error("x");
        solvan_main_argv = nullptr;  // no longer read once the name is known
        solvan_main_argc = 0;
        solvan_error("y");
        const std::vector<std::string> lines = splitLines(capture.finish());
        ASSERT_EQ(lines.size(), 2u);
        for (const std::string& line : lines) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, lineFormat)) << line;
            EXPECT_EQ(m[5], c.name);
        }
    }
}

TEST_F(Log, HookReceivesTheWholeMessageOnceInsteadOfStandardError) {
    hookCalls.clear();
    solvan_log_message_handler = hook;
    solvan_use_syslog = true;  // the hook wins over syslog too
    StderrCapture capture;
    solvan_error("first %s\nsecond", "line");
    EXPECT_EQ(capture.finish(), "");
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0], "first line\nsecond");
}

TEST_F(Log, SyslogTakesTheMessageInsteadOfStandardError) {
    solvan_use_syslog = true;
    StderrCapture capture;
    solvan_error("to the system log\nsecond line");
    EXPECT_EQ(capture.finish(), "");
}

TEST_F(Log, LongMessagesAreCutAt131071Characters) {
    hookCalls.clear();
    solvan_log_message_handler = hook;
    const std::string big(200000, 'x');
    solvan_error("%s", big.c_str());
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0].size(), 131071u);
}

TEST_F(Log, EightThreadsNeverMixWithinALineNorBetweenTheLinesOfAMessage) {
    constexpr int threads = 8, messages = 150;
    StderrCapture capture;
    std::atomic<bool> done{false};
    // The level changes all the while; solvan_error prints at every level.
    std::thread toggler([&] {
        for (uint32_t i = 0; !done; ++i)
            solvan_set_log_level(i % 4);
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            const std::string payload(300, char('a' + t));
            for (int i = 0; i < messages; ++i)
                solvan_error("thread %d message %d %s\nthread %d continued %d", t, i,
                             payload.c_str(), t, i);
        });
    for (std::thread& w : workers)
        w.join();
    done = true;
    toggler.join();
    const std::vector<std::string> lines = splitLines(capture.finish());
    ASSERT_EQ(lines.size(), size_t(threads * messages * 2));
    std::map<int, int> next;  // per thread, the next message number expected
    const std::regex first(R"(^thread (\d) message (\d+) ([a-z]+)$)");
    const std::regex second(R"(^thread (\d) continued (\d+)$)");
    for (size_t k = 0; k < lines.size(); k += 2) {
        std::smatch m1, m2, t1, t2;
        ASSERT_TRUE(std::regex_match(lines[k], m1, lineFormat)) << lines[k];
        ASSERT_TRUE(std::regex_match(lines[k + 1], m2, lineFormat)) << lines[k + 1];
        const std::string text1 = m1[6], text2 = m2[6];
        ASSERT_TRUE(std::regex_match(text1, t1, first)) << text1;
        ASSERT_TRUE(std::regex_match(text2, t2, second)) << text2;
        const int thread = std::stoi(t1[1]), number = std::stoi(t1[2]);
        EXPECT_EQ(t1[3], std::string(300, char('a' + thread)));
        EXPECT_EQ(std::stoi(t2[1]), thread);
        EXPECT_EQ(std::stoi(t2[2]), number);
        EXPECT_EQ(number, next[thread]++);
    }
}

void logAfterExitHandlers() {
    solvan_error("late message %d", 7);
}

TEST_F(Log, MessagesAfterTheBufferIsFreedAtExitStillPrint) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // atexit runs handlers in reverse order: the late logger, registered before the first
    // message, runs after the logger has freed its buffer.
    EXPECT_EXIT(
        {
            std::atexit(logAfterExitHandlers);
            solvan_error("first message");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "first message\n.*late message 7");
}

TEST_F(Log, GetTimeReadsTheWallClockInMicroseconds) {
    solvan_timespec t{-1, -1};
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(solvan_gettime(0, &t), 0);
    EXPECT_GE(t.tv_sec, int64_t(before));
    EXPECT_LE(t.tv_sec, int64_t(before) + 2);
    EXPECT_GE(t.tv_nsec, 0);
    EXPECT_LT(t.tv_nsec, 1000000000);
    EXPECT_EQ(t.tv_nsec % 1000, 0);
    EXPECT_EQ(solvan_gettime(0, nullptr), -1);
}

}  // namespace
