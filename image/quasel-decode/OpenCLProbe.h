// The OpenCL probe of the decode helper: `quasel-decode --opencl-gpu` loads the installed
// OpenCL platforms in a process of its own and tells whether any of them offers a device of
// GPU type, so that the viewer loads them itself only when one can serve (loading a CPU-only
// platform such as PoCL brings LLVM into the process for nothing).
//
// The answer is one line on standard output: "gpu N", N being the number of GPU-type devices
// over all platforms (0 also when no OpenCL loader or no platform is installed). Any other
// outcome (no line, a crash) is a failure for the caller to handle.
#pragma once

// The argument that selects the probe.
inline constexpr const char* kOpenCLGpuProbeArgument = "--opencl-gpu";

// Runs the probe, writes its answer and ends the process; never returns.
[[noreturn]] void probeOpenCLGpu();
