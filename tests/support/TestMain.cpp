// Common main for every test executable: a QApplication on the offscreen platform and a
// private settings location, so no test ever reads or writes the user's settings.
#include "SanitizerOptions.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

// Under AddressSanitizer: LLVM inside the CPU OpenCL implementation gives the thread that
// first initialises it (a render on a pool thread) an alternate signal stack of its own, and
// the sanitizer then fails to unmap the one it had made when that thread ends. Leave the
// signal stacks to LLVM. Weak: a test may give options of its own.
extern "C" __attribute__((weak)) const char* __asan_default_options() {
    return "use_sigaltstack=0";
}

#ifdef QUASEL_ASAN
// The leak checker's options (SanitizerOptions.h). Weak: a test may give options of its own.
extern "C" __attribute__((weak)) const char* __lsan_default_options() {
    return QUASEL_LSAN_OPTIONS;
}

// Adds `options` to the front of the variable `name`, whose own options still win.
static void addOptions(const char* name, const QByteArray& options) {
    const QByteArray own = qgetenv(name);
    qputenv(name, own.isEmpty() ? options : options + ":" + own);
}
#endif

#ifdef QUASEL_TSAN_SUPPRESSIONS
// Under ThreadSanitizer every test runs with the suppressions for Qt's own internals
// (tests/tsan.supp), and an impossible allocation returns NULL as the C library's does, for the
// code that handles it; TSAN_OPTIONS in the environment still adds to or overrides these.
extern "C" const char* __tsan_default_options() {
    return "suppressions=" QUASEL_TSAN_SUPPRESSIONS " allocator_may_return_null=1";
}
#endif

int main(int argc, char** argv) {
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef QUASEL_ASAN
    // The programs the tests start (the tool, the decode helper) check with the same options.
    addOptions("ASAN_OPTIONS", __asan_default_options());
    addOptions("LSAN_OPTIONS", QUASEL_LSAN_OPTIONS);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Quasel");
    QCoreApplication::setApplicationName("Quasel");
    return RUN_ALL_TESTS();
}
