// ImageController: following the selected star across frames of equal size, the drift graph
// with its X and Y rates, the two guide-line crosses stored in the settings, and the drift and
// focus-mask tool panels.
#include "ImageController.h"

#include "ClickableView.h"
#include "DriftGraph.h"
#include "GuideLines.h"
#include "ImageView.h"
#include "ProbeTexts.h"
#include "Settings.h"
#include "StarTracking.h"
#include "ToolPanel.h"

#include <QLineEdit>

void ImageController::trackSelectedStar() {
    if (!current) return;
    const std::optional<QPointF> marker =
        clickableView ? clickableView->pointMarker : std::optional<QPointF>();
    if (marker) {
        selectedStar = refindStar(*current, *marker);
    } else {
        selectedStar.reset();
        if (detailImageView) detailImageView->setImage(QImage());
    }

    if (!selectedStar) {
        // A marked rectangle outlives the frame; a lost star ends the selection.
        if (!clickableView || !clickableView->frameMarker) clearStarSelection();
        return;
    }

    if (clickableView) {
        clickableView->pointMarker = selectedStar;
        clickableView->frameMarker.reset();
        clickableView->update();
    }
    history.appendPosition(*selectedStar);
    measureStar();
    drawStarDetail();
    // While the panel is hidden only the positions are kept; its graph catches up on the first
    // frame after it is shown.
    if (driftPanel && driftPanel->isVisible()) drawDrift();
}

void ImageController::drawDrift() {
    if (!driftImageView) return;
    const ProbeTexts::DriftRateTexts rates =
        ProbeTexts::driftRateTexts(driftRates(history.driftHistory));
    if (driftAXField) driftAXField->setText(rates.x);
    if (driftBXField) driftBXField->setText(rates.y);
    driftImageView->setImage(::drawDrift(history.driftHistory));
}

void ImageController::storeGuideLines(const QString& xKey, const QString& yKey) {
    GuideLines::storeGuideLines(xKey, yKey, selectedStar);
    if (clickableView) clickableView->update();
}

void ImageController::setGuideLines1() {
    storeGuideLines(GuideLines::x1Key, GuideLines::y1Key);
}

void ImageController::setGuideLines2() {
    storeGuideLines(GuideLines::x2Key, GuideLines::y2Key);
}

void ImageController::showPanel(ToolPanel* panel) {
    if (!panel) return;
    panel->makeKeyAndOrderFront();
    panel->setHidesOnDeactivate(userDefaults().defaultsBool("hidePanels", true));
}

void ImageController::showDrift() {
    showPanel(driftPanel);
}

void ImageController::showBahtinov() {
    showPanel(bahtinovPanel);
}
