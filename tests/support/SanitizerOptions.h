// Options of AddressSanitizer's leak checker for the test executables and, through the
// environment, for the programs they start (tests/support/TestMain.cpp).
#pragma once

// GCC names the sanitizer by a macro, clang by __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUASEL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUASEL_ASAN 1
#endif

// The suppressions (tests/lsan.supp), and no tracking of dynamic TLS through __tls_get_addr:
// for the TLS of libraries loaded at run time (PoCL's LLVM) it records blocks with nonsense
// bounds under this C library, and the checker's thread walk then faults at exit ("Tracer
// caught signal 11"). Dynamic TLS blocks are found all the same, as the heap blocks the C
// library allocates them in, through each thread's vector of them.
#define QUASEL_LSAN_OPTIONS "suppressions=" QUASEL_LSAN_SUPPRESSIONS ":intercept_tls_get_addr=0"

// For the processes that run the GPU pass on PoCL: stacks followed through frames without
// frame pointers, deep enough to reach PoCL's own functions (the suppressions name one).
// Slower at every allocation, so only there.
#define QUASEL_LSAN_THROUGH_POCL ":fast_unwind_on_malloc=0:malloc_context_size=100"

// Gives the executable that uses it the slower stacks of QUASEL_LSAN_THROUGH_POCL.
#ifdef QUASEL_ASAN
#define QUASEL_LSAN_FOLLOW_POCL_STACKS()                     \
    extern "C" const char* __lsan_default_options() {        \
        return QUASEL_LSAN_OPTIONS QUASEL_LSAN_THROUGH_POCL; \
    }
#else
#define QUASEL_LSAN_FOLLOW_POCL_STACKS()
#endif
