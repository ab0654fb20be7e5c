// The in-memory model of one opened picture file.
//
// An `Image` holds the decoded bitmap that every pixel operation reads, the statistics and
// stretch state the viewer shows and edits, the rendered-picture and histogram caches, the
// header keywords, the cells of a FITS table and one child per further FITS header-data unit.
// It does not keep the file's bytes: only a bitmap that reads its pixels in place from them
// (raw blobs, XISF) holds them. Fields are public: the viewer reads and writes them directly,
// and the caches are dropped by whoever changes the stretch, pattern or white balance.
//
// The operations live in files named after them: loading (Image.cpp), histogram and
// statistics (Histogram.cpp), rendering (Render.cpp), demosaicing and white balance
// (Demosaic.cpp), pixel readout and star probes (Probe.cpp).
#pragma once

#include "ImageDecoding.h"
#include "ImageRep.h"
#include "StringTable.h"

#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct _cl_mem;  // OpenCL buffer (the GPU rendering pass)
class PictureBuffer;

// `DebayerPattern` codes: bit 4 is the column and bit 0 the row of the red site.
enum DebayerPattern : int64_t {
    DebayerRGGB = 0,
    DebayerGBRG = 1,
    DebayerGRBG = 16,
    DebayerBGGR = 17,
    DebayerRaw = 255,  // no colour filter
};

// A star measurement: FWHM and HFD in pixels, peak above background.
struct PSFResult {
    double fwhm;  // full width at half maximum, pixels
    double hfd;   // half-flux diameter, pixels
    double peak;  // peak above the background, sample units
};

// A pixel read out by `valueAt`.
struct PixelValue {
    bool isColour;               // true: `rgb` holds the samples; false: `grey` does
    int64_t grey;                // grey sample (8 or 16 bits)
    std::array<int64_t, 3> rgb;  // colour samples (8 or 16 bits each)
    int64_t level;               // 8-bit intensity of the pixel
};

class Image;
using ImagePtr = std::shared_ptr<Image>;

class Image {
  public:
    int64_t autoBlackPoint = 0;              // black point found by the histogram
    int64_t autoWhitePoint = 65535;          // white point found by the histogram
    int64_t bitsPerPixel = 0;                // bits per pixel of the chosen bitmap
    int64_t width = 0;                       // pixels across
    int64_t height = 0;                      // pixels down
    int64_t min = 65535;                     // smallest sample
    int64_t max = 0;                         // largest sample
    int64_t average = 0;                     // mean sample
    int64_t median = 0;                      // median sample
    int64_t q1 = 0;                          // first quartile
    int64_t q3 = 0;                          // third quartile
    QByteArray data;                         // empty: the file's bytes are not kept once decoded
    std::shared_ptr<DecodedImage> original;  // the decoded image; a child never has one
    QImage cachedHistogram;                  // histogram picture cache; null when absent
    std::vector<ImagePtr> extensions;        // one child per further FITS HDU read, in HDU order
    std::optional<QString> name;             // value text of the HDU's "EXTNAME" (children only)
    int hdu = 0;                             // FITS number of its HDU: 0 primary, 1 first extension
    std::optional<StringTable> tabledata;    // cells of a FITS table HDU (children only)
    QString refusal;                         // why its FITS header was refused; empty if read
    bool isColour = false;                   // bitmap carries colour samples
    QString format;                          // file extension with its leading dot, lower-cased
    std::optional<QVariantMap> properties;   // image properties of the file; nothing reads them
    std::optional<StringTable> metadata;     // header keywords of a FITS HDU or XISF header
    int64_t size = 0;                        // width x height
    int64_t step = 3;                        // constant; nothing reads it
    std::shared_ptr<BitmapImageRep> originalImageRep;  // the bitmap; null means no picture
    QImage cached;  // rendered 8-bit picture cache; null when absent
    std::shared_ptr<BitmapImageRep> cachedImageRep;  // bitmap of the rendered picture
    uint8_t** cachedPlanes = nullptr;               // one plane pointer handed to the output bitmap
    uint8_t* cachedBitmapData = nullptr;            // 8-bit RGB render output, size x 3 bytes
    int64_t stackCount = 1;                         // always 1; nothing reads it
    int64_t _debayer = DebayerRaw;                  // DebayerPattern in use; 255 = raw
    bool _awb = false;                              // automatic white balance on
    std::array<uint64_t, 4> total4 = {0, 0, 0, 0};  // sums of the four 2 x 2 CFA positions
    float redCoef = 1.0f;                           // red white-balance coefficient
    float blueCoef = 1.0f;                          // blue white-balance coefficient
    int64_t _blackPoint = 0;                        // stretch black point in use
    int64_t _whitePoint = 65535;                    // stretch white point in use
    _cl_mem* metalBitmapData = nullptr;             // GPU copy of the source pixels
    _cl_mem* metalCachedBitmapData = nullptr;       // GPU buffer receiving the 8-bit output
    bool stretchedOnGPU = false;                    // the last render ran the GPU pass

    // Owner of cachedBitmapData's memory, shared with the pictures handed out over it.
    std::shared_ptr<PictureBuffer> cachedBitmapBuffer;

    // Builds an Image from a whole file's bytes and its extension (".fits", ".nef", ...).
    // Never fails: bytes that nothing decodes give an Image without picture.
    static ImagePtr create(const QByteArray& bytes, const QString& format);
    // Builds the child for one further FITS HDU representation of `parent`.
    static ImagePtr createForExtension(const Image& parent, const ImageRepPtr& rep);

    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // Histogram picture (256 x 128); computes statistics, total4 and the automatic points and
    // resets the stretch points to full scale when not cached. Null when the bitmap cannot
    // be sampled.
    QImage histogram();
    // Sets redCoef and blueCoef from total4, _debayer and _awb.
    void updateWhiteBalance();
    // Demosaics a packed grey frame into `output` (width x height x 3 bytes).
    void demosaic8(const uint8_t* source, uint8_t* output, int64_t w, int64_t h);
    void demosaic16(const uint16_t* source, uint8_t* output, int64_t w, int64_t h);
    // Runs the GPU pass into cachedBitmapData; false when the CPU path must run.
    bool stretchWithMetal();
    // The rendered 8-bit RGB picture (cached), or null when there is no bitmap.
    QImage renderedImage();

    // The pixel under picture point (x, y) (y upward from the bottom edge), or nothing.
    std::optional<PixelValue> valueAt(double x, double y) const;
    // The centroid of the star near (x, y), in picture coordinates, or nothing.
    std::optional<QPointF> selectionAt(double x, double y) const;
    // The measurement of the star at (x, y), or nothing.
    std::optional<PSFResult> psfAt(double x, double y) const;

    // True when the Image has a picture to show.
    bool hasPicture() const { return originalImageRep != nullptr; }

  private:
    Image();
};

// A copy of `image` turned by `angle` degrees counter-clockwise and mirrored.
QImage rotatedImage(bool flipHorizontally, bool flipVertically, double angle, const QImage& image);
