#include "DecodeHelper.h"

#include "solvan_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
// Seals of an output: its size is fixed, and the helper can add no seal of its own (one
// against writing would keep the parent from mapping it).
constexpr int kOutputSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

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

// `size` bytes of `fd` mapped shared for reading and writing; unmapped when the last owner
// lets go. nullptr when the mapping fails.
std::shared_ptr<uint8_t> mapShared(int fd, size_t size) {
    void* a = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (a == MAP_FAILED) return nullptr;
    return std::shared_ptr<uint8_t>(static_cast<uint8_t*>(a),
                                    [size](uint8_t* p) { munmap(p, size); });
}

// A bitmap whose pixel memory is the helper's output mapping, kept for the bitmap's life.
class MappedBitmapImageRep : public BitmapImageRep {
  public:
    std::shared_ptr<uint8_t> pixels;  // the helper's output, mapped
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

// A memfd that can be sealed, moved to a descriptor number of 10 or more so that the child's
// dup2 onto 3, 4 and 5 never overwrites a descriptor it has still to duplicate. -1 (errno set)
// when it cannot be made.
int sealableMemfd(const char* name) {
    Fd fd(memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING));
    return fd.get() < 0 ? -1 : fcntl(fd.get(), F_DUPFD_CLOEXEC, 10);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// The size of the memfd `fd` once sealed with kOutputSeals, or -1 when it cannot be sealed
// (the helper sealed it itself) or examined.
int64_t sealedSize(int fd) {
    struct stat st;
    if (fcntl(fd, F_ADD_SEALS, kOutputSeals) != 0 || fstat(fd, &st) != 0) return -1;
    return int64_t(st.st_size);
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
    std::string report;      // the helper's report line without its line end; empty if none
    std::string failure;     // why the run failed, for the log; empty when it ended cleanly
    bool outOfTime = false;  // it failed at its deadline or its CPU time limit
};

// True when the child `pid` has ended (or was reaped by someone else); it stays waitable.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
    return info.si_pid == pid;
}

// Appends what `fd` (non-blocking) has now to `received`, keeping at most 4 KiB. Returns false
// at end of file (or when it cannot be read).
bool readReport(int fd, std::string& received) {
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (received.size() < 4096) received.append(buffer, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;  // nothing more for now; else end of file or an error
    }
}

// CPU seconds that `usage` counts.
double cpuSeconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Whether a helper that `status` and `usage` describe was ended by its CPU time limit: the
// soft limit sends SIGXCPU, the hard one SIGKILL; a SIGKILL before the limit's CPU time is
// spent came from another process.
bool exceededCpuLimit(int status, const rusage& usage, const Limits& limits) {
    if (!WIFSIGNALED(status)) return false;
    const int sig = WTERMSIG(status);
    return sig == SIGXCPU || (sig == SIGKILL && cpuSeconds(usage) >= limits.cpuSeconds);
}

// Why a helper that `status` and `usage` describe, unstopped by the parent, gave no report.
std::string deathReason(int status, const rusage& usage, const Limits& limits) {
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) != 0)
            return "exited with status " + std::to_string(WEXITSTATUS(status));
        return "ended without a report";
    }
    const int sig = WTERMSIG(status);
    if (exceededCpuLimit(status, usage, limits))
        return "exceeded its CPU time limit of " + std::to_string(limits.cpuSeconds) +
               " s (signal " + std::to_string(sig) + ")";
    char spent[32];
    std::snprintf(spent, sizeof spent, "%.2f", cpuSeconds(usage));
    if (sig == SIGKILL)
        return "was killed from outside after " + std::string(spent) +
               " s of CPU time, below its limit (signal 9: the out-of-memory killer or a person)";
    return "crashed (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
}

// Runs the helper on `input` and `outputFd` under `limits`. The input is filled while the
// helper starts, which waits for the byte that says it is ready. Without an input (nullptr)
// the helper gets neither input nor output and reads nothing on descriptor 0. The run is
// stopped at once when `stopFd` (when not -1) becomes readable. The helper's environment is
// `environment` ("NAME=value" texts), or this process's when it is nullptr.
Run runHelper(const char* kind, const std::vector<std::string>& extraArgs,
              DecodeHelper::Input* input, int outputFd, const Limits& limits, int stopFd = -1,
              const std::vector<std::string>* environment = nullptr) {
    Run run;
    const int inputFd = input ? input->fd() : -1;
    int goFds[2] = {-1, -1};
    if (input && (inputFd < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, goFds) != 0)) {
        run.failure = "could not be given its memory: " + errnoText(errno);
        return run;
    }
    Fd go(goFds[0]);
    Fd goHelperEnd(input ? fcntl(goFds[1], F_DUPFD_CLOEXEC, 10) : -1);
    if (input) ::close(goFds[1]);
    const std::string program = DecodeHelper::path();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.failure = "cannot make a pipe: " + errnoText(errno);
        return run;
    }
    Fd readEnd(pipeFds[0]);
    Fd writeEnd(fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 10));
    ::close(pipeFds[1]);
    // Read without blocking: a child the helper leaves behind may hold the pipe open.
    fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);

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
    if (environment) {
        for (const std::string& e : *environment)
            if (e.compare(0, 16, "OMP_WAIT_POLICY=") != 0)
                envp.push_back(const_cast<char*>(e.c_str()));
    } else {
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "OMP_WAIT_POLICY=", 16) != 0) envp.push_back(*e);
    }
    envp.push_back(waitPolicy.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, goHelperEnd.get(), 0);
        posix_spawn_file_actions_adddup2(&actions, inputFd, kInputFd);
        posix_spawn_file_actions_adddup2(&actions, outputFd, kOutputFd);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), kReportFd);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    // Whatever else this process has open without close-on-exec stays out of the helper,
    // also on the numbers of the input and output when a run has none.
    posix_spawn_file_actions_addclosefrom_np(&actions, (input ? kOutputFd : kReportFd) + 1);
#endif
    // Signals the parent ignores or blocks would stay so across exec; SIGXCPU must not. The
    // helper leads a session of its own: its process group goes whole at the end, with
    // whatever it started, and with no controlling terminal nothing in it can be stopped by
    // the terminal's job control (a write to a terminal with "tostop" set, say), while what
    // it writes to the inherited standard error still reaches the caller's log.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int spawnError =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    goHelperEnd.reset();
    if (spawnError != 0) {
        run.failure = "cannot start " + program + ": " + errnoText(spawnError);
        return run;
    }
    // Unfilled, the helper finds the socket closed and gives up.
    const bool filled = !input || input->fill();
    const int fillError = errno;
    // A helper gone already refuses the byte; how it ended tells the rest.
    if (filled) send(go.get(), "g", 1, MSG_NOSIGNAL);
    go.reset();

    // Until the helper has ended or the deadline has passed: collect the report, and watch
    // for the end through a pidfd (readable once the helper has ended), or by asking every
    // few milliseconds where the kernel has none.
    Fd pidFd(int(syscall(SYS_pidfd_open, pid, 0)));
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.deadlineMs);
    std::string received;
    bool pipeOpen = true, ended = false, timedOut = false, stopped = false;
    int pollError = 0;
    while (!ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p[3] = {{pipeOpen ? readEnd.get() : -1, POLLIN, 0},
                       {pidFd.get(), POLLIN, 0},
                       {stopFd, POLLIN, 0}};
        const int ready = poll(p, 3, pidFd.get() >= 0 ? int(left) : int(std::min<long>(left, 5)));
        if (ready < 0 && errno != EINTR) {
            pollError = errno;
            break;
        }
        if (ready > 0 && p[2].revents != 0) {
            stopped = true;
            break;
        }
        if (pipeOpen && p[0].revents != 0) pipeOpen = readReport(readEnd.get(), received);
        ended = pidFd.get() >= 0 ? p[1].revents != 0 : hasEnded(pid);
    }
    // What the helper wrote before it ended is in the pipe already.
    if (ended && pipeOpen) readReport(readEnd.get(), received);
    // The helper's group goes: the helper itself at the deadline, and anything it left
    // behind. Only while the helper is still ours to reap does its number name its group.
    siginfo_t info{};
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) kill(-pid, SIGKILL);
    int status = 0;
    rusage usage{};
    pid_t waited;
    while ((waited = wait4(pid, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    // Only a whole line is a report.
    const size_t lineEnd = received.find('\n');
    if (lineEnd != std::string::npos) run.report = received.substr(0, lineEnd);

    if (!filled) {
        run.failure = "could not be given its memory: " + errnoText(fillError);
    } else if (stopped) {
        run.failure = "was stopped by its caller";
    } else if (timedOut) {
        run.failure = "did not finish within " + std::to_string(limits.deadlineMs / 1000) +
                      " s and was stopped";
        run.outOfTime = true;
    } else if (pollError != 0) {
        run.failure = "could not be watched (" + errnoText(pollError) + ") and was stopped";
    } else if (waited < 0) {
        // Reaped by someone else (SIGCHLD ignored): the report alone tells.
        if (run.report.empty()) run.failure = "ended without a report";
    } else if (WIFSIGNALED(status) || run.report.empty()) {
        run.failure = deathReason(status, usage, limits);
        run.outOfTime = exceededCpuLimit(status, usage, limits);
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

DecodeHelper::Input::~Input() {
    if (fd_ >= 0) ::close(fd_);
}

int DecodeHelper::Input::fd() {
    if (fd_ < 0 && error_ == 0) {
        fd_ = sealableMemfd("quasel-decode-input");
        if (fd_ < 0) error_ = errno;
    }
    errno = error_;
    return fd_;
}

bool DecodeHelper::Input::fill() {
    if (fd() < 0) return false;
    if (filled_) return true;
    const char* p = bytes_.constData();
    qsizetype left = bytes_.size() - written_;
    p += written_;
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        left -= n;
        written_ += n;
    }
    // Sealed whole: no helper can change the bytes the next one reads.
    if (fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
        return false;
    filled_ = true;
    return true;
}

std::shared_ptr<uint8_t> DecodeHelper::readFitsPixels(Input& input, int hdu,
                                                      const FitsPixelLayout& layout) {
    const std::string what = "HDU " + std::to_string(hdu) + " of a tile-compressed FITS file";
    const uint64_t bytes = uint64_t(layout.outputBytes());
    // The output's size is fixed before the helper sees it.
    Fd output(sealableMemfd("quasel-decode-output"));
    if (output.get() < 0 || ftruncate(output.get(), off_t(bytes)) != 0 ||
        sealedSize(output.get()) != int64_t(bytes)) {
        logFailure(what, "could not be given its memory: " + errnoText(errno));
        return nullptr;
    }
    const Limits limits = limitsFor(bytes + uint64_t(layout.scratchBytes()), input.size());
    const Run run =
        runHelper("fits",
                  {std::to_string(hdu), std::to_string(layout.bitpix),
                   std::to_string(layout.channels), std::to_string(layout.planesPresent),
                   std::to_string(layout.width), std::to_string(layout.height)},
                  &input, output.get(), limits);
    if (!run.failure.empty()) {
        logFailure(what, run.failure);
        return nullptr;
    }
    if (run.report != "ok") {
        const std::string reason = reportFailure(run.report);
        logFailure(what, reason.empty() ? "could not read it (" + run.report + ")" : reason);
        return nullptr;
    }
    // Sealed, so still the size it was given; checked all the same before it is mapped.
    struct stat st;
    if (fstat(output.get(), &st) != 0 || uint64_t(st.st_size) != bytes) {
        logFailure(what, "left an output of the wrong size");
        return nullptr;
    }
    auto pixels = mapShared(output.get(), bytes);
    if (!pixels) logFailure(what, "output could not be mapped: " + errnoText(errno));
    return pixels;
}

std::shared_ptr<BitmapImageRep> DecodeHelper::decodeCameraRaw(const QByteArray& bytes,
                                                              bool* notCameraRaw) {
    const std::string what = "camera RAW file";
    if (notCameraRaw) *notCameraRaw = bytes.isEmpty();
    if (bytes.isEmpty()) return nullptr;
    Input input(bytes);
    Fd output(sealableMemfd("quasel-decode-output"));
    if (output.get() < 0) {
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
    const Run run = runHelper("raw", {}, &input, output.get(), limits);
    if (!run.failure.empty()) {
        logFailure(what, run.failure);
        return nullptr;
    }
    const auto [word, rest] = splitReport(run.report);
    if (word != "ok") {
        const std::string reason = reportFailure(run.report);
        if (!reason.empty()) logFailure(what, reason);
        if (notCameraRaw) *notCameraRaw = word == "unreadable";
        return nullptr;
    }
    long long width = 0, height = 0;
    if (std::sscanf(rest.c_str(), "%lld %lld", &width, &height) != 2 || width <= 0 || height <= 0 ||
        width > (int64_t(1) << 20) || height > (int64_t(1) << 20)) {
        logFailure(what, "gave an unexpected report \"" + run.report + "\"");
        return nullptr;
    }
    // The helper sized the output; from here on nothing can change its size.
    const size_t size = size_t(width) * size_t(height) * 6;
    const int64_t outputSize = sealedSize(output.get());
    if (outputSize < int64_t(size)) {
        logFailure(what, outputSize < 0 ? "output could not be sealed: " + errnoText(errno)
                                        : "left an output of " + std::to_string(outputSize) +
                                              " bytes for " + std::to_string(width) + " x " +
                                              std::to_string(height) + " pixels");
        return nullptr;
    }
    auto rep = std::make_shared<MappedBitmapImageRep>();
    rep->pixels = mapShared(output.get(), size);
    if (!rep->pixels) {
        logFailure(what, "output could not be mapped: " + errnoText(errno));
        return nullptr;
    }
    uint8_t* planes[1] = {rep->pixels.get()};
    if (!rep->describe(planes, width, height, 16, 3, false, false, ColorSpace::DeviceRGB, 0,
                       width * 6, 48, size))
        return nullptr;
    return rep;
}

long DecodeHelper::countOpenCLGpus(std::string& failure, int stopFd,
                                   const std::vector<std::string>* environment, bool* outOfTime) {
    // Loading a platform takes a second of CPU at most, even with a compiler inside it.
    Limits limits;
    limits.addressSpace = 0;  // unlimited: GPU drivers reserve address space by the gigabyte
    limits.cpuSeconds = 2;
    limits.deadlineMs = 3000;
    const Run run = runHelper("gpu", {}, nullptr, -1, limits, stopFd, environment);
    failure = run.failure;
    if (outOfTime) *outOfTime = run.outOfTime;
    if (!failure.empty()) return -1;
    const auto [word, rest] = splitReport(run.report);
    char* end = nullptr;
    const long count = word == "ok" ? std::strtol(rest.c_str(), &end, 10) : -1;
    if (count < 0 || rest.empty() || *end != '\0') {
        failure = "gave an unexpected report \"" + run.report + "\"";
        return -1;
    }
    return count;
}
