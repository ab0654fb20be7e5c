#include "CameraRawDecode.h"

#include <libraw/libraw.h>

#include <memory>
#include <new>

namespace {

CameraRawResult failure(int code, std::string& why) {
    why = libraw_strerror(code);
    if (code == LIBRAW_UNSUFFICIENT_MEMORY) return CameraRawResult::OutOfMemory;
    return CameraRawResult::Unreadable;
}

}  // namespace

CameraRawResult decodeCameraRaw(const void* bytes, size_t size, CameraRawSink& sink,
                                std::string& why) {
    if (size == 0) {
        why = "empty file";
        return CameraRawResult::NotCameraRaw;
    }
    try {
        auto raw = std::make_unique<LibRaw>();
        // A broken file is an ordinary outcome here: keep LibRaw's messages off stderr.
        raw->set_dataerror_handler([](void*, const char*, int) {}, nullptr);
        int code = raw->open_buffer(const_cast<void*>(bytes), size);
        // Identification refuses the format, or runs out of bytes before it knows one (a short
        // file, a TIFF whose directory lies past the end): no camera RAW file here.
        if (code == LIBRAW_FILE_UNSUPPORTED || code == LIBRAW_IO_ERROR) {
            why = libraw_strerror(code);
            return CameraRawResult::NotCameraRaw;
        }
        if (code != LIBRAW_SUCCESS) return failure(code, why);

        const auto& sizes = raw->imgdata.sizes;
        const int64_t rawPixels = int64_t(sizes.raw_width) * sizes.raw_height;
        if (uint64_t(rawPixels) > uint64_t(size) * 8) {
            why = "its header claims " + std::to_string(rawPixels) + " photosites in " +
                  std::to_string(size) + " bytes";
            return CameraRawResult::Implausible;
        }
        if (!sink.admit(rawPixels, sizes.width, sizes.height, why))
            return CameraRawResult::Unreadable;

        if ((code = raw->unpack()) != LIBRAW_SUCCESS) return failure(code, why);
        raw->imgdata.params.output_bps = 16;
        if ((code = raw->dcraw_process()) != LIBRAW_SUCCESS) return failure(code, why);

        int width = 0, height = 0, colors = 0, bps = 0;
        raw->get_mem_image_format(&width, &height, &colors, &bps);
        if (colors != 3 || bps != 16 || width <= 0 || height <= 0) {
            why = "not a three-colour 16-bit picture";
            return CameraRawResult::Unreadable;
        }
        uint8_t* out = sink.pixels(width, height);
        if (!out) {
            why = "no memory for the picture";
            return CameraRawResult::OutOfMemory;
        }
        if ((code = raw->copy_mem_image(out, width * 6, 0)) != LIBRAW_SUCCESS)
            return failure(code, why);
        return CameraRawResult::Decoded;
    } catch (const std::bad_alloc&) {
        why = "out of memory";
        return CameraRawResult::OutOfMemory;
    } catch (...) {
        why = "LibRaw failed";
        return CameraRawResult::Unreadable;
    }
}
