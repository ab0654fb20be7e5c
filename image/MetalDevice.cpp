#include "MetalDevice.h"

#include "DecodeHelper.h"
#include "Settings.h"
#include "StretchKernelSource.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <sys/stat.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
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

// The OpenCL probe's answer, remembered until the installed platforms change.
//
// Loading a platform is costly: PoCL, a CPU-only implementation, brings LLVM and clang into
// the process (some 60 MB), only for the device lookup to find no GPU. So, unless CPU devices
// are asked for, the platforms are first asked in the decode helper's probe, in a process of
// its own, whether a device of GPU type exists at all. The answer is kept in a cache file
// together with a fingerprint of what the ICD loader reads to find the platforms; a changed
// fingerprint asks again. A probe that fails counts as "no GPU" for this process only.

constexpr const char* kCacheFile = "Quasel/opencl-gpu";

// Adds to `text` what identifies the vendor file, library or folder of vendor files at
// `path`: for a file its inode, size and times, for a vendor file (".icd") also its content
// and the library it names by a full path, for a folder its vendor files.
void describePath(QByteArray& text, const QByteArray& path, bool vendorFile) {
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        text += path + " absent\n";
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        text += path + " folder\n";
        const QStringList names =
            QDir(QFile::decodeName(path)).entryList({"*.icd"}, QDir::Files, QDir::Name);
        for (const QString& name : names)
            describePath(text, path + '/' + QFile::encodeName(name), true);
        return;
    }
    text += path + ' ' + QByteArray::number(qulonglong(st.st_ino)) + ' ' +
            QByteArray::number(qlonglong(st.st_size)) + ' ' +
            QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
            QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ' ' +
            QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' +
            QByteArray::number(qlonglong(st.st_ctim.tv_nsec)) + '\n';
    if (!vendorFile || !S_ISREG(st.st_mode)) return;
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray library = file.read(4096).trimmed();
    text += library + '\n';
    if (library.startsWith('/')) describePath(text, library, false);
}

// A digest of the OpenCL loader's view of the installed platforms: its variables
// OCL_ICD_VENDORS (a folder of vendor files, or one) and OCL_ICD_FILENAMES (libraries), and
// the system's vendor folder.
QByteArray platformsFingerprint() {
    QByteArray text = "1\n";  // the layout of this description
    describePath(text, "/etc/OpenCL/vendors", false);
    const QByteArray vendors = qgetenv("OCL_ICD_VENDORS");
    text += "OCL_ICD_VENDORS=" + vendors + '\n';
    if (!vendors.isEmpty()) describePath(text, vendors, vendors.endsWith(".icd"));
    const QByteArray libraries = qgetenv("OCL_ICD_FILENAMES");
    text += "OCL_ICD_FILENAMES=" + libraries + '\n';
    for (const QByteArray& library : libraries.split(':'))
        if (!library.isEmpty()) describePath(text, library, false);
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex();
}

QString cachePath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + '/' + kCacheFile;
}

// The cache file's line: the fingerprint and the answer.
QByteArray cacheLine(const QByteArray& fingerprint, bool gpu) {
    return fingerprint + (gpu ? " gpu\n" : " none\n");
}

// Whether a device of GPU type can exist: the cached answer for the installed platforms, else
// the probe's (stored for the next start).
bool gpuDeviceCanExist() {
    const QByteArray fingerprint = platformsFingerprint();
    const QString path = cachePath();
    if (!path.isEmpty()) {
        QFile cache(path);
        if (cache.open(QIODevice::ReadOnly)) {
            const QByteArray line = cache.read(256);
            if (line == cacheLine(fingerprint, true)) return true;
            if (line == cacheLine(fingerprint, false)) return false;
        }
    }
    std::string failure;
    const long gpus = DecodeHelper::countOpenCLGpus(failure);
    if (gpus < 0) {
        qWarning("GPU rendering off: the OpenCL probe of %s %s", DecodeHelper::path().c_str(),
                 failure.c_str());
        return false;
    }
    if (!path.isEmpty() && QDir().mkpath(QFileInfo(path).path())) {
        QSaveFile cache(path);
        if (cache.open(QIODevice::WriteOnly)) {
            cache.write(cacheLine(fingerprint, gpus > 0));
            cache.commit();
        }
    }
    return gpus > 0;
}

MetalDevice* lookForDevice() {
    const QByteArray wanted = qgetenv("QUASEL_OPENCL_DEVICE_TYPE").trimmed().toLower();
    if (wanted != "cpu" && wanted != "all" && !gpuDeviceCanExist()) return nullptr;

    ++state().lookups;
    cl_uint count = 0;
    if (clGetPlatformIDs(0, nullptr, &count) != CL_SUCCESS || count == 0) return nullptr;
    std::vector<cl_platform_id> platforms(count);
    if (clGetPlatformIDs(count, platforms.data(), nullptr) != CL_SUCCESS) return nullptr;

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
