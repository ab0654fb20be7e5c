// The decode helper's OpenCL probe ("quasel-decode gpu"): loads the installed OpenCL platforms
// in the helper's process and counts their devices of GPU type, so that the viewer loads them
// itself only when one can serve (loading a CPU-only platform such as PoCL brings LLVM into the
// process for nothing).
#pragma once

// The devices of GPU type over all installed platforms that can run the stretch pass (the test
// of UsableOpenCLDevice.h, the one the viewer picks a device by); 0 also when no OpenCL loader
// or no platform is installed.
unsigned long openCLGpuDevices();
