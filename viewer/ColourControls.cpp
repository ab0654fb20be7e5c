// ImageController: the colour-filter pattern radios and the white-balance button.
//
// A pattern or white-balance choice takes effect 0.1 s after the click, on the main thread, in
// the order of the clicks; the radio's own state is left to the control until then. A new
// pattern drops the histogram and the statistics with the picture; white balance drops only
// the picture.
#include "ClickableView.h"
#include "ImageController.h"
#include "ImageView.h"
#include "MainThread.h"
#include "Settings.h"

#include <QAbstractButton>

namespace {

bool isBayerPattern(int64_t code) {
    return code == DebayerRGGB || code == DebayerGBRG || code == DebayerGRBG || code == DebayerBGGR;
}

}  // namespace

bool ImageController::patternGroupConnected() const {
    return rawButton && rggbButton && grbgButton && gbrgButton && bggrButton && awbButton;
}

void ImageController::showPatternRadios() {
    QAbstractButton* radios[] = {rawButton, rggbButton, grbgButton, gbrgButton, bggrButton};
    for (QAbstractButton* radio : radios) {
        radio->setEnabled(true);
        radio->setChecked(false);
    }
    QAbstractButton* on = rawButton;
    switch (_debayer) {
        case DebayerRGGB:
            on = rggbButton;
            break;
        case DebayerGBRG:
            on = gbrgButton;
            break;
        case DebayerGRBG:
            on = grbgButton;
            break;
        case DebayerBGGR:
            on = bggrButton;
            break;
        default:
            break;
    }
    on->setChecked(true);
    awbButton->setEnabled(isBayerPattern(_debayer));
}

void ImageController::rggbAction() {
    schedulePattern(DebayerRGGB);
}

void ImageController::grbgAction() {
    schedulePattern(DebayerGRBG);
}

void ImageController::gbrgAction() {
    schedulePattern(DebayerGBRG);
}

void ImageController::bggrAction() {
    schedulePattern(DebayerBGGR);
}

void ImageController::rawAction() {
    schedulePattern(DebayerRaw);
}

void ImageController::schedulePattern(int64_t code) {
    runLater([this, code] { setDebayer(code); });
}

void ImageController::setDebayer(int64_t code) {
    _debayer = code;
    if (current && patternGroupConnected()) runOnMainSync([this] { applyDebayer(); });
}

void ImageController::applyDebayer() {
    if (!current) return;
    Image& image = *current;
    showPatternRadios();

    image._debayer = _debayer;
    image.cached = QImage();
    image.cachedHistogram = QImage();
    UserDefaults& defaults = userDefaults();
    defaults.setObject("debayer", qlonglong(_debayer));
    defaults.synchronize();

    const QImage histogram = image.histogram();
    if (histogramImageView) histogramImageView->setImage(histogram);
    applyStretchPoints(image);

    releaseShownPicture();
    const QImage picture = image.renderedImage();
    if (picture.isNull()) return;
    if (clickableView) clickableView->setImage(picture);
    showStatistics(image);
    drawStarDetail();
    measureStar();
}

void ImageController::awbAction() {
    // The state at the click, not 0.1 s later.
    const bool on = awbButton && awbButton->isChecked();
    runLater([this, on] { awbChanged(on); });
}

void ImageController::awbChanged(bool buttonOn) {
    _awb = buttonOn;
    if (current) runOnMainSync([this] { applyWhiteBalance(); });
}

void ImageController::applyWhiteBalance() {
    if (!current) return;
    Image& image = *current;
    image._awb = _awb;
    image.cached = QImage();
    UserDefaults& defaults = userDefaults();
    defaults.setObject("awb", _awb);
    defaults.synchronize();

    // The coefficients come from the rendering; the histogram stays as it is.
    releaseShownPicture();
    const QImage picture = image.renderedImage();
    if (picture.isNull()) return;
    if (clickableView) clickableView->setImage(picture);
    drawStarDetail();
    measureStar();
}
