// Loading: how an Image comes into being from a file's bytes or from a further FITS HDU.
#include "Image.h"

#include "FITSImageRep.h"
#include "PictureBuffer.h"
#include "StretchWithMetal.h"
#include "XISFImageRep.h"

#include <cstdlib>

Image::Image() {
    cachedPlanes = static_cast<uint8_t**>(std::calloc(1, sizeof(uint8_t*)));
}

Image::~Image() {
    std::free(cachedPlanes);  // cachedBitmapData goes with cachedBitmapBuffer
    releaseMetalBuffers(*this);
}

// Takes the first bitmap among the representations, or nothing.
static std::shared_ptr<BitmapImageRep> firstBitmap(const ImageRepList& reps) {
    for (const ImageRepPtr& rep : reps)
        if (auto bitmap = std::dynamic_pointer_cast<BitmapImageRep>(rep)) return bitmap;
    return nullptr;
}

ImagePtr Image::create(const QByteArray& bytes, const QString& givenFormat) {
    ImagePtr image(new Image());
    // `data` stays empty: once decoded, the file's bytes are held only where the bitmap reads
    // them (a reader that shows its pixels in place keeps them), never again for the Image.
    image->format = givenFormat.toLower();

    // .nef and .arw files are camera RAW whatever their bytes (no reader of the registry sees
    // them); everything else goes through the registry, and bytes it does not claim under
    // another camera RAW extension are developed the same way: LibRaw, then Qt's readers when
    // LibRaw finds no camera RAW file in them.
    if (image->format == ".nef" || image->format == ".arw")
        image->original = DecodedImage::initWithCameraRawThenQt(bytes);
    else
        image->original = DecodedImage::initWithData(bytes, isCameraRawFormat(image->format));

    // The file's properties stand only when no bitmap comes out: a bitmap's EXIF replaces them
    // below. Asking for them is not free (every image-format plugin is loaded to probe the
    // bytes), so they are asked for only then.
    auto bitmap = image->original ? firstBitmap(image->original->representations) : nullptr;
    if (!bitmap) {
        image->properties = imageSourceProperties(bytes);
        return image;
    }

    image->originalImageRep = bitmap;
    image->width = bitmap->pixelsWide;
    image->height = bitmap->pixelsHigh;
    image->size = image->width * image->height;
    image->bitsPerPixel = bitmap->bitsPerPixel;
    image->properties = image->original->exif;

    if (auto fits = std::dynamic_pointer_cast<FITSImageRep>(bitmap)) {
        image->metadata = fits->metadata;
        if (fits->bufferSize == 0) {
            image->originalImageRep = nullptr;
            image->autoWhitePoint = 0;
            image->min = 0;
        }
        for (const auto& ext : fits->extensions)
            image->extensions.push_back(createForExtension(*image, ext));
        return image;
    }
    if (auto xisf = std::dynamic_pointer_cast<XISFImageRep>(bitmap))
        image->metadata = xisf->metadata;
    return image;
}

ImagePtr Image::createForExtension(const Image& parent, const ImageRepPtr& rep) {
    ImagePtr image(new Image());
    image->format = parent.format;

    auto bitmap = std::dynamic_pointer_cast<BitmapImageRep>(rep);
    if (bitmap) {
        image->originalImageRep = bitmap;
        image->width = bitmap->pixelsWide;
        image->height = bitmap->pixelsHigh;
        image->size = image->width * image->height;
        image->bitsPerPixel = bitmap->bitsPerPixel;
        if (auto fits = std::dynamic_pointer_cast<FITSImageRep>(bitmap)) {
            image->hdu = fits->hdu - 1;
            image->name = fits->name;
            image->metadata = fits->metadata;
            image->tabledata = fits->tabledata;
            image->refusal = fits->refusal;
            if (fits->bufferSize == 0) {
                image->originalImageRep = nullptr;
                image->autoWhitePoint = 0;
                image->min = 0;
            }
        }
    }
    image->histogram();
    return image;
}
