// ImageController: the black- and white-point controls (slider, stepper and field of each
// point) and the automatic-stretch toggle.
//
// 8-bit images use the range 0..255 in steps of 1; 16-bit images (16 or 48 bits per pixel) the
// range 0..65280 in steps of 16, the histogram's bins shifted up by 8. Values set from code
// never count as the user's: the sliders' signals are blocked while the controller sets them,
// and the steppers and fields announce only user actions.
#include "ClickableView.h"
#include "ImageController.h"
#include "IntegerValue.h"
#include "Settings.h"
#include "Stepper.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

namespace {

constexpr int kMax8 = 255;     // top of the 8-bit ranges
constexpr int kMax16 = 65280;  // top of the 16-bit ranges: bin 255 shifted up by 8
constexpr int kStep16 = 16;    // stepper increment and slider rounding for 16-bit images

void setSliderValue(QSlider* slider, int64_t value) {
    if (!slider) return;
    const QSignalBlocker quiet(slider);
    slider->setValue(
        static_cast<int>(std::clamp<int64_t>(value, slider->minimum(), slider->maximum())));
}

// Gives `slider` the new maximum and the value it held before, converted by `convert`.
template <typename Convert>
void rangeSlider(QSlider* slider, int maximum, Convert convert) {
    if (!slider) return;
    const int64_t before = slider->value();  // a lower maximum would lower the value first
    {
        const QSignalBlocker quiet(slider);
        slider->setMaximum(maximum);
    }
    setSliderValue(slider, convert(before));
}

template <typename Convert>
void rangeStepper(Stepper* stepper, int maximum, double increment, Convert convert) {
    if (!stepper) return;
    const int64_t before = stepper->integerValue();
    stepper->setMaximum(maximum);
    stepper->setIncrement(increment);
    stepper->setValue(static_cast<double>(convert(before)));
}

// Rounds toward zero to a multiple of the 16-bit step, unless the control has the 8-bit range.
int64_t onStep(int64_t value, double maximum) {
    return maximum == kMax8 ? value : value / kStep16 * kStep16;
}

}  // namespace

void ImageController::setStretchControlRanges(const Image& image) {
    if (!blackPointSlider) return;
    const bool sixteen = image.bitsPerPixel == 16 || image.bitsPerPixel == 48;
    const int maximum = blackPointSlider->maximum();
    if (!sixteen && maximum == kMax16) {
        auto down = [](int64_t v) { return v / 256; };
        rangeSlider(blackPointSlider, kMax8, down);
        rangeStepper(blackPointStepper, kMax8, 1, down);
        rangeSlider(whitePointSlider, kMax8, down);
        rangeStepper(whitePointStepper, kMax8, 1, down);
    } else if (sixteen && maximum == kMax8) {
        auto up = [](int64_t v) { return v * 256; };
        rangeSlider(blackPointSlider, kMax16, up);
        rangeStepper(blackPointStepper, kMax16, kStep16, up);
        rangeSlider(whitePointSlider, kMax16, up);
        rangeStepper(whitePointStepper, kMax16, kStep16, up);
    }
}

void ImageController::showStretchPoint(int64_t value, QLineEdit* field, QSlider* slider,
                                       Stepper* stepper) {
    setSliderValue(slider, value);
    if (field) field->setText(QString::number(value));
    if (stepper) stepper->setValue(static_cast<double>(value));
}

void ImageController::applyStretchPoints(Image& image) {
    if (automaticStretch) {
        image._blackPoint = image.autoBlackPoint;
        showStretchPoint(image._blackPoint, blackPointField, blackPointSlider, blackPointStepper);
        image._whitePoint = image.autoWhitePoint;
        showStretchPoint(image._whitePoint, whitePointField, whitePointSlider, whitePointStepper);
    } else {
        if (blackPointSlider) {
            image._blackPoint = blackPointSlider->value();
            showStretchPoint(image._blackPoint, blackPointField, nullptr, blackPointStepper);
        }
        if (whitePointSlider) {
            image._whitePoint = whitePointSlider->value();
            showStretchPoint(image._whitePoint, whitePointField, nullptr, whitePointStepper);
        }
    }
    image.cached = QImage();
}

void ImageController::rerender() {
    if (!current) return;
    releaseShownPicture();
    if (clickableView) clickableView->setImage(current->renderedImage());
    drawStarDetail();
}

void ImageController::automaticStretchAction() {
    toggleAutomaticStretch();
}

void ImageController::toggleAutomaticStretch() {
    if (!current) return;
    Image& image = *current;
    automaticStretch = !automaticStretch;
    if (automaticStretchButton) automaticStretchButton->setChecked(automaticStretch);
    if (automaticStretch) {
        applyStretchPoints(image);  // the automatic points, shown by their controls
    } else {
        // Full range: 0 up to the top of the white-point slider (255 or 65280).
        image._blackPoint = 0;
        showStretchPoint(0, blackPointField, blackPointSlider, blackPointStepper);
        image._whitePoint = whitePointSlider ? whitePointSlider->maximum() : image._whitePoint;
        showStretchPoint(image._whitePoint, whitePointField, whitePointSlider, whitePointStepper);
    }
    image.cached = QImage();
    userDefaults().setObject("automaticStretch", automaticStretch);
    rerender();
}

void ImageController::blackPointAction(QObject* sender) {
    adjustStretchPoint(sender, blackPointField, blackPointSlider, blackPointStepper,
                       &Image::_blackPoint);
}

void ImageController::whitePointAction(QObject* sender) {
    adjustStretchPoint(sender, whitePointField, whitePointSlider, whitePointStepper,
                       &Image::_whitePoint);
}

void ImageController::adjustStretchPoint(QObject* sender, QLineEdit* field, QSlider* slider,
                                         Stepper* stepper, int64_t Image::*point) {
    if (!current || !sender) return;
    automaticStretch = false;
    if (automaticStretchButton) automaticStretchButton->setChecked(false);

    int64_t value = 0;
    if (field && sender == field) {
        // As typed: no rounding, no clamping.
        value = integerValueOfText(field->text());
        setSliderValue(slider, value);
        if (stepper) stepper->setValue(static_cast<double>(value));
    } else if (stepper && sender == stepper) {
        value = onStep(stepper->integerValue(), stepper->maximum());
        setSliderValue(slider, value);
        if (field) field->setText(QString::number(value));
    } else if (slider && sender == slider) {
        value = onStep(slider->value(), slider->maximum());
        if (stepper) stepper->setValue(static_cast<double>(value));
        if (field) field->setText(QString::number(value));
        // While the knob is held only the stepper and field follow; the release, a key or a
        // click beside the knob renders.
        if (slider->isSliderDown()) return;
    } else {
        return;
    }
    (*current).*point = value;
    current->cached = QImage();
    rerender();
}
