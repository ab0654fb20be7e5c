// The one test of whether an OpenCL device can run the stretch pass: available, with a
// compiler, reading samples in the host's byte order. The device lookup (MetalDevice.cpp)
// picks the first device that passes it, and the decode helper's probe counts the GPU-type
// devices that pass it, so that the probe's "yes" is never followed by no device to pick.
//
// `getInfo` is clGetDeviceInfo: linked in the viewer, looked up in the loader by the probe,
// which opens it at run time.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#include <CL/cl.h>

#include <bit>

template <typename GetInfo>
bool usableOpenCLDevice(cl_device_id device, GetInfo getInfo) {
    // A value of the device's, or `otherwise` when the driver does not answer.
    auto value = [&](cl_device_info what, cl_bool otherwise) {
        cl_bool v = otherwise;
        if (getInfo(device, what, sizeof v, &v, nullptr) != CL_SUCCESS) return otherwise;
        return v;
    };
    const bool little = std::endian::native == std::endian::little;
    return value(CL_DEVICE_AVAILABLE, CL_FALSE) && value(CL_DEVICE_COMPILER_AVAILABLE, CL_FALSE) &&
           bool(value(CL_DEVICE_ENDIAN_LITTLE, little ? CL_FALSE : CL_TRUE)) == little;
}
