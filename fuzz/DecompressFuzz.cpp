// Fuzz target: solvan_decompress on any bytes, into an output buffer whose capacity the first
// input byte chooses (0 to about 1 MB), so both the fitting and the too-small paths run.
#include "SolvanFuzzSupport.h"
#include "solvan_io.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t capacity = size_t(data[0]) * 4096 + data[0] % 7;
    std::vector<uint8_t> input(data + 1, data + size);  // exactly the stream's bytes
    std::vector<uint8_t> output(capacity);
    size_t produced = capacity;
    solvan_decompress(input.data(), input.size(), output.data(), &produced);
    if (produced > capacity) __builtin_trap();  // never more than the buffer holds
    return 0;
}
