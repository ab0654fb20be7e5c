// The decode helper: the program `quasel-decode`, which runs the decoders that hostile bytes
// can break (CFITSIO's tile decompression, LibRaw) in a process of their own, one decode per
// process, under limits. It also counts the OpenCL platforms' GPU-type devices, loading the
// platforms where they cost this process nothing.
//
// The parent hands the file's bytes over in a sealed memfd (filled while the helper starts;
// one copy per file, shared by the decodes of all its HDUs and closed with the
// `DecodeHelper::Input` that holds it) and maps the helper's output memfd, so pixels never
// pass through a pipe; a pipe carries only the helper's one-line report. Every memfd the
// helper may write is sealed against shrinking and growing before the parent maps it (for
// FITS before the helper starts, for camera RAW, whose output the helper sizes, once the
// helper has gone) and its size is checked first, so no helper can make the parent fault on a
// truncated mapping. The sealed output mapping becomes the picture's pixel memory without a
// copy.
//
// Every run starts with its own descriptors alone: standard input (for a decode the socket
// that says the input is complete, else /dev/null), standard output on /dev/null, the
// caller's standard error, the report pipe on 3, and for a decode the input on 4 and the
// output on 5; nothing else the caller has open reaches it.
//
// The helper sets RLIMIT_CPU and RLIMIT_AS (a multiple of the expected pixel bytes plus a
// margin) on itself before it touches the bytes, and ends when the thread that started it
// does. It leads a session and process group of its own, without a controlling terminal:
// nothing it or a child of it (a decoder, an OpenCL driver) writes to the standard error it
// inherits can stop it (as a terminal with "tostop" stops a background group that writes to
// it), and what it writes there reaches the caller's log as it is. The parent keeps a
// wall-clock deadline until the helper has ended, then (or at the deadline) kills the whole
// group and reaps the helper, so neither a helper that closes its pipe and lingers nor a
// child it leaves behind holds the parent. The parent stops reading once the
// helper has exited with its report line complete. A helper that cannot be started, crashes,
// runs out of a limit or of time, is killed from outside, or reports a broken input gives no
// pixels and one log line naming the reason (the helper's CPU time tells a CPU-limit kill
// from a kill by another process).
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
#include <vector>

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

    // The bytes of one file as helpers read them: a sealed memfd holding a copy of `bytes`,
    // made by the first decode that asks for it (filled while its helper starts), shared by
    // every later decode through the same object, and closed with the object. Used by one
    // thread at a time.
    class Input {
      public:
        explicit Input(const QByteArray& bytes) : bytes_(bytes) {}
        ~Input();
        Input(const Input&) = delete;
        Input& operator=(const Input&) = delete;
        // The memfd, empty until `fill`; -1, with errno set, when it cannot be made (then at
        // every call).
        int fd();
        // Copies the bytes into the memfd and seals it whole, once. Returns false, with errno
        // set, when it cannot (a later call tries again where it stopped).
        bool fill();
        // Bytes of the file.
        uint64_t size() const { return uint64_t(bytes_.size()); }

      private:
        QByteArray bytes_;       // the file's bytes (shared with the caller, not copied)
        int fd_ = -1;            // the memfd, or -1 before the first call or when it failed
        int error_ = 0;          // errno of a failed memfd_create, or 0
        qsizetype written_ = 0;  // bytes copied so far
        bool filled_ = false;    // all copied and sealed
    };

    // Reads the pixels of tile-compressed image HDU `hdu` (1-based) of the file `input` holds
    // (whole 2880-byte records). Returns the helper's output, layout.outputBytes() bytes mapped
    // for reading and writing, which stays mapped while any copy of the pointer lives (the
    // bitmap keeps it as its pixel memory); nullptr, with one log line, when the helper fails
    // in any way.
    static std::shared_ptr<uint8_t> readFitsPixels(Input& input, int hdu,
                                                   const FitsPixelLayout& layout);

    // Decodes a camera RAW file into a 48-bit RGB bitmap whose pixel memory is the helper's
    // output mapping. Returns nullptr when the bytes are no camera RAW file (no log line; then
    // `*notCameraRaw`, when given, is set true) or the helper fails, including on a camera RAW
    // file it cannot develop (one log line; `*notCameraRaw` false).
    static std::shared_ptr<BitmapImageRep> decodeCameraRaw(const QByteArray& bytes,
                                                           bool* notCameraRaw = nullptr);

    // Asks the helper how many usable devices of GPU type (UsableOpenCLDevice.h) the installed
    // OpenCL platforms offer: it loads them in its own process (under a CPU limit of 2 s and
    // a deadline of 3 s, with no address-space limit), so this process never does for
    // nothing. The run is stopped at once, its helper killed, when `stopFd` (unless -1)
    // becomes readable. The helper gets `environment` ("NAME=value" texts: a copy taken
    // where the environment cannot change meanwhile), or this process's environment when it
    // is nullptr. Returns the count, or -1 with `failure` set to why the helper gave no answer
    // (nothing is logged); `*outOfTime`, when given, then tells whether it failed at its
    // deadline or its CPU limit (a slow driver start) rather than in another way.
    static long countOpenCLGpus(std::string& failure, int stopFd = -1,
                                const std::vector<std::string>* environment = nullptr,
                                bool* outOfTime = nullptr);
};
