// Decoding a camera RAW file's bytes with LibRaw into 48-bit RGB (16 bits per sample, rows
// packed, width x 6 bytes each), written straight into memory the caller provides.
//
// Plain C++ without Qt: the decode helper runs it, and tests run it in process to compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The caller's side of one decode.
class CameraRawSink {
  public:
    virtual ~CameraRawSink() = default;
    // Told the sensor's and the output's size once the file's header is read, before the
    // pixels are unpacked; false stops the decode (reason in `why`).
    virtual bool admit(int64_t rawPixels, int64_t width, int64_t height, std::string& why) {
        (void)rawPixels, (void)width, (void)height, (void)why;
        return true;
    }
    // Memory for width x height x 6 bytes of output, or nullptr to stop the decode.
    virtual uint8_t* pixels(int64_t width, int64_t height) = 0;
};

// Outcome of `decodeCameraRaw`.
enum class CameraRawResult {
    Decoded,       // the sink's memory holds the picture
    NotCameraRaw,  // LibRaw finds no camera RAW file it reads in the bytes
    Unreadable,    // LibRaw takes the file but cannot develop it, or the sink said no
    Implausible,   // the header claims more photosites than the bytes can carry (see `why`)
    OutOfMemory,   // an allocation failed, or the sink had no memory for the picture
};

// Decodes `size` bytes at `bytes`. A file whose sensor has more photosites than eight per
// byte of the file (fewer than one bit per photosite) is refused as Implausible before LibRaw
// allocates anything for its pixels: no real camera file is that small, and such headers are
// how a few kilobytes make LibRaw spend seconds and hundreds of megabytes. `why` receives the
// reason of any outcome but Decoded.
CameraRawResult decodeCameraRaw(const void* bytes, size_t size, CameraRawSink& sink,
                                std::string& why);
