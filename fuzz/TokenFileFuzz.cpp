// Fuzz target: the device token file loader (solvan_load_device_tokens) on a file holding the
// input, then the saver writing whatever was loaded.
#include "SolvanFuzzSupport.h"
#include "solvan_token.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace {

// A file in memory with the given bytes; its /proc path opens it by name.
struct MemoryFile {
    int fd = memfd_create("tokens", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    ~MemoryFile() { close(fd); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quietSolvanLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile in, out;
    if (in.fd < 0 || out.fd < 0) return 0;
    if (write(in.fd, data, size) != ssize_t(size)) return 0;
    solvan_clear_device_tokens();
    solvan_load_device_tokens(in.path.c_str());
    solvan_save_device_tokens(out.path.c_str());
    solvan_clear_device_tokens();
    return 0;
}
