// ImageController: zoom, quarter turns, flips and corner inspection.
//
// These change only how the marker view lays out the picture it already has; nothing is
// rendered again. Zoom in stops at 0.25 (four points per image pixel), zoom out at 8, and
// neither ever moves the zoom the wrong way: a fitted zoom already past a limit stays; zoom to
// fit takes whatever fits. The fit and actual-size buttons show, 0.1 s after the action,
// whether the zoom follows the window or shows one image pixel per point.
#include "CenteringView.h"
#include "ClickableView.h"
#include "ImageController.h"
#include "ViewMapping.h"

#include <QAbstractButton>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kMinZoom = 0.25;  // zoom in stops here
constexpr double kMaxZoom = 8.0;   // zoom out stops here
constexpr double kFitMargin = 10;  // points kept free around a fitted picture

}  // namespace

void ImageController::zoomInAction() {
    zoomIn();
}

void ImageController::zoomActualSizeAction() {
    zoomActualSize();
}

void ImageController::zoomToFitAction() {
    applyZoomToFit();
}

void ImageController::zoomOutAction() {
    zoomOut();
}

void ImageController::inspectCornersAction() {
    toggleInspectCorners();
}

void ImageController::flipHorizontallyAction() {
    applyFlipHorizontally();
}

void ImageController::flipVerticallyActiob() {
    applyFlipVertically();
}

void ImageController::rotateCWAction() {
    applyRotateCW();
}

void ImageController::rotateCCWAction() {
    applyRotateCCW();
}

void ImageController::updateMarkerView() {
    if (!clickableView) return;
    clickableView->scale = zoom;
    clickableView->angle = rotation;
    clickableView->flipHorizontally = flipHorizontally;
    clickableView->flipVertically = flipVertically;
    clickableView->setImage(clickableView->image());
}

double ImageController::fitZoom(QSizeF pictureSize, double margin) const {
    if (!scrollView) return zoom;
    // A scroll view narrower than its margin still divides by a positive width.
    const double w = std::max(scrollView->width() - margin, 1.0);
    const double h = std::max(scrollView->height() - margin, 1.0);
    return std::max(pictureSize.width() / w, pictureSize.height() / h);
}

QPointF ImageController::zoomCentre() const {
    if (selectedStar) return *selectedStar;
    if (!scrollView || !clickableView) return {};
    // The middle of the visible area, as the image point under it (turns and flips undone).
    const QPointF middle = scrollView->boundsRect().center();
    return pictureFromView(toYUp(middle, clickableView->frameSize().height()));
}

void ImageController::scrollToCentre(QPointF centre) {
    if (!scrollView || !scrollView->documentView() || !clickableView) return;
    const QPointF view = viewFromPicture(centre, clickableView->orientation());
    const QPointF middle = toYDown(view, clickableView->frameSize().height());
    const QSize visible = scrollView->viewport()->size();
    scrollView->horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(middle.x() - visible.width() * 0.5)));
    scrollView->verticalScrollBar()->setValue(
        static_cast<int>(std::lround(middle.y() - visible.height() * 0.5)));
}

void ImageController::changeZoom(double newZoom, bool actualSizeState) {
    const QPointF centre = zoomCentre();
    zoomToFit = false;
    runLater([this, actualSizeState] { setZoomButtonStates(false, actualSizeState); });
    zoom = newZoom;
    updateMarkerView();
    scrollToCentre(centre);
}

void ImageController::zoomIn() {
    changeZoom(std::min(zoom, std::max(zoom * 0.5, kMinZoom)), false);
}

void ImageController::zoomActualSize() {
    changeZoom(1.0, true);
}

void ImageController::zoomOut() {
    changeZoom(std::max(zoom, std::min(zoom * 2.0, kMaxZoom)), false);
}

void ImageController::applyZoomToFit() {
    const QImage picture = current ? current->renderedImage() : QImage();
    if (picture.isNull()) {
        // Nothing to fit, so nothing changes; but a click has already turned the fit button
        // over, and it must go on showing whether the next image will be fitted.
        if (zoomToFitButton) zoomToFitButton->setChecked(zoomToFit);
        return;
    }
    zoomToFit = true;
    runLater([this] { setZoomButtonStates(true, false); });
    QSizeF size(picture.size());
    if (rotation != 0) size.transpose();
    zoom = fitZoom(size, kFitMargin);
    updateMarkerView();
}

void ImageController::setZoomButtonStates(bool fit, bool actualSize) {
    if (zoomToFitButton) zoomToFitButton->setChecked(fit);
    if (actualSizeButton) actualSizeButton->setChecked(actualSize);
}

void ImageController::toggleInspectCorners() {
    const bool on = inspectCornersButton && inspectCornersButton->isChecked();
    for (QAbstractButton* b : {zoomInButton.data(), zoomOutButton.data(), zoomToFitButton.data(),
                               actualSizeButton.data()})
        if (b) b->setEnabled(!on);
    if (!clickableView) return;
    clickableView->inspectCornersState = on;
    clickableView->setImage(clickableView->image());
}

void ImageController::applyFlipHorizontally() {
    if (!flipHorizontallyButton) return;
    flipHorizontally = flipHorizontallyButton->isChecked();
    updateMarkerView();
}

void ImageController::applyFlipVertically() {
    if (!flipVerticallyButton) return;
    flipVertically = flipVerticallyButton->isChecked();
    updateMarkerView();
}

void ImageController::applyRotateCW() {
    if (!rotateCWButton || !rotateCCWButton) return;
    rotateCCWButton->setChecked(false);
    rotation = rotateCWButton->isChecked() ? -90 : 0;
    updateMarkerView();
    if (zoomToFit) applyZoomToFit();
}

void ImageController::applyRotateCCW() {
    if (!rotateCWButton || !rotateCCWButton) return;
    rotateCWButton->setChecked(false);
    rotation = rotateCCWButton->isChecked() ? 90 : 0;
    updateMarkerView();
    if (zoomToFit) applyZoomToFit();
}
