// Recycled picture memory: a released picture's bytes serve the next one of the same size,
// and a picture still held is never handed out again.
#include "PictureBuffer.h"

#include <gtest/gtest.h>

namespace {

TEST(PictureBufferTest, ReleasedMemoryIsReusedHeldMemoryIsNot) {
    QImage first = recycledRgbPicture(33, 7);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.format(), QImage::Format_RGB888);
    EXPECT_EQ(first.bytesPerLine(), 100);  // 99 bytes rounded up to a multiple of 4
    first.fill(Qt::red);
    const uchar* firstBits = first.constBits();

    // Held: a second picture gets other memory, and writing it leaves the first alone.
    QImage second = recycledRgbPicture(33, 7);
    EXPECT_NE(second.constBits(), firstBits);
    second.fill(Qt::blue);
    EXPECT_EQ(first.pixel(5, 5), qRgb(255, 0, 0));

    // Released: the next picture of the same size takes its memory.
    first = QImage();
    QImage third = recycledRgbPicture(33, 7);
    EXPECT_EQ(third.constBits(), firstBits);

    // A copy keeps the memory alive like the original does.
    QImage copy = third;
    third = QImage();
    QImage fourth = recycledRgbPicture(33, 7);
    EXPECT_NE(fourth.constBits(), copy.constBits());

    // Another size never takes the spare.
    copy = QImage();
    QImage other = recycledRgbPicture(10, 10);
    ASSERT_FALSE(other.isNull());
    EXPECT_EQ(other.bytesPerLine(), 32);
    other.fill(Qt::green);
    EXPECT_EQ(other.pixel(9, 9), qRgb(0, 255, 0));
}

TEST(PictureBufferTest, EmptySizesGiveNoPicture) {
    EXPECT_TRUE(recycledRgbPicture(0, 5).isNull());
    EXPECT_TRUE(recycledRgbPicture(5, -1).isNull());
}

}  // namespace
