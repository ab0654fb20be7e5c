// The logger: the standard-error line format, levels, line splitting, the program name, the
// hook, the length limit, eight threads at once, messages after the exit handler, the clock.
#include "solvan_bus.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
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

// One standard-error line, "HH:MM:SS.uuuuuu name: text", taken apart.
struct LogLine {
    int hours, minutes, seconds, micros;
    std::string name, text;
};

// The parts of `line`, or nothing when it does not have the line format.
std::optional<LogLine> parseLine(const std::string& line) {
    // Time stamp: exactly "dd:dd:dd.dddddd " (16 characters).
    if (line.size() < 16) return std::nullopt;
    for (size_t i = 0; i < 15; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i]));
        const char separator = i == 2 || i == 5 ? ':' : i == 8 ? '.' : 0;
        if (separator ? line[i] != separator : !digit) return std::nullopt;
    }
    if (line[15] != ' ') return std::nullopt;
    LogLine l;
    l.hours = std::stoi(line.substr(0, 2));
    l.minutes = std::stoi(line.substr(3, 2));
    l.seconds = std::stoi(line.substr(6, 2));
    l.micros = std::stoi(line.substr(9, 6));
    if (l.hours > 23 || l.minutes > 59 || l.seconds > 60) return std::nullopt;
    const size_t colon = line.find(": ", 16);
    if (colon == std::string::npos || colon == 16) return std::nullopt;
    l.name = line.substr(16, colon - 16);
    l.text = line.substr(colon + 2);
    return l;
}

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
    const std::optional<LogLine> m = parseLine(lines[0]);
    ASSERT_TRUE(m) << lines[0];
    EXPECT_EQ(m->name, "Application");
    EXPECT_EQ(m->text, "hello 5");
    // The stamp is local wall-clock time.
    std::tm local{};
    localtime_r(&before, &local);
    const int stamped = m->hours * 3600 + m->minutes * 60 + m->seconds;
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
            const std::optional<LogLine> m = parseLine(line);
            ASSERT_TRUE(m) << line;
            printed += m->text;
        }
        EXPECT_EQ(printed, c.expected);
    }
}

TEST_F(Log, EachLineOfAMessageIsItsOwnLineAndEmptyLinesAreDropped) {
    StderrCapture capture;
    solvan_error("a\n\nb\n");
    const std::vector<std::string> lines = splitLines(capture.finish());
    ASSERT_EQ(lines.size(), 2u);
    const std::optional<LogLine> a = parseLine(lines[0]), b = parseLine(lines[1]);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->text, "a");
    EXPECT_EQ(b->text, "b");
    EXPECT_EQ(a->name, "Application");
    EXPECT_EQ(b->name, "Application");
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
            const std::optional<LogLine> m = parseLine(line);
            ASSERT_TRUE(m) << line;
            EXPECT_EQ(m->name, c.name);
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
    for (size_t k = 0; k < lines.size(); k += 2) {
        const std::optional<LogLine> l1 = parseLine(lines[k]), l2 = parseLine(lines[k + 1]);
        ASSERT_TRUE(l1) << lines[k];
        ASSERT_TRUE(l2) << lines[k + 1];
        // "thread T message N PAYLOAD" followed at once by "thread T continued N".
        int thread = -1, number = -1, thread2 = -1, number2 = -1, used = 0;
        ASSERT_EQ(std::sscanf(l1->text.c_str(), "thread %d message %d %n", &thread, &number, &used),
                  2)
            << l1->text;
        ASSERT_TRUE(thread >= 0 && thread < threads);
        EXPECT_EQ(l1->text.substr(size_t(used)), std::string(300, char('a' + thread)));
        ASSERT_EQ(std::sscanf(l2->text.c_str(), "thread %d continued %d", &thread2, &number2), 2)
            << l2->text;
        EXPECT_EQ(thread2, thread);
        EXPECT_EQ(number2, number);
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

void exitFromHook(const char*) {
    std::exit(3);
}

TEST_F(Log, AHookThatEndsTheProgramDoesNotHangTheExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The hook runs under the logger's lock; the exit handler must not wait for that lock.
    EXPECT_EXIT(
        {
            alarm(10);  // a hang ends as SIGALRM, not as exit code 3
            solvan_log_message_handler = exitFromHook;
            solvan_error("fatal");
        },
        ::testing::ExitedWithCode(3), "");
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
