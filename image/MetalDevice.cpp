#include "MetalDevice.h"

#include "Settings.h"
#include "StretchKernelSource.h"

#include <QtGlobal>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct MetalState {
    std::mutex mutex;               // guards everything below
    bool deviceMade = false;        // metalDevice has been looked for
    MetalDevice* device = nullptr;  // its outcome
    bool libraryMade = false;       // metalLibrary has been built (or failed)
    cl_program library = nullptr;   // its outcome
    QByteArray sourceForTesting;    // replaces the carried source when not empty
    int lookups = 0;                // times the platforms were asked for devices
};

// Never destroyed: renders may run during static destruction at exit.
MetalState& state() {
    static MetalState* s = new MetalState;
    return *s;
}

QByteArray deviceText(cl_device_id device, cl_device_info what) {
    size_t length = 0;
    if (clGetDeviceInfo(device, what, 0, nullptr, &length) != CL_SUCCESS || length == 0) return {};
    QByteArray text(qsizetype(length), '\0');
    if (clGetDeviceInfo(device, what, length, text.data(), nullptr) != CL_SUCCESS) return {};
    return QByteArray(text.constData());  // up to the terminating zero
}

template <typename T>
T deviceValue(cl_device_id device, cl_device_info what, T otherwise) {
    T value{};
    if (clGetDeviceInfo(device, what, sizeof value, &value, nullptr) != CL_SUCCESS)
        return otherwise;
    return value;
}

// A device that can run the pass: available, with a compiler, reading samples in the host's
// byte order.
bool usable(cl_device_id device) {
    const bool little = std::endian::native == std::endian::little;
    return deviceValue<cl_bool>(device, CL_DEVICE_AVAILABLE, CL_FALSE) &&
           deviceValue<cl_bool>(device, CL_DEVICE_COMPILER_AVAILABLE, CL_FALSE) &&
           bool(deviceValue<cl_bool>(device, CL_DEVICE_ENDIAN_LITTLE, !little)) == little;
}

// The first usable device of `type` on any platform, or nullptr.
cl_device_id firstDevice(const std::vector<cl_platform_id>& platforms, cl_device_type type) {
    for (cl_platform_id platform : platforms) {
        cl_uint count = 0;
        if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0)
            continue;
        std::vector<cl_device_id> devices(count);
        if (clGetDeviceIDs(platform, type, count, devices.data(), nullptr) != CL_SUCCESS) continue;
        for (cl_device_id device : devices)
            if (usable(device)) return device;
    }
    return nullptr;
}

MetalDevice* lookForDevice() {
    ++state().lookups;
    cl_uint count = 0;
    if (clGetPlatformIDs(0, nullptr, &count) != CL_SUCCESS || count == 0) return nullptr;
    std::vector<cl_platform_id> platforms(count);
    if (clGetPlatformIDs(count, platforms.data(), nullptr) != CL_SUCCESS) return nullptr;

    const QByteArray wanted = qgetenv("QUASEL_OPENCL_DEVICE_TYPE").trimmed().toLower();
    cl_device_id device = nullptr;
    if (wanted == "cpu") {
        device = firstDevice(platforms, CL_DEVICE_TYPE_CPU);
    } else {
        device = firstDevice(platforms, CL_DEVICE_TYPE_GPU);
        if (!device && wanted == "all") device = firstDevice(platforms, CL_DEVICE_TYPE_ALL);
    }
    if (!device) return nullptr;

    cl_int error = CL_SUCCESS;
    cl_context context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &error);
    if (!context || error != CL_SUCCESS) return nullptr;
    return new MetalDevice{device, context, QString::fromUtf8(deviceText(device, CL_DEVICE_NAME))};
}

// The build log on one line, shortened.
QByteArray buildLog(cl_program program, cl_device_id device) {
    size_t length = 0;
    if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &length) !=
            CL_SUCCESS ||
        length == 0)
        return {};
    QByteArray log(qsizetype(length), '\0');
    if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, length, log.data(), nullptr) !=
        CL_SUCCESS)
        return {};
    log = QByteArray(log.constData()).simplified();
    if (log.size() > 400) log = log.left(400) + "...";
    return log;
}

cl_program buildLibrary(const MetalDevice& device, const QByteArray& source) {
    const char* text = source.constData();
    const size_t length = size_t(source.size());
    cl_int error = CL_SUCCESS;
    cl_program program = clCreateProgramWithSource(device.context, 1, &text, &length, &error);
    if (!program || error != CL_SUCCESS) {
        qWarning("GPU rendering off: the stretch kernel could not be loaded (OpenCL error %d)",
                 int(error));
        return nullptr;
    }
    error = clBuildProgram(program, 1, &device.device, "", nullptr, nullptr);
    if (error != CL_SUCCESS) {
        qWarning(
            "GPU rendering off: the stretch kernel failed to build on %s (OpenCL error %d): %s",
            qPrintable(device.name), int(error), buildLog(program, device.device).constData());
        clReleaseProgram(program);
        return nullptr;
    }
    return program;
}

const MetalDevice* deviceLocked() {
    MetalState& s = state();
    if (!s.deviceMade) {
        s.deviceMade = true;
        s.device = userDefaults().defaultsBool("useGPU", true) ? lookForDevice() : nullptr;
    }
    return s.device;
}

}  // namespace

const MetalDevice* metalDevice() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return deviceLocked();
}

cl_program metalLibrary() {
    MetalState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.libraryMade) {
        s.libraryMade = true;
        const MetalDevice* device = deviceLocked();
        if (device)
            s.library =
                buildLibrary(*device, s.sourceForTesting.isEmpty() ? QByteArray(stretchKernelSource)
                                                                   : s.sourceForTesting);
    }
    return s.library;
}

void resetMetalForTesting(const QByteArray& kernelSource) {
    MetalState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.library) clReleaseProgram(s.library);
    if (s.device) {
        clReleaseContext(s.device->context);
        delete s.device;
    }
    s.library = nullptr;
    s.device = nullptr;
    s.deviceMade = s.libraryMade = false;
    s.sourceForTesting = kernelSource;
}

int metalDeviceLookupsForTesting() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().lookups;
}
