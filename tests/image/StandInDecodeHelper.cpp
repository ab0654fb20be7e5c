// A stand-in for quasel-decode that misbehaves as the variable QUASEL_STAND_IN says, for the
// tests of what the caller survives. It takes the helper's arguments and descriptors (report
// pipe 3, input 4, output 5):
//   shrink   truncates the output to nothing ("fits") or to 100 bytes ("raw") and reports
//            success ("ok", or "ok 96 64")
//   sleep    closes the report pipe and sleeps a minute
//   child    leaves a child that sleeps a minute holding every descriptor, then runs the real
//            helper (QUASEL_REAL_HELPER) in its place
//   killed   is killed by SIGKILL at once, as the out-of-memory killer would
//   fds      appends "KIND: N N ..." (the descriptors it was started with) to the file that
//            QUASEL_STAND_IN_LOG names, then runs the real helper in its place
//   talk     writes a line to standard error, and has a child it waits for write another,
//            then runs the real helper in its place
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The open descriptors, in order, as /proc/self/fd lists them (less the listing's own).
std::vector<int> openDescriptors() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return fds;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(dir))
            fds.push_back(std::atoi(entry->d_name));
    closedir(dir);
    std::sort(fds.begin(), fds.end());
    return fds;
}

void say(const char* text) {
    const ssize_t written = write(2, text, std::strlen(text));
    (void)written;
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = std::getenv("QUASEL_STAND_IN");
    if (argc < 2 || !mode) return 2;
    const bool raw = std::strcmp(argv[1], "raw") == 0;
    if (std::strcmp(mode, "shrink") == 0) {
        // Refused once the output is sealed; reported as success all the same.
        const int truncated = ftruncate(5, raw ? 100 : 0);
        (void)truncated;
        const char* report = raw ? "ok 96 64\n" : "ok\n";
        return write(3, report, std::strlen(report)) > 0 ? 0 : 1;
    }
    if (std::strcmp(mode, "sleep") == 0) {
        close(3);
        sleep(60);
        return 0;
    }
    if (std::strcmp(mode, "child") == 0) {
        if (fork() == 0) {
            sleep(60);
            _exit(0);
        }
        const char* real = std::getenv("QUASEL_REAL_HELPER");
        if (real) execv(real, argv);
        return 3;
    }
    if (std::strcmp(mode, "killed") == 0) raise(SIGKILL);
    if (std::strcmp(mode, "fds") == 0) {
        std::string line = std::string(argv[1]) + ":";
        for (int fd : openDescriptors())
            line += " " + std::to_string(fd);
        line += "\n";
        const char* log = std::getenv("QUASEL_STAND_IN_LOG");
        const int out = log ? open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
        if (out < 0 || write(out, line.data(), line.size()) != ssize_t(line.size())) return 3;
        close(out);
    } else if (std::strcmp(mode, "talk") == 0) {
        say("stand-in helper: a line on standard error\n");
        const pid_t child = fork();
        if (child == 0) {
            say("stand-in helper's child: a line on standard error\n");
            _exit(0);
        }
        int status = 0;
        if (child > 0) waitpid(child, &status, 0);
    } else {
        return 2;
    }
    const char* real = std::getenv("QUASEL_REAL_HELPER");
    if (real) execv(real, argv);
    return 3;
}
