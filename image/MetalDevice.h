// The process-wide compute device and the program holding the GPU function "stretch".
//
// `metalDevice` is the first usable OpenCL device of GPU type on any platform (available, with
// a compiler, in the host's byte order: UsableOpenCLDevice.h), made together with its context,
// or none. It is looked for only when the user default "useGPU" (default true) is true, read
// once per process: a change takes effect at the next start. A device of CPU type is taken
// only when the environment variable QUASEL_OPENCL_DEVICE_TYPE is "cpu" (CPU devices only) or
// "all" (a GPU first, then any device): tests and benchmarks run the pass on a CPU OpenCL
// implementation that way, and look for the device at the first call, while a user's machine
// never trades the multi-core CPU render for a CPU "device".
//
// Unless CPU devices are asked for, the OpenCL platforms are loaded into this process only
// when a usable device of GPU type exists: the decode helper's probe
// (`DecodeHelper::countOpenCLGpus`) counts them in a process of its own, with the same test.
// Its answer is kept in the user's cache folder ("Quasel/opencl-gpu") under a key of what can
// change it: the boot id, the GPU device nodes the user can open for reading and writing
// (/dev/dri/renderD*, /dev/kfd, /dev/nvidia*: a login seat grants them by an ACL, so a start
// from a remote shell and one at the seat differ), the user's groups, the variables
// OCL_ICD_*, POCL_DEVICES, RUSTICL_ENABLE, CUDA_VISIBLE_DEVICES, ROCR_VISIBLE_DEVICES,
// HIP_VISIBLE_DEVICES and ZE_AFFINITY_MASK, and the installed platforms (the vendor files in
// /etc/OpenCL/vendors and those and the libraries that OCL_ICD_VENDORS and OCL_ICD_FILENAMES
// name). An answer of a probe that ran to its end ("gpu", "none") is kept until the key
// changes. A failure (a probe that cannot be started, crashes, answers nonsense, or runs out
// of time: no answer within 3 s or 2 s of CPU) counts as "no GPU" for an hour from when it
// was seen, with one log line at the start that saw it and one at every start that reads it
// from the cache; after the hour a start asks again as if nothing were cached. An answer kept
// by an earlier version, under a key without the device nodes, is asked again once.
//
// With an answer in the cache the device is looked for at the first call. Without one, the
// first call starts the probe on a thread of its own and returns none at once: renders take
// the CPU path (the bytes are the same) until a "yes" arrives, and the first call after it
// looks for the device. `waitForMetalProbe` is for a program that renders once and may wait
// for the answer instead (at most the probe's 3 s deadline), unless the last probe ran out of
// time. A probe still running at exit is stopped, its helper killed, and nothing is kept.
//
// `metalLibrary` is the program built on that device from the kernel source the application
// carries (resources/stretch.cl, compiled into the program), none while the device is not
// looked for yet. A build that fails is logged once and leaves none. With no device or no
// program, rendering takes the CPU path.
//
// Both are made exactly once even when threads race: a thread that arrives while another
// makes them waits and then sees the finished object. Neither is ever released.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#include <CL/cl.h>

#include <QByteArray>
#include <QString>

struct MetalDevice {
    cl_device_id device;  // the chosen OpenCL device
    cl_context context;   // a context holding that device alone
    QString name;         // the device's name as its driver gives it
};

// The device, or nullptr when "useGPU" is false, no suitable device exists, or the probe has
// not answered yet (the call never waits for it).
const MetalDevice* metalDevice();
// The built program holding "stretch", or nullptr (no device yet or at all, or the build
// failed).
cl_program metalLibrary();
// Starts the probe when its answer is needed and not cached (or a kept failure has expired),
// and waits until it has answered (at most its deadline): `metalDevice` then gives its final
// answer. Returns at once when the answer is known or not needed ("useGPU" false, CPU devices
// asked for), and when the probe that failed last ran out of time: it is then asked in the
// background only, and `metalDevice` may stay none for this call's caller.
void waitForMetalProbe();

// For tests and benchmarks only, never while a render runs: stops a probe that runs, forgets
// its answer, the settings read, the device, the program and the pipeline (images rendered
// before keep buffers of the old context: use new ones) so that the next use looks again as
// a new process would, building `kernelSource` instead of the carried source when it is not
// empty.
void resetMetalForTesting(const QByteArray& kernelSource = {});
// For tests: how many times the system has been asked for devices in this process.
int metalDeviceLookupsForTesting();
// For tests: the folder in which the probe's key looks for the GPU device nodes instead of
// /dev (empty: /dev again); takes effect at the next reset.
void setGpuNodeFolderForTesting(const QString& folder);
