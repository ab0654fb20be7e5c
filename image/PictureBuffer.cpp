#include "PictureBuffer.h"

#include <cstdlib>
#include <mutex>

namespace {

struct Spare {
    std::mutex mutex;          // guards the fields below
    uint8_t* bytes = nullptr;  // memory of the last buffer released, or none
    size_t size = 0;           // its size in bytes
};

// Never destroyed: pictures may be released during static destruction at exit.
Spare& spare() {
    static Spare* s = new Spare;
    return *s;
}

}  // namespace

std::shared_ptr<PictureBuffer> PictureBuffer::make(size_t bytes) {
    if (bytes == 0) return nullptr;
    uint8_t* memory = nullptr;
    uint8_t* other = nullptr;  // a spare of another size, dropped
    {
        std::lock_guard<std::mutex> lock(spare().mutex);
        if (spare().bytes && spare().size == bytes)
            memory = spare().bytes;
        else
            other = spare().bytes;
        spare().bytes = nullptr;
    }
    std::free(other);
    if (!memory) memory = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!memory) return nullptr;
    return std::shared_ptr<PictureBuffer>(new PictureBuffer(memory, bytes));
}

PictureBuffer::~PictureBuffer() {
    uint8_t* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(spare().mutex);
        old = spare().bytes;
        spare().bytes = bytes_;
        spare().size = size_;
    }
    std::free(old);
}

// QImage cleanup: the picture's last copy is gone.
void PictureBuffer::releasePicture(void* holder) {
    auto* buffer = static_cast<std::shared_ptr<PictureBuffer>*>(holder);
    (*buffer)->pictures_.fetch_sub(1, std::memory_order_release);
    delete buffer;
}

QImage PictureBuffer::picture(const std::shared_ptr<PictureBuffer>& buffer, int width, int height) {
    if (!buffer || width <= 0 || height <= 0) return {};
    const size_t rowBytes = size_t(width) * 3;
    if (rowBytes > size_t(INT32_MAX) || size_t(height) > buffer->size_ / rowBytes) return {};
    buffer->pictures_.fetch_add(1, std::memory_order_relaxed);
    auto* holder = new std::shared_ptr<PictureBuffer>(buffer);
    QImage shown(static_cast<const uchar*>(buffer->bytes_), width, height, qsizetype(rowBytes),
                 QImage::Format_RGB888, releasePicture, holder);
    if (shown.isNull()) releasePicture(holder);  // Qt refused it and will not call back
    return shown;
}
