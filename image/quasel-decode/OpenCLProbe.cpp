#include "OpenCLProbe.h"

#include "UsableOpenCLDevice.h"

#include <dlfcn.h>

#include <vector>

namespace {

// The usable devices of GPU type over all platforms the loader at `loader` offers.
unsigned long gpuDevices(void* loader) {
    const auto getPlatforms =
        reinterpret_cast<decltype(&clGetPlatformIDs)>(dlsym(loader, "clGetPlatformIDs"));
    const auto getDevices =
        reinterpret_cast<decltype(&clGetDeviceIDs)>(dlsym(loader, "clGetDeviceIDs"));
    const auto getInfo =
        reinterpret_cast<decltype(&clGetDeviceInfo)>(dlsym(loader, "clGetDeviceInfo"));
    if (!getPlatforms || !getDevices || !getInfo) return 0;
    cl_uint count = 0;
    if (getPlatforms(0, nullptr, &count) != CL_SUCCESS || count == 0) return 0;
    std::vector<cl_platform_id> platforms(count);
    if (getPlatforms(count, platforms.data(), &count) != CL_SUCCESS) return 0;
    unsigned long gpus = 0;
    for (cl_uint i = 0; i < count && i < platforms.size(); ++i) {
        cl_uint found = 0;
        if (getDevices(platforms[i], CL_DEVICE_TYPE_GPU, 0, nullptr, &found) != CL_SUCCESS ||
            found == 0)
            continue;
        std::vector<cl_device_id> devices(found);
        if (getDevices(platforms[i], CL_DEVICE_TYPE_GPU, found, devices.data(), nullptr) !=
            CL_SUCCESS)
            continue;
        for (cl_device_id device : devices)
            gpus += usableOpenCLDevice(device, getInfo);
    }
    return gpus;
}

}  // namespace

unsigned long openCLGpuDevices() {
    // Opened at run time: the decode runs of this program never load the loader.
    void* loader = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_LOCAL);
    return loader ? gpuDevices(loader) : 0;
}
