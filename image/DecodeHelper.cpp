#include "DecodeHelper.h"

#include "solvan_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kProgram = "quasel-decode";
// Address space every helper may use besides its pixels: the program with CFITSIO, LibRaw and
// their libraries, LibRaw's worker-thread stacks, allocator slack.
constexpr uint64_t kAddressMargin = uint64_t(256) << 20;
// The file descriptors the helper finds its report pipe, input and output on.
constexpr int kReportFd = 3, kInputFd = 4, kOutputFd = 5;

std::atomic<bool> isolatedFlag{true};
std::mutex pathMutex;
std::string pathOverride;

// A file descriptor, closed with its owner.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// A shared mapping of a memfd; unmapped with its owner.
class Mapping {
  public:
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (address_) munmap(address_, size_);
    }
    // Maps `size` bytes of `fd` for reading and writing; false when it cannot.
    bool map(int fd, size_t size) {
        void* a = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (a == MAP_FAILED) return false;
        address_ = a;
        size_ = size;
        return true;
    }
    uint8_t* data() const { return static_cast<uint8_t*>(address_); }

  private:
    void* address_ = nullptr;  // start of the mapping, or nullptr
    size_t size_ = 0;          // bytes mapped
};

// A bitmap whose pixel memory is the helper's output mapping, kept for the bitmap's life.
class MappedBitmapImageRep : public BitmapImageRep {
  public:
    Mapping mapping;  // the helper's output
};

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string executableFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A memfd holding `bytes`, moved to a descriptor number of 10 or more so that the child's
// dup2 onto 3, 4 and 5 never overwrites a descriptor it has still to duplicate.
int memfdWith(const char* name, const QByteArray& bytes) {
    Fd fd(memfd_create(name, MFD_CLOEXEC));
    if (fd.get() < 0) return -1;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        left -= n;
    }
    return fcntl(fd.get(), F_DUPFD_CLOEXEC, 10);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// Limits of one helper run.
struct Limits {
    uint64_t addressSpace;  // RLIMIT_AS in bytes
    int cpuSeconds;         // RLIMIT_CPU in seconds
    int deadlineMs;         // wall-clock time after which the parent kills the helper
};

// Limits for a decode expected to touch `pixelBytes` of pixel memory and `inputBytes` of file:
// four times the pixels plus the margin, a second of CPU plus one per 16 MiB, and twice that
// (plus a second) of wall-clock time for a machine under load.
Limits limitsFor(uint64_t pixelBytes, uint64_t inputBytes) {
    Limits l;
    l.addressSpace = kAddressMargin + inputBytes + 4 * pixelBytes;
    l.cpuSeconds = int(1 + (pixelBytes >> 24));
    l.deadlineMs = (2 * l.cpuSeconds + 1) * 1000;
    return l;
}

// What one run of the helper gave.
struct Run {
    std::string report;   // the helper's report line without its line end; empty if none
    std::string failure;  // why the run failed, for the log; empty when it ended cleanly
};

Run runHelper(const char* kind, const std::vector<std::string>& extraArgs, int inputFd,
              int outputFd, const Limits& limits) {
    Run run;
    const std::string program = DecodeHelper::path();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.failure = "cannot make a pipe: " + errnoText(errno);
        return run;
    }
    Fd readEnd(pipeFds[0]);
    Fd writeEnd(fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 10));
    ::close(pipeFds[1]);

    std::vector<std::string> args{program, kind, std::to_string(limits.cpuSeconds),
                                  std::to_string(limits.addressSpace)};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // LibRaw's OpenMP workers wait passively: spinning at the end of each parallel part only
    // burns the helper's CPU allowance (and the cores the viewer needs).
    std::vector<char*> envp;
    std::string waitPolicy = "OMP_WAIT_POLICY=passive";
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "OMP_WAIT_POLICY=", 16) != 0) envp.push_back(*e);
    envp.push_back(waitPolicy.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), kReportFd);
    posix_spawn_file_actions_adddup2(&actions, inputFd, kInputFd);
    posix_spawn_file_actions_adddup2(&actions, outputFd, kOutputFd);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    // Whatever else this process has open without close-on-exec stays out of the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, kOutputFd + 1);
#endif
    // Signals the parent ignores or blocks would stay so across exec; SIGXCPU must not.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawnError =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    if (spawnError != 0) {
        run.failure = "cannot start " + program + ": " + errnoText(spawnError);
        return run;
    }

    // The report pipe reaches end of file when the helper has gone, however it ended.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.deadlineMs);
    std::string received;
    bool timedOut = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{readEnd.get(), POLLIN, 0};
        const int ready = poll(&p, 1, int(left));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char buffer[512];
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (received.size() < 4096) received.append(buffer, size_t(n));
    }
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    run.report = received.substr(0, received.find('\n'));

    if (timedOut) {
        run.failure = "did not finish within " + std::to_string(limits.deadlineMs / 1000) +
                      " s and was stopped";
    } else if (waited < 0) {
        // Reaped by someone else (SIGCHLD ignored): the report alone tells.
        if (run.report.empty()) run.failure = "ended without a report";
    } else if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        if (sig == SIGXCPU || sig == SIGKILL)
            run.failure = "exceeded its CPU time limit of " + std::to_string(limits.cpuSeconds) +
                          " s (signal " + std::to_string(sig) + ")";
        else
            run.failure = "crashed (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && run.report.empty()) {
        run.failure = "exited with status " + std::to_string(WEXITSTATUS(status));
    } else if (run.report.empty()) {
        run.failure = "ended without a report";
    }
    return run;
}

// The first word of a report line, and the rest.
std::pair<std::string, std::string> splitReport(const std::string& report) {
    const size_t space = report.find(' ');
    if (space == std::string::npos) return {report, {}};
    return {report.substr(0, space), report.substr(space + 1)};
}

// The reason a report that is not "ok" gives, for the log; empty for "unreadable", which is
// the ordinary answer for bytes that are not the helper's kind of file.
std::string reportFailure(const std::string& report) {
    const auto [word, rest] = splitReport(report);
    if (word == "memory") return "exceeded its memory limit (" + rest + ")";
    if (word == "broken") return "found the data broken (" + rest + ")";
    if (word == "unreadable") return {};
    return "gave an unexpected report \"" + report + "\"";
}

void logFailure(const std::string& what, const std::string& reason) {
    solvan_error("%s: %s gets no picture: the helper %s", kProgram, what.c_str(), reason.c_str());
}

}  // namespace

bool DecodeHelper::isolated() {
    return isolatedFlag.load();
}

void DecodeHelper::setIsolated(bool isolated) {
    isolatedFlag.store(isolated);
}

void DecodeHelper::setPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(pathMutex);
    pathOverride = path;
}

std::string DecodeHelper::path() {
    {
        std::lock_guard<std::mutex> lock(pathMutex);
        if (!pathOverride.empty()) return pathOverride;
    }
    const std::string beside = executableFolder() + "/" + kProgram;
    for (const std::string& candidate : {beside, std::string(QUASEL_DECODE_BUILD_PATH),
                                         std::string(QUASEL_INSTALL_BINDIR) + "/" + kProgram})
        if (isExecutableFile(candidate)) return candidate;
    return beside;
}

bool DecodeHelper::readFitsPixels(const QByteArray& fileBytes, int hdu,
                                  const FitsPixelLayout& layout, uint8_t* out) {
    const std::string what = "HDU " + std::to_string(hdu) + " of a tile-compressed FITS file";
    const uint64_t bytes = uint64_t(layout.outputBytes());
    Fd input(memfdWith("quasel-decode-input", fileBytes));
    Fd output(memfd_create("quasel-decode-output", MFD_CLOEXEC));
    if (output.get() >= 0) output.reset(fcntl(output.get(), F_DUPFD_CLOEXEC, 10));
    Mapping mapping;
    if (input.get() < 0 || output.get() < 0 || ftruncate(output.get(), off_t(bytes)) != 0 ||
        !mapping.map(output.get(), bytes)) {
        logFailure(what, "could not be given its memory: " + errnoText(errno));
        return false;
    }
    const Limits limits =
        limitsFor(bytes + uint64_t(layout.scratchBytes()), uint64_t(fileBytes.size()));
    const Run run =
        runHelper("fits",
                  {std::to_string(hdu), std::to_string(layout.bitpix),
                   std::to_string(layout.channels), std::to_string(layout.planesPresent),
                   std::to_string(layout.width), std::to_string(layout.height)},
                  input.get(), output.get(), limits);
    if (!run.failure.empty()) {
        logFailure(what, run.failure);
        return false;
    }
    if (run.report != "ok") {
        const std::string reason = reportFailure(run.report);
        logFailure(what, reason.empty() ? "could not read it (" + run.report + ")" : reason);
        return false;
    }
    std::memcpy(out, mapping.data(), bytes);
    return true;
}

std::shared_ptr<BitmapImageRep> DecodeHelper::decodeCameraRaw(const QByteArray& bytes) {
    const std::string what = "camera RAW file";
    if (bytes.isEmpty()) return nullptr;
    Fd input(memfdWith("quasel-decode-input", bytes));
    Fd output(memfd_create("quasel-decode-output", MFD_CLOEXEC));
    if (output.get() >= 0) output.reset(fcntl(output.get(), F_DUPFD_CLOEXEC, 10));
    if (input.get() < 0 || output.get() < 0) {
        logFailure(what, "could not be given its memory: " + errnoText(errno));
        return nullptr;
    }
    // The picture's size is known only once the helper has read the header: it lowers its
    // address-space limit then. The parent's limits cover the largest picture the file may
    // hold (eight photosites per byte, about 26 bytes of decoder memory per photosite) and a
    // CPU second per 2 MiB on top of four.
    Limits limits;
    limits.addressSpace = kAddressMargin + uint64_t(bytes.size()) * (1 + 8 * 26);
    limits.cpuSeconds = int(4 + (bytes.size() >> 21));
    limits.deadlineMs = (2 * limits.cpuSeconds + 1) * 1000;
    const Run run = runHelper("raw", {}, input.get(), output.get(), limits);
    if (!run.failure.empty()) {
        logFailure(what, run.failure);
        return nullptr;
    }
    const auto [word, rest] = splitReport(run.report);
    if (word != "ok") {
        const std::string reason = reportFailure(run.report);
        if (!reason.empty()) logFailure(what, reason);
        return nullptr;
    }
    long long width = 0, height = 0;
    struct stat st;
    if (std::sscanf(rest.c_str(), "%lld %lld", &width, &height) != 2 || width <= 0 || height <= 0 ||
        width > (int64_t(1) << 20) || height > (int64_t(1) << 20) ||
        fstat(output.get(), &st) != 0 || uint64_t(st.st_size) < uint64_t(width) * height * 6) {
        logFailure(what, "gave an unexpected report \"" + run.report + "\"");
        return nullptr;
    }
    auto rep = std::make_shared<MappedBitmapImageRep>();
    const size_t size = size_t(width) * size_t(height) * 6;
    if (!rep->mapping.map(output.get(), size)) {
        logFailure(what, "output could not be mapped: " + errnoText(errno));
        return nullptr;
    }
    uint8_t* planes[1] = {rep->mapping.data()};
    if (!rep->describe(planes, width, height, 16, 3, false, false, ColorSpace::DeviceRGB, 0,
                       width * 6, 48, size))
        return nullptr;
    return rep;
}
