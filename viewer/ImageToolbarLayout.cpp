#include "ImageToolbarLayout.h"

#include "ImageController.h"
#include "PanelWindow.h"
#include "ToolbarButton.h"
#include "ToolbarGlyphs.h"
#include "ToolbarItem.h"

#include <QHBoxLayout>
#include <QToolBar>

#include <initializer_list>

namespace {

// Tag 1 marks a toggle: drawn in the accent colour while on, mirrored by its menu entry.
ToolbarButton* toolbarButton(QWidget* parent, ToolbarGlyph glyph, const QString& toolTip,
                             bool toggle) {
    auto* button = new ToolbarButton(parent);
    button->setTag(toggle ? 1 : 0);
    button->setCheckable(toggle);
    button->setIcon(toolbarGlyph(glyph));
    button->setIconSize(kToolbarGlyphSize);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    return button;
}

// A toolbar item labelled `label` holding `buttons` side by side in `view`.
void addItem(QToolBar* toolbar, const QString& label, QWidget* view,
             std::initializer_list<ToolbarButton*> buttons) {
    auto* row = new QHBoxLayout(view);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (ToolbarButton* b : buttons)
        row->addWidget(b);
    toolbar->addAction(new ToolbarItem(label, view, toolbar));
}

template <typename Slot>
void sendTo(ToolbarButton* button, ImageController* controller, Slot slot) {
    QObject::connect(button, &QAbstractButton::clicked, controller, slot);
}

}  // namespace

void ImageToolbarLayout::build(PanelWindow* window, ImageController* c) {
    auto* toolbar = new QToolBar(QStringLiteral("Toolbar"), window);
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    window->setToolbar(toolbar);

    auto* fileView = new QWidget();
    ToolbarButton* load =
        toolbarButton(fileView, ToolbarGlyph::Load, QStringLiteral("Load Image"), false);
    ToolbarButton* save =
        toolbarButton(fileView, ToolbarGlyph::Save, QStringLiteral("Save Image"), false);
    load->setObjectName("loadButton");
    save->setObjectName("saveButton");
    addItem(toolbar, QStringLiteral("Image"), fileView, {load, save});
    sendTo(load, c, &ImageController::loadAction);
    sendTo(save, c, &ImageController::saveAction);

    auto* zoomView = new QWidget();
    ToolbarButton* zoomIn =
        toolbarButton(zoomView, ToolbarGlyph::ZoomIn, QStringLiteral("Zoom In"), false);
    ToolbarButton* fit =
        toolbarButton(zoomView, ToolbarGlyph::ZoomToFit, QStringLiteral("Zoom to Fit"), true);
    ToolbarButton* actual =
        toolbarButton(zoomView, ToolbarGlyph::ActualSize, QStringLiteral("Actual Size"), true);
    ToolbarButton* zoomOut =
        toolbarButton(zoomView, ToolbarGlyph::ZoomOut, QStringLiteral("Zoom Out"), false);
    fit->setChecked(true);  // the zoom follows the window at first
    addItem(toolbar, QStringLiteral("Zoom"), zoomView, {zoomIn, fit, actual, zoomOut});
    c->zoomInButton = zoomIn;
    c->zoomToFitButton = fit;
    c->actualSizeButton = actual;
    c->zoomOutButton = zoomOut;
    sendTo(zoomIn, c, &ImageController::zoomInAction);
    sendTo(fit, c, &ImageController::zoomToFitAction);
    sendTo(actual, c, &ImageController::zoomActualSizeAction);
    sendTo(zoomOut, c, &ImageController::zoomOutAction);

    auto* orientationView = new QWidget();
    ToolbarButton* ccw = toolbarButton(orientationView, ToolbarGlyph::RotateCCW,
                                       QStringLiteral("Rotate Counter-Clockwise"), true);
    ToolbarButton* cw = toolbarButton(orientationView, ToolbarGlyph::RotateCW,
                                      QStringLiteral("Rotate Clockwise"), true);
    ToolbarButton* flipH = toolbarButton(orientationView, ToolbarGlyph::FlipHorizontally,
                                         QStringLiteral("Flip Horizontally"), true);
    ToolbarButton* flipV = toolbarButton(orientationView, ToolbarGlyph::FlipVertically,
                                         QStringLiteral("Flip Vertically"), true);
    addItem(toolbar, QStringLiteral("Orientation"), orientationView, {ccw, cw, flipH, flipV});
    c->rotateCCWButton = ccw;
    c->rotateCWButton = cw;
    c->flipHorizontallyButton = flipH;
    c->flipVerticallyButton = flipV;
    sendTo(ccw, c, &ImageController::rotateCCWAction);
    sendTo(cw, c, &ImageController::rotateCWAction);
    sendTo(flipH, c, &ImageController::flipHorizontallyAction);
    sendTo(flipV, c, &ImageController::flipVerticallyActiob);

    auto* inspectView = new QWidget();
    ToolbarButton* inspect = toolbarButton(inspectView, ToolbarGlyph::InspectCorners,
                                           QStringLiteral("Inspect Corners"), true);
    addItem(toolbar, QStringLiteral("Inspect"), inspectView, {inspect});
    c->inspectCornersButton = inspect;
    sendTo(inspect, c, &ImageController::inspectCornersAction);

    // The panel toggles stand apart at the right end.
    auto* spacer = new QWidget();
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    auto* panelsView = new QWidget();
    ToolbarButton* left =
        toolbarButton(panelsView, ToolbarGlyph::LeftPanels, QStringLiteral("Left Panels"), true);
    ToolbarButton* bottom = toolbarButton(panelsView, ToolbarGlyph::BottomPanels,
                                          QStringLiteral("Bottom Panels"), true);
    ToolbarButton* right =
        toolbarButton(panelsView, ToolbarGlyph::RightPanels, QStringLiteral("Right Panels"), true);
    addItem(toolbar, QStringLiteral("Panels"), panelsView, {left, bottom, right});
    window->leftPanelsButton = left;
    window->rightPanelsButton = right;
    window->bottomPanelsButton = bottom;
    QObject::connect(left, &QAbstractButton::clicked, window, &PanelWindow::leftPanelsAction);
    QObject::connect(right, &QAbstractButton::clicked, window, &PanelWindow::rightPanelsAction);
    QObject::connect(bottom, &QAbstractButton::clicked, window, &PanelWindow::bottomPanelsAction);
}
