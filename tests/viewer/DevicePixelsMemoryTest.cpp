// Memory refused while the device pixels are worked out on the band threads: the picture is
// not made (a null one), nothing escapes a band, and the bands serve the next call as before.
// Allocations are refused by replacing the program's operator new: every request of at least
// a threshold fails while it is set, on whichever thread (the per-band scratch vectors are the
// only ones that large here).
#include "DevicePixels.h"
#include "NoisePicture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

std::atomic<size_t> refuseFrom{0};  // 0: refuse nothing

void* allocate(size_t size) {
    const size_t limit = refuseFrom.load();
    if (limit != 0 && size >= limit) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

// Refuses allocations of `bytes` or more while it lives.
struct Refusing {
    explicit Refusing(size_t bytes) { refuseFrom.store(bytes); }
    ~Refusing() { refuseFrom.store(0); }
};

}  // namespace

void* operator new(size_t size) {
    return allocate(size);
}
void* operator new[](size_t size) {
    return allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// All of `picture` at one device pixel per shown pixel, or reduced `by` times along both axes.
struct Whole {
    std::vector<PixelSpan> columns, rows;
    Whole(const QImage& picture, const PictureTurn& turn, int by) {
        const QSize shown = turn.shownSize(picture.size());
        columns = pixelSpans(0, shown.width() / by, by, shown.width());
        rows = pixelSpans(0, shown.height() / by, by, shown.height());
    }
};

}  // namespace

TEST(DevicePixelsMemory, RefusedInTheBandsGivesNoPictureAndTheBandsGoOn) {
    // Shown wide (unturned or half a turn: a scratch value per output column) and shown tall
    // (a quarter turn: scratch sums per output row of a band): either way the scratch of every
    // band is 16 kB or more, and there are several bands.
    const QImage wide = noisePicture(8192, 64);
    const struct {
        PictureTurn turn;
        int by;
    } cases[] = {{{0, false, false}, 1},
                 {{2, true, false}, 2},
                 {{1, false, false}, 1},
                 {{3, false, true}, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "turns " << c.turn.quarterTurns << " reduced by " << c.by);
        const Whole whole(wide, c.turn, c.by);
        const QImage made = devicePixels(wide, c.turn, whole.columns, whole.rows);
        ASSERT_FALSE(made.isNull());
        {
            Refusing refusing(16 * 1024);
            EXPECT_TRUE(devicePixels(wide, c.turn, whole.columns, whole.rows).isNull());
        }
        // The band threads are all still there and the next call is whole again.
        EXPECT_TRUE(devicePixels(wide, c.turn, whole.columns, whole.rows) == made);
    }
}
