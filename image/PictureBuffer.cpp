#include "PictureBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

// Each buffer starts with a header naming its size; the pixels follow at a 64-byte offset.
struct BufferHeader {
    size_t pixelBytes;  // bytes of pixel memory after the header
};
constexpr size_t headerBytes = 64;

struct SparePool {
    std::mutex mutex;               // guards spare
    BufferHeader* spare = nullptr;  // the one released buffer kept for reuse, or none
};

// Never destroyed: pictures may be released during static destruction at exit.
SparePool& pool() {
    static SparePool* p = new SparePool;
    return *p;
}

uchar* pixelsOf(BufferHeader* b) {
    return reinterpret_cast<uchar*>(b) + headerBytes;
}

// QImage cleanup: keep the buffer as the spare (dropping an older one).
void release(void* info) {
    auto* buffer = static_cast<BufferHeader*>(info);
    BufferHeader* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(pool().mutex);
        old = pool().spare;
        pool().spare = buffer;
    }
    std::free(old);
}

BufferHeader* takeBuffer(size_t pixelBytes) {
    BufferHeader* spare = nullptr;
    {
        std::lock_guard<std::mutex> lock(pool().mutex);
        spare = pool().spare;
        pool().spare = nullptr;
    }
    if (spare && spare->pixelBytes == pixelBytes) return spare;
    std::free(spare);
    auto* fresh = static_cast<BufferHeader*>(std::malloc(headerBytes + pixelBytes));
    if (fresh) fresh->pixelBytes = pixelBytes;
    return fresh;
}

}  // namespace

QImage recycledRgbPicture(int width, int height) {
    if (width <= 0 || height <= 0) return {};
    const qsizetype rowBytes = (qsizetype(width) * 3 + 3) & ~qsizetype(3);  // Qt's row alignment
    const size_t pixelBytes = size_t(rowBytes) * size_t(height);
    BufferHeader* buffer = takeBuffer(pixelBytes);
    if (!buffer) return {};
    QImage picture(pixelsOf(buffer), width, height, rowBytes, QImage::Format_RGB888, release,
                   buffer);
    if (picture.isNull()) release(buffer);
    return picture;
}
