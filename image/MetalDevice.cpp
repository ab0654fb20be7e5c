#include "MetalDevice.h"

#include "DecodeHelper.h"
#include "Settings.h"
#include "StretchKernelSource.h"
#include "UsableOpenCLDevice.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// What is known of whether a device of GPU type can exist.
enum class Answer {
    Unknown,  // nothing yet: the cache has not been read
    Asking,   // the probe runs on its thread
    Gpu,      // yes: the platforms are loaded in process
    NoGpu,    // no, or the probe failed: they are not
};

struct MetalState {
    std::mutex mutex;                  // guards everything below
    std::condition_variable answered;  // `answer` left Asking, or the probe is being stopped
    bool settingsRead = false;         // "useGPU" and QUASEL_OPENCL_DEVICE_TYPE read
    bool useGPU = true;                // "useGPU"
    QByteArray wanted;                 // QUASEL_OPENCL_DEVICE_TYPE, trimmed and lower case
    Answer answer = Answer::Unknown;   // the probe's, cached or fresh
    bool waitForProbe = true;          // waitForMetalProbe waits for a probe that runs
    QString nodeFolder = "/dev";       // where the GPU device nodes are
    std::thread probe;                 // the probe's thread, joinable once started
    int stopFds[2] = {-1, -1};         // a pipe: a byte on it stops the probe's run
    bool stopping = false;             // the probe is being stopped: its answer is dropped
    bool deviceMade = false;           // metalDevice has been looked for for good
    MetalDevice* device = nullptr;     // its outcome
    bool libraryMade = false;          // metalLibrary has been built (or failed)
    cl_program library = nullptr;      // its outcome
    QByteArray sourceForTesting;       // replaces the carried source when not empty
    int lookups = 0;                   // times the platforms were asked for devices
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

// The first usable device of `type` on any platform, or nullptr.
cl_device_id firstDevice(const std::vector<cl_platform_id>& platforms, cl_device_type type) {
    for (cl_platform_id platform : platforms) {
        cl_uint count = 0;
        if (clGetDeviceIDs(platform, type, 0, nullptr, &count) != CL_SUCCESS || count == 0)
            continue;
        std::vector<cl_device_id> devices(count);
        if (clGetDeviceIDs(platform, type, count, devices.data(), nullptr) != CL_SUCCESS) continue;
        for (cl_device_id device : devices)
            if (usableOpenCLDevice(device, clGetDeviceInfo)) return device;
    }
    return nullptr;
}

// The OpenCL probe's answer, remembered under a key of what can change it.
//
// Loading a platform is costly: PoCL, a CPU-only implementation, brings LLVM and clang into
// the process (some 60 MB), only for the device lookup to find no GPU. So, unless CPU devices
// are asked for, the platforms are first asked in the decode helper's probe, in a process of
// its own, whether a usable device of GPU type exists at all. The probe runs on a thread of
// its own (up to its 3 s deadline) while renders take the CPU path; its answer is kept in a
// cache file under the key, so that the next start knows at once. A failure is kept for an
// hour only, with the time it was seen: one slow driver start must not turn the GPU pass off
// for the whole boot, and a probe that fails every time must not cost every start its run.

constexpr const char* kCacheFile = "Quasel/opencl-gpu";
constexpr qint64 kFailureKeptSeconds = 3600;

// The variables, besides OCL_ICD_*, by which OpenCL implementations choose their devices.
constexpr const char* kDeviceVariables[] = {"POCL_DEVICES",         "RUSTICL_ENABLE",
                                            "CUDA_VISIBLE_DEVICES", "ROCR_VISIBLE_DEVICES",
                                            "HIP_VISIBLE_DEVICES",  "ZE_AFFINITY_MASK"};

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

// The GPU device nodes under `folder` (normally /dev) that this user can open for reading and
// writing, as one line of their paths in name order: the render nodes (dri/renderD*), AMD's
// compute node (kfd) and NVIDIA's nodes (nvidia*). A login seat grants them to the user at the
// console by an ACL, which the groups do not show: the same user in a remote shell gets
// none, and the probe's "none" there must not hold for a later start at the seat.
QByteArray openableGpuNodes(const QString& folder) {
    const QDir::Filters nodes = QDir::Files | QDir::System;  // device nodes; no folders
    QStringList paths;
    for (const QString& name : QDir(folder + "/dri").entryList({"renderD*"}, nodes, QDir::Name))
        paths << folder + "/dri/" + name;
    for (const QString& name : QDir(folder).entryList({"kfd", "nvidia*"}, nodes, QDir::Name))
        paths << folder + '/' + name;
    QByteArray text = "devices";
    for (const QString& path : paths) {
        const QByteArray name = QFile::encodeName(path);
        if (::access(name.constData(), R_OK | W_OK) == 0) text += ' ' + name;
    }
    return text + '\n';
}

// The key of the probe's answer, as lines of text: the boot (a driver loaded or a device
// plugged in since), the GPU device nodes the user can open, the user's groups (access to
// the device files), the variables that choose OpenCL platforms and devices, and the
// loader's view of the installed platforms: the system's vendor folder, and the vendor files
// and libraries that OCL_ICD_VENDORS and OCL_ICD_FILENAMES name.
QByteArray probeKey(const QString& nodeFolder) {
    QByteArray text = "OpenCL probe 3\n";  // the layout of this description
    QFile boot("/proc/sys/kernel/random/boot_id");
    text += "boot " + (boot.open(QIODevice::ReadOnly) ? boot.read(64).trimmed() : "unknown") + '\n';
    text += openableGpuNodes(nodeFolder);
    std::vector<gid_t> groups(size_t(std::max(0, getgroups(0, nullptr))));
    groups.resize(size_t(std::max(0, getgroups(int(groups.size()), groups.data()))));
    groups.push_back(getegid());
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    text += "groups";
    for (gid_t g : groups)
        text += ' ' + QByteArray::number(qulonglong(g));
    text += '\n';
    QList<QByteArray> variables;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "OCL_ICD_", 8) == 0) variables << QByteArray(*e);
    for (const char* name : kDeviceVariables)
        if (const char* value = std::getenv(name)) variables << QByteArray(name) + '=' + value;
    std::sort(variables.begin(), variables.end());
    for (const QByteArray& v : variables)
        text += "variable " + QByteArray(v).replace('\n', ' ') + '\n';
    describePath(text, "/etc/OpenCL/vendors", false);
    const QByteArray vendors = qgetenv("OCL_ICD_VENDORS");
    if (!vendors.isEmpty()) describePath(text, vendors, vendors.endsWith(".icd"));
    for (const QByteArray& library : qgetenv("OCL_ICD_FILENAMES").split(':'))
        if (!library.isEmpty()) describePath(text, library, false);
    return text;
}

QString cachePath() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base.isEmpty() ? QString() : base + '/' + kCacheFile;
}

// What the cache holds for the current key.
struct KeptAnswer {
    Answer answer = Answer::Unknown;  // Gpu or NoGpu while it holds, else Unknown (ask again)
    QByteArray failure;               // why the probe failed, when it did and that still holds
    bool outOfTime = false;           // the last probe ran out of time, held or not
};

// The answer kept at `path` under `key`. The last line after the key is "gpu" or "none" for a
// probe that ran to its end, held until the key changes, or "failed" or "timeout" (the probe
// ran out of time), the Unix time it was seen and why, held for kFailureKeptSeconds. An answer
// kept under another key (another boot, or an earlier layout of the key) is none.
KeptAnswer cachedAnswer(const QString& path, const QByteArray& key) {
    KeptAnswer kept;
    QFile cache(path);
    if (path.isEmpty() || !cache.open(QIODevice::ReadOnly)) return kept;
    const QByteArray text = cache.read(key.size() + 4096);
    if (!text.startsWith(key) || !text.endsWith('\n')) return kept;
    const QByteArray line = text.mid(key.size(), text.size() - key.size() - 1);
    if (line.contains('\n')) return kept;
    if (line == "gpu" || line == "none") {
        kept.answer = line == "gpu" ? Answer::Gpu : Answer::NoGpu;
        return kept;
    }
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() < 3 || (fields[0] != "failed" && fields[0] != "timeout")) return kept;
    kept.outOfTime = fields[0] == "timeout";
    bool number = false;
    const qint64 seen = fields[1].toLongLong(&number);
    // A time ahead of the clock (the clock was set back) tells nothing of the age.
    const qint64 age = QDateTime::currentSecsSinceEpoch() - seen;
    if (!number || age < 0 || age >= kFailureKeptSeconds) return kept;
    kept.answer = Answer::NoGpu;
    kept.failure = line.mid(fields[0].size() + fields[1].size() + 2);
    return kept;
}

// Keeps the probe's answer at `path` under `key`: the count of GPU-type devices, or -1 with
// the reason it gave none and whether it ran out of time.
void keepAnswer(const QString& path, const QByteArray& key, long gpus, const QByteArray& failure,
                bool outOfTime) {
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).path())) return;
    QSaveFile cache(path);
    if (!cache.open(QIODevice::WriteOnly)) return;
    QByteArray line = gpus > 0 ? "gpu" : "none";
    if (gpus < 0)
        line = (outOfTime ? "timeout " : "failed ") +
               QByteArray::number(QDateTime::currentSecsSinceEpoch()) + ' ' +
               QByteArray(failure).replace('\n', ' ');
    cache.write(key + line + '\n');
    cache.commit();
}

// The probe's thread: asks the helper, keeps the answer and hands it over; an answer that
// comes while the probe is being stopped (at exit, or by a reset) is no answer and is dropped.
void runProbe(QByteArray key, QString path, int stopFd, std::vector<std::string> environment) {
    std::string why;
    bool outOfTime = false;
    const long gpus = DecodeHelper::countOpenCLGpus(why, stopFd, &environment, &outOfTime);
    MetalState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.stopping) return;
    }
    QByteArray failure;
    if (gpus < 0) {
        failure = QByteArray::fromStdString(DecodeHelper::path() + " " + why);
        qWarning("GPU rendering off: the OpenCL probe of %s", failure.constData());
    }
    keepAnswer(path, key, gpus, failure, outOfTime);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.answer = gpus > 0 ? Answer::Gpu : Answer::NoGpu;
    s.answered.notify_all();
}

// Stops a probe that still runs and joins its thread; its answer is dropped. Called at exit
// (the helper must not outlive the program) and by a reset.
void stopProbe() {
    MetalState& s = state();
    std::thread probe;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.probe.joinable()) return;
        s.stopping = true;
        if (s.stopFds[1] >= 0) {
            const ssize_t written = ::write(s.stopFds[1], "s", 1);
            (void)written;
        }
        probe = std::move(s.probe);
        s.answered.notify_all();
    }
    probe.join();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.stopping = false;
    for (int& fd : s.stopFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (s.answer == Answer::Asking) s.answer = Answer::Unknown;
}

// Starts the probe on its thread. The caller holds the lock.
void startProbeLocked(MetalState& s, const QByteArray& key, const QString& path) {
    if (s.stopFds[0] < 0 && pipe2(s.stopFds, O_CLOEXEC) != 0) s.stopFds[0] = s.stopFds[1] = -1;
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(stopProbe); });
    // The environment the key describes, copied along with it: the probe's thread starts the
    // helper while other threads may change the variables.
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    try {
        s.probe = std::thread(runProbe, key, path, s.stopFds[0], std::move(environment));
        s.answer = Answer::Asking;
    } catch (const std::system_error& e) {
        qWarning("GPU rendering off: the OpenCL probe could not be started (%s)", e.what());
        s.answer = Answer::NoGpu;
    }
}

// The answer as far as known, read from the cache the first time; when none is there or a
// failure kept there has expired, the probe starts and the answer is Asking until it has
// answered. The caller holds the lock.
Answer answerLocked(MetalState& s) {
    if (s.answer != Answer::Unknown) return s.answer;
    const QByteArray key = probeKey(s.nodeFolder);
    const QString path = cachePath();
    const KeptAnswer kept = cachedAnswer(path, key);
    if (!kept.failure.isEmpty())
        qWarning(
            "GPU rendering off: the OpenCL probe of %s at an earlier start (asked again an hour "
            "after it, after a restart, or when the OpenCL platforms or the GPU devices one can "
            "open change)",
            kept.failure.constData());
    s.answer = kept.answer;
    // A probe that ran out of time last will likely do so again: not worth a wait.
    s.waitForProbe = !kept.outOfTime;
    if (s.answer == Answer::Unknown) startProbeLocked(s, key, path);
    return s.answer;
}

MetalDevice* lookForDevice(const QByteArray& wanted) {
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

// The device once it has been looked for for good; nullptr before, and while the probe has not
// answered. The caller holds the lock.
const MetalDevice* deviceLocked() {
    MetalState& s = state();
    if (s.deviceMade) return s.device;
    if (!s.settingsRead) {
        s.settingsRead = true;
        s.useGPU = userDefaults().defaultsBool("useGPU", true);
        s.wanted = qgetenv("QUASEL_OPENCL_DEVICE_TYPE").trimmed().toLower();
    }
    bool look = s.useGPU;
    if (look && s.wanted != "cpu" && s.wanted != "all") {
        const Answer answer = answerLocked(s);
        if (answer == Answer::Asking) return nullptr;
        look = answer == Answer::Gpu;
    }
    s.deviceMade = true;
    s.device = look ? lookForDevice(s.wanted) : nullptr;
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
        const MetalDevice* device = deviceLocked();
        if (!s.deviceMade) return nullptr;  // the probe has not answered
        s.libraryMade = true;
        if (device)
            s.library =
                buildLibrary(*device, s.sourceForTesting.isEmpty() ? QByteArray(stretchKernelSource)
                                                                   : s.sourceForTesting);
    }
    return s.library;
}

void waitForMetalProbe() {
    MetalState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    deviceLocked();
    s.answered.wait(lock,
                    [&] { return s.answer != Answer::Asking || s.stopping || !s.waitForProbe; });
}

void resetMetalForTesting(const QByteArray& kernelSource) {
    stopProbe();
    MetalState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.library) clReleaseProgram(s.library);
    if (s.device) {
        clReleaseContext(s.device->context);
        delete s.device;
    }
    s.library = nullptr;
    s.device = nullptr;
    s.deviceMade = s.libraryMade = s.settingsRead = false;
    s.answer = Answer::Unknown;
    s.waitForProbe = true;
    s.sourceForTesting = kernelSource;
}

void setGpuNodeFolderForTesting(const QString& folder) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().nodeFolder = folder.isEmpty() ? QStringLiteral("/dev") : folder;
}

int metalDeviceLookupsForTesting() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().lookups;
}
