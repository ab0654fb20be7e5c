// ImageController: the star probe. The marker view reports clicks, drags, moves and exits here.
// A click selects the nearest star, refines it to its centroid, measures its FWHM, HFD and
// peak into the fields and the histories and draws the history graph and the star's detail;
// a drag marks a rectangle; a move reads out the pixel under the pointer. The window measures
// and draws the detail again after every re-render.
//
// The histories hold what was measured: a measurement that fails appends nothing, and the
// fields then show "--" rather than the numbers of an earlier measurement.
#include "ImageController.h"

#include "ClickableView.h"
#include "HistoryGraph.h"
#include "ImageView.h"
#include "ProbeTexts.h"
#include "StarDetail.h"
#include "ViewMapping.h"

#include <QLineEdit>

#include <algorithm>
#include <climits>

namespace {

void setText(QLineEdit* field, const QString& text) {
    if (field) field->setText(text);
}

}  // namespace

QPointF ImageController::pictureFromView(QPointF viewPoint) const {
    if (clickableView) return ::pictureFromView(viewPoint, clickableView->orientation());
    return viewPoint * effectiveScale(zoom);
}

QRectF ImageController::pictureFromView(QRectF viewRect) const {
    if (clickableView) return ::pictureFromView(viewRect, clickableView->orientation());
    const double z = effectiveScale(zoom);
    return {viewRect.topLeft() * z, viewRect.size() * z};
}

void ImageController::selectStar(QPointF viewPoint) {
    if (!current || !enableMarkers) return;
    history.clear();
    const QPointF p = pictureFromView(viewPoint);
    selectedStar = current->selectionAt(p.x(), p.y());
    if (selectedStar) {
        if (clickableView) {
            clickableView->pointMarker = selectedStar;
            clickableView->frameMarker.reset();
        }
        measureStar();
        drawStarDetail();
    } else {
        clearStarSelection();
    }
    if (clickableView) clickableView->update();
}

void ImageController::clearStarSelection() {
    if (clickableView) {
        clickableView->pointMarker.reset();
        clickableView->frameMarker.reset();
    }
    selectedStar.reset();
    shownMeasurement_.reset();
    for (QLineEdit* field : {fwhmField.data(), hfdField.data(), peakField.data()})
        setText(field, ProbeTexts::noValueText);
    if (detailImageView) detailImageView->setImage(QImage());
}

void ImageController::measureStar() {
    if (!current || !selectedStar) return;
    if (!fwhmField || !hfdField) return;

    const std::optional<PSFResult> measured = current->psfAt(selectedStar->x(), selectedStar->y());
    shownMeasurement_ = measured;
    if (measured) {
        const ProbeTexts::MeasurementTexts texts = ProbeTexts::measurementTexts(*measured);
        fwhmField->setText(texts.fwhm);
        hfdField->setText(texts.hfd);
        setText(peakField, texts.peak);
    } else {
        // Nothing measured here: no numbers of an earlier measurement stand for this one.
        for (QLineEdit* field : {fwhmField.data(), hfdField.data(), peakField.data()})
            setText(field, ProbeTexts::noValueText);
    }

    if (!psfImageView || !peakField) return;
    if (measured) history.appendMeasurement(*measured);
    psfImageView->setImage(drawHistoryGraph(history));
}

void ImageController::drawStarDetail() {
    if (!detailImageView) return;
    if (!current || !selectedStar) {
        detailImageView->setImage(QImage());
        return;
    }
    const QImage detail = ::drawStarDetail(*current, *selectedStar, shownMeasurement_);
    if (detail.isNull()) return;
    detailImageView->setImage(detail);
}

void ImageController::selectRectangle(QRectF viewRect) {
    if (!current || !enableMarkers) return;
    history.clear();
    const QRectF r = pictureFromView(viewRect);
    if (clickableView) {
        clickableView->frameMarker = r;
        clickableView->pointMarker.reset();
    }
    setText(selectedPixelField, ProbeTexts::rectangleText(r));
    if (clickableView) clickableView->update();
}

void ImageController::showPixelValue(QPointF viewPoint) {
    if (!current || !clickableView) return;
    // The pixel drawn under the pointer, mirroring included, found as the view paints it; it
    // is read at its own corner, so the coordinates shown read the same pixel again. Where no
    // picture is painted under the pointer the field says so, rather than keep the pixel
    // hovered before.
    const std::optional<QPoint> pixel = clickableView->picturePixelAt(viewPoint);
    const QPointF corner = pixel ? QPointF(*pixel) : QPointF();
    const std::optional<PixelValue> value =
        pixel ? current->valueAt(corner.x(), corner.y()) : std::nullopt;
    setText(selectedPixelField,
            value ? ProbeTexts::pixelValueText(corner, *value) : ProbeTexts::noValueText);
}

void ImageController::selectedWithPoint(QPointF point) {
    selectStar(point);
}

void ImageController::draggedWithRect(QRectF rect, bool) {
    selectRectangle(rect);
}

void ImageController::deselected() {
    clearStarSelection();
    if (clickableView) clickableView->update();
}

void ImageController::movedWithPoint(QPointF point) {
    showPixelValue(point);
}

void ImageController::exited() {
    setText(selectedPixelField, ProbeTexts::noValueText);
}
