// Pixel memory of rendered pictures, shared by the Image that renders into it and by every
// picture handed out over it.
//
// A render writes its output once, into the Image's buffer, and hands out a read-only QImage
// over the same bytes. The QImage holds a reference to the buffer, so it stays valid after the
// Image is gone; while any such picture is alive the buffer counts as shown, and the next
// render takes another buffer instead of writing into one a picture still shows.
//
// A fresh 24-megapixel buffer is 72 MB of new pages, and faulting them in costs as much as the
// render itself, so the memory of a buffer nobody holds any more is kept as one spare,
// process-wide, and given to the next buffer of the same size.
#pragma once

#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class PictureBuffer {
  public:
    // A buffer of `bytes` bytes: the spare's memory (holding whatever it held) when it has that
    // size, else fresh zeroed memory. Null when `bytes` is 0 or the memory cannot be had.
    static std::shared_ptr<PictureBuffer> make(size_t bytes);

    // A read-only Format_RGB888 picture of width x height over the buffer's first
    // height x width x 3 bytes (rows packed, top row first), which keeps the buffer alive and
    // counts as showing it until its last copy is gone. Null when the rows do not fit the
    // buffer. Writing to the picture (non-const bits) detaches it onto memory of its own.
    static QImage picture(const std::shared_ptr<PictureBuffer>& buffer, int width, int height);

    ~PictureBuffer();  // the memory becomes the spare
    PictureBuffer(const PictureBuffer&) = delete;
    PictureBuffer& operator=(const PictureBuffer&) = delete;

    uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    // True while a picture over this buffer is alive: its bytes must not be written. Once it
    // reads false, every read of the released pictures has happened before.
    bool isShown() const { return pictures_.load(std::memory_order_acquire) != 0; }

  private:
    PictureBuffer(uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
    static void releasePicture(void* holder);

    uint8_t* bytes_;                // the pixel memory, size_ bytes
    size_t size_;                   // bytes of pixel memory
    std::atomic<int> pictures_{0};  // pictures alive over this buffer
};
