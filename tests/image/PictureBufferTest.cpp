// Shared picture memory: a picture keeps its buffer alive and marks it shown; a buffer nobody
// holds any more serves the next one of the same size.
#include "PictureBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

TEST(PictureBufferTest, PictureSharesTheBytesAndMarksThemShown) {
    auto buffer = PictureBuffer::make(33 * 7 * 3);
    ASSERT_TRUE(buffer);
    std::memset(buffer->data(), 0x40, buffer->size());
    EXPECT_FALSE(buffer->isShown());

    QImage picture = PictureBuffer::picture(buffer, 33, 7);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.format(), QImage::Format_RGB888);
    EXPECT_EQ(picture.bytesPerLine(), 99);  // packed rows
    EXPECT_EQ(picture.constBits(), buffer->data());
    EXPECT_TRUE(buffer->isShown());

    // A copy shows the buffer as long as the original does.
    QImage copy = picture;
    picture = QImage();
    EXPECT_TRUE(buffer->isShown());

    // Writing to the picture never writes into the shared memory.
    copy.setPixel(0, 0, qRgb(1, 2, 3));
    EXPECT_NE(copy.constBits(), buffer->data());
    EXPECT_EQ(buffer->data()[0], 0x40);
    EXPECT_FALSE(buffer->isShown());
}

TEST(PictureBufferTest, PictureOutlivesItsOwnerAndReleasedMemoryIsReused) {
    auto buffer = PictureBuffer::make(4 * 2 * 3);
    ASSERT_TRUE(buffer);
    std::memset(buffer->data(), 0x7f, buffer->size());
    const uint8_t* memory = buffer->data();
    QImage picture = PictureBuffer::picture(buffer, 4, 2);
    buffer.reset();

    // Held by the picture alone: its bytes stay, and no new buffer takes them.
    auto other = PictureBuffer::make(4 * 2 * 3);
    ASSERT_TRUE(other);
    EXPECT_NE(other->data(), memory);
    std::memset(other->data(), 0, other->size());
    EXPECT_EQ(picture.pixel(3, 1), qRgb(0x7f, 0x7f, 0x7f));

    // Released by all: the next buffer of the same size takes the memory.
    other.reset();
    picture = QImage();
    auto again = PictureBuffer::make(4 * 2 * 3);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->data(), memory);

    // Another size never takes the spare (which still holds the old bytes): its memory is
    // fresh and zeroed.
    again.reset();
    auto larger = PictureBuffer::make(4 * 2 * 3 + 1);
    ASSERT_TRUE(larger);
    for (size_t i = 0; i < larger->size(); ++i)
        EXPECT_EQ(larger->data()[i], 0);
}

TEST(PictureBufferTest, ReleaseOnAnotherThreadOrdersItsReadsBeforeTheNextWrite) {
    auto buffer = PictureBuffer::make(64 * 64 * 3);
    ASSERT_TRUE(buffer);
    std::memset(buffer->data(), 7, buffer->size());
    std::atomic<int> sum{0};
    // The viewer's thread reads the picture and lets it go; nothing else orders the threads
    // (ThreadSanitizer checks that the write below comes after the reads).
    std::thread viewer([picture = PictureBuffer::picture(buffer, 64, 64), &sum]() mutable {
        int total = 0;
        for (int y = 0; y < picture.height(); ++y)
            total += picture.constScanLine(y)[y];
        sum = total;
        picture = QImage();
    });
    while (buffer->isShown())
        std::this_thread::yield();
    std::memset(buffer->data(), 9, buffer->size());  // what the next render does
    viewer.join();
    EXPECT_EQ(sum, 64 * 7);
}

TEST(PictureBufferTest, RowsThatDoNotFitGiveNoPicture) {
    auto buffer = PictureBuffer::make(10 * 10 * 3);
    ASSERT_TRUE(buffer);
    EXPECT_TRUE(PictureBuffer::picture(buffer, 10, 11).isNull());
    EXPECT_TRUE(PictureBuffer::picture(buffer, 0, 5).isNull());
    EXPECT_TRUE(PictureBuffer::picture(nullptr, 1, 1).isNull());
    EXPECT_FALSE(buffer->isShown());
    EXPECT_FALSE(PictureBuffer::make(0));
}

}  // namespace
