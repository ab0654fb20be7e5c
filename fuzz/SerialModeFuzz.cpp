// Fuzz target: the serial mode text of solvan_open_serial_with_config ("115200-7E2"), applied
// to a pseudo-terminal so accepted modes reach tcsetattr as they would on a real port.
#include "SolvanFuzzSupport.h"
#include "solvan_io.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {
std::string terminalPath;  // the pseudo-terminal's device, opened afresh by each call
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quietSolvanLog();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);  // kept open for the process
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
        terminalPath = ptsname(master);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string mode = inputText(data, size);
    const int handle = solvan_open_serial_with_config(
        terminalPath.empty() ? "/dev/null" : terminalPath.c_str(), mode.c_str());
    if (handle >= 0) close(handle);
    return 0;
}
