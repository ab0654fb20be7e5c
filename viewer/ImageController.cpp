// ImageController: the record, restoring the settings, presenting a new image and its
// statistics, and the tasks that run 0.1 s after an action.
#include "ImageController.h"

#include "CenteringView.h"
#include "ClickableView.h"
#include "Dispatch.h"
#include "FormattedInteger.h"
#include "ImageView.h"
#include "MainThread.h"
#include "Settings.h"
#include "Stepper.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>

#include <initializer_list>

namespace {

// Delay between a pattern, white-balance or zoom action and its deferred part, milliseconds.
constexpr int kLaterMs = 100;

// The stored pattern code, or raw when the store holds no pattern the window offers.
int64_t knownPattern(int64_t code) {
    switch (code) {
        case DebayerRGGB:
        case DebayerGBRG:
        case DebayerGRBG:
        case DebayerBGGR:
            return code;
        default:
            return DebayerRaw;
    }
}

void setEnabled(QWidget* widget, bool enabled) {
    if (widget) widget->setEnabled(enabled);
}

void setText(QLineEdit* field, const QString& text) {
    if (field) field->setText(text);
}

}  // namespace

ImageController::ImageController(QObject* parent) : QObject(parent) {}

ImageController::~ImageController() {
    if (clickableView && clickableView->delegate == this) clickableView->delegate = nullptr;
}

void ImageController::awakeFromNib() {
    // The scroll view follows the window's size; each of its resizes may refit the picture.
    if (scrollView) {
        resizeSource_ = scrollView;
        scrollView->installEventFilter(this);
    }

    UserDefaults& defaults = userDefaults();
    automaticStretch = defaults.defaultsBool("automaticStretch", true);
    if (automaticStretchButton) automaticStretchButton->setChecked(automaticStretch);
    _awb = defaults.defaultsBool("awb", false);
    // The button shows the white balance that every shown image gets (showImage passes it).
    if (awbButton) awbButton->setChecked(_awb);
    setDebayer(knownPattern(defaults.defaultsInteger("debayer", DebayerRaw)));
}

void ImageController::setCurrentImage(const ImagePtr& image) {
    const bool sameSize =
        current && image && current->width == image->width && current->height == image->height;
    if (!sameSize) clearStarSelection();
    current = image;
    if (!current) {
        for (QAbstractButton* b : {zoomInButton.data(), actualSizeButton.data(),
                                   zoomToFitButton.data(), zoomOutButton.data()})
            setEnabled(b, false);
        clearPicture();
        return;
    }
    const ImagePtr shown = current;  // kept alive whatever the presentation sets
    runOnMainSync([&] { showImage(*shown); });
}

void ImageController::showImage(Image& image) {
    for (QAbstractButton* b :
         {zoomInButton.data(), actualSizeButton.data(), zoomToFitButton.data(),
          zoomOutButton.data(), inspectCornersButton.data(), flipHorizontallyButton.data(),
          flipVerticallyButton.data(), rotateCWButton.data(), rotateCCWButton.data()})
        setEnabled(b, true);
    for (QWidget* w : std::initializer_list<QWidget*>{
             automaticStretchButton, blackPointField, whitePointField, blackPointSlider,
             blackPointStepper, whitePointSlider, whitePointStepper})
        setEnabled(w, true);

    setStretchControlRanges(image);

    image._debayer = _debayer;
    image._awb = _awb;
    image.cached = QImage();
    image.cachedHistogram = QImage();
    runOnGlobalSync([&image] { image.histogram(); });

    if (patternGroupConnected()) {
        if (image.isColour) {
            for (QAbstractButton* b : {rawButton.data(), rggbButton.data(), grbgButton.data(),
                                       gbrgButton.data(), bggrButton.data(), awbButton.data()})
                b->setEnabled(false);
            _debayer = DebayerRaw;
        } else {
            showPatternRadios();
        }
    }

    // After the histogram, which leaves its own full-scale points in the image.
    applyStretchPoints(image);

    releaseShownPicture();
    runOnGlobalSync([&image] { image.renderedImage(); });
    const QImage picture = image.renderedImage();
    if (picture.isNull()) {
        // Nothing to show: the previous picture and numbers would belie this image.
        clearPicture();
        return;
    }

    if (zoomToFit) zoom = fitZoom(QSizeF(picture.size()), 6);
    if (clickableView) {
        clickableView->scale = zoom;
        clickableView->angle = rotation;
        clickableView->flipHorizontally = flipHorizontally;
        clickableView->flipVertically = flipVertically;
        clickableView->setImage(picture);
    }
    if (histogramImageView) histogramImageView->setImage(image.cachedHistogram);
    showStatistics(image);
    trackSelectedStar();
}

void ImageController::showStatistics(Image& image) {
    setText(frameSizeField, formattedInteger(image.width) + " x " + formattedInteger(image.height));
    setText(minField, formattedInteger(image.min));
    setText(maxField, formattedInteger(image.max));
    setText(averageField, formattedInteger(image.average));
    // The quartiles of 16-bit samples are histogram bins: approximate.
    const QString about = image.bitsPerPixel == 16 ? QStringLiteral("~ ") : QString();
    setText(medianField, about + formattedInteger(image.median));
    setText(q1Field, about + formattedInteger(image.q1));
    setText(q3Field, about + formattedInteger(image.q3));
}

void ImageController::clearStatistics() {
    for (QLineEdit* field :
         {frameSizeField.data(), minField.data(), maxField.data(), averageField.data(),
          medianField.data(), q1Field.data(), q3Field.data()})
        setText(field, QStringLiteral("--"));
    if (histogramImageView) histogramImageView->setImage(QImage());
}

void ImageController::clearPicture() {
    if (clickableView) clickableView->setImage(QImage());
    clearStatistics();
}

void ImageController::releaseShownPicture() {
    if (clickableView) clickableView->setImage(QImage());
}

void ImageController::repaint() {
    if (clickableView) clickableView->update();
}

void ImageController::windowDidResize() {
    if (zoomToFit) applyZoomToFit();
}

bool ImageController::eventFilter(QObject* watched, QEvent* event) {
    // Compared as plain objects: a view in the middle of its destruction is no CenteringView
    // any more.
    if (event->type() == QEvent::Resize && watched == resizeSource_) windowDidResize();
    return QObject::eventFilter(watched, event);
}

void ImageController::runLater(std::function<void()> task) {
    later_.push_back(std::move(task));
    // Every timer runs the oldest waiting task, so the tasks keep the order of the actions.
    QTimer::singleShot(kLaterMs, this, &ImageController::runNextLater);
}

void ImageController::runNextLater() {
    if (later_.empty()) return;
    std::function<void()> task = std::move(later_.front());
    later_.pop_front();
    task();
}
