// The decode helper: the program `quasel-decode`, which runs the decoders that hostile bytes
// can break (CFITSIO's tile decompression, LibRaw) in a process of their own, one decode per
// process, under limits.
//
// The parent hands the file's bytes over in a memfd and maps the helper's output memfd, so
// pixels never pass through a pipe; a pipe carries only the helper's one-line report. The
// helper sets RLIMIT_CPU and RLIMIT_AS (a multiple of the expected pixel bytes plus a margin)
// on itself before it touches the bytes, and the parent kills it at a wall-clock deadline. A
// helper that cannot be started, crashes, runs out of a limit or of time, or reports a broken
// input gives no pixels and one log line naming the reason.
//
// Lookup of the program: the path set by `setPath`; else "quasel-decode" beside the running
// executable (how the viewer is installed); else the build tree's helper (test and bench
// executables); else the install prefix's bin folder.
#pragma once

#include "FITSPixels.h"
#include "ImageRep.h"

#include <QByteArray>

#include <memory>
#include <string>

class DecodeHelper {
  public:
    // Whether the risky decoders run in the helper (true, the default) or in this process
    // (tests compare the two paths).
    static bool isolated();
    static void setIsolated(bool isolated);

    // The helper program that the next decode starts. `setPath` with an empty text restores
    // the lookup.
    static std::string path();
    static void setPath(const std::string& path);

    // Reads the pixels of tile-compressed image HDU `hdu` (1-based) of `fileBytes` (whole
    // 2880-byte records) into `out`, layout.outputBytes() bytes. Returns false, with one log
    // line and `out` unspecified, when the helper fails in any way.
    static bool readFitsPixels(const QByteArray& fileBytes, int hdu, const FitsPixelLayout& layout,
                               uint8_t* out);

    // Decodes a camera RAW file into a 48-bit RGB bitmap whose pixel memory is the helper's
    // output mapping. Returns nullptr when the bytes are no camera RAW file (no log line) or
    // the helper fails (one log line).
    static std::shared_ptr<BitmapImageRep> decodeCameraRaw(const QByteArray& bytes);
};
