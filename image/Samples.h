// Typed reads of packed samples.
//
// Bitmaps hand out their pixel memory as bytes, and a reader's rows need not start on a
// 2-byte boundary (a raw blob's pixels follow a 12-byte header inside a shared buffer), so
// 16-bit samples are read through memcpy, which compiles to one plain load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

template <typename T>
inline T loadSample(const uint8_t* base, size_t index) {
    T v;
    std::memcpy(&v, base + index * sizeof(T), sizeof(T));
    return v;
}

// Largest value of a sample type: the saturation level of a grey frame.
template <typename T>
constexpr uint32_t sampleMax() {
    return sizeof(T) == 1 ? 255u : 65535u;
}
