// A stand-in for quasel-decode that misbehaves as the variable QUASEL_STAND_IN says, for the
// tests of what the caller survives. It takes the helper's arguments and descriptors (report
// pipe 3, input 4, output 5):
//   shrink   truncates the output to nothing ("fits") or to 100 bytes ("raw") and reports
//            success ("ok", or "ok 96 64")
//   sleep    closes the report pipe and sleeps a minute
//   child    leaves a child that sleeps a minute holding every descriptor, then runs the real
//            helper (QUASEL_REAL_HELPER) in its place
//   killed   is killed by SIGKILL at once, as the out-of-memory killer would
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

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
    return 2;
}
