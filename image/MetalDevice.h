// The process-wide compute device and the program holding the GPU function "stretch".
//
// `metalDevice` is the first OpenCL device of GPU type on any platform, made on first use
// together with its context, or none. It is looked for only when the user default "useGPU"
// (default true) is true, once per process: a change takes effect at the next start. A device
// of CPU type is taken only when the environment variable QUASEL_OPENCL_DEVICE_TYPE is "cpu"
// (CPU devices only) or "all" (a GPU first, then any device): tests and benchmarks run the
// pass on a CPU OpenCL implementation that way, while a user's machine never trades the
// multi-core CPU render for a CPU "device".
//
// Unless CPU devices are asked for, the OpenCL platforms are loaded into this process only
// when a device of GPU type can exist: the decode helper (`DecodeHelper::countOpenCLGpus`)
// answers that in a process of its own, and the answer is kept in the user's
// cache folder ("Quasel/opencl-gpu") until the installed platforms change (the vendor files
// in /etc/OpenCL/vendors, OCL_ICD_VENDORS and OCL_ICD_FILENAMES). A probe that cannot be
// started, crashes or does not answer within 3 s counts as "no GPU" for this process, with
// one log line, and is asked again at the next start.
//
// `metalLibrary` is the program built on that device from the kernel source the application
// carries (resources/stretch.cl, compiled into the program). A build that fails is logged
// once and leaves none. With no device or no program, rendering takes the CPU path.
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

// The device, or nullptr when "useGPU" is false or no suitable device exists.
const MetalDevice* metalDevice();
// The built program holding "stretch", or nullptr (no device, or the build failed).
cl_program metalLibrary();

// For tests and benchmarks only, never while a render runs: forgets the device, the program
// and the pipeline (images rendered before keep buffers of the old context: use new ones) so
// that the next use looks again, building `kernelSource` instead of the carried source when
// it is not empty.
void resetMetalForTesting(const QByteArray& kernelSource = {});
// For tests: how many times the system has been asked for devices in this process.
int metalDeviceLookupsForTesting();
