#include "ImageController.h"

#include "CenteringView.h"
#include "ClickableView.h"

ImageController::ImageController(QObject* parent) : QObject(parent) {}

ImageController::~ImageController() = default;

void ImageController::awakeFromNib() {}

void ImageController::setCurrentImage(const ImagePtr& image) {
    current = image;
    if (clickableView) {
        clickableView->setImage(QImage());
        clickableView->setFrameSize(QSizeF(0, 0));
    }
    if (current) showImage(*current);
}

void ImageController::showImage(Image& image) {
    // Automatic stretch: the histogram's points, then a fresh rendering.
    image.histogram();
    image._blackPoint = image.autoBlackPoint;
    image._whitePoint = image.autoWhitePoint;
    image.cached = QImage();
    const QImage picture = image.renderedImage();
    if (picture.isNull() || !clickableView) return;
    clickableView->scale = 1.0;
    clickableView->setImage(picture);
}
