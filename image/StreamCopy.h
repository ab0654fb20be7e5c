// Copying finished output rows to memory that will not be read again soon.
//
// A render's output is 72 MB for a 24-megapixel frame, far more than the caches hold. Plain
// stores first read each destination line into the cache; streaming stores write around it,
// which saves a third of the memory traffic. Other targets fall back to memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline void streamCopy(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(__SSE2__)
    if (n >= 256) {
        const size_t head = (16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15;
        std::memcpy(dst, src, head);
        dst += head, src += head, n -= head;
        for (; n >= 16; dst += 16, src += 16, n -= 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    }
#endif
    std::memcpy(dst, src, n);
}

// Orders the streaming stores of this thread before whatever follows (another thread reading
// the rows once the work is joined).
inline void streamFence() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}
