#include "ImageProbeLayout.h"

#include "DriftGraph.h"
#include "HistoryGraph.h"
#include "ImageController.h"
#include "ImageView.h"
#include "ProbeTexts.h"
#include "StarDetail.h"
#include "ToolPanel.h"
#include "ValueField.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A read-only value field showing `text` until the probe fills it.
QLineEdit* probeField(const char* name, const QString& text = ProbeTexts::noValueText) {
    return valueField(name, text);
}

// A tool panel over `window` at `anchor` (fractions of the window), with a column to fill.
ToolPanel* toolPanel(QWidget* window, QPointF anchor, const char* name, const QString& title,
                     QVBoxLayout** column) {
    auto* panel = new ToolPanel(window, anchor);
    panel->setObjectName(QLatin1String(name));
    panel->setWindowTitle(title);
    *column = new QVBoxLayout(panel);
    (*column)->setContentsMargins(8, 8, 8, 8);
    return panel;
}

// A picture view of a fixed size on a dark ground, so the graphs' white and coloured
// strokes stand out.
ImageView* graphView(const char* name, QSize size, bool darkGround) {
    auto* view = new ImageView();
    view->setObjectName(QLatin1String(name));
    view->setFixedSize(size);
    if (darkGround) {
        view->setAutoFillBackground(true);
        QPalette palette = view->palette();
        palette.setColor(QPalette::Window, QColor(24, 24, 24));
        view->setPalette(palette);
    }
    return view;
}

void buildRightPanel(QWidget* panel, ImageController* c) {
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(2, 6, 2, 6);
    column->setSpacing(6);

    // At its own size and unfiltered, so each image pixel stays a sharp 20-point square.
    c->detailImageView =
        graphView("detailImageView", QSize(StarDetail::size, StarDetail::size), true);
    c->detailImageView->smoothScaling = false;
    column->addWidget(c->detailImageView, 0, Qt::AlignHCenter);

    auto* form = new QFormLayout();
    form->setContentsMargins(6, 0, 6, 0);
    form->setVerticalSpacing(0);
    c->fwhmField = probeField("fwhmField");
    c->hfdField = probeField("hfdField");
    c->peakField = probeField("peakField");
    form->addRow(QStringLiteral("FWHM"), c->fwhmField);
    form->addRow(QStringLiteral("HFD"), c->hfdField);
    form->addRow(QStringLiteral("Peak"), c->peakField);
    column->addLayout(form);

    // The panel's frame leaves a few points less than the graph's width; it scales to fit.
    c->psfImageView =
        graphView("psfImageView", QSize(HistoryGraph::width, HistoryGraph::height), true);
    c->psfImageView->setMinimumWidth(HistoryGraph::width / 2);
    c->psfImageView->setMaximumWidth(HistoryGraph::width);
    column->addWidget(c->psfImageView);
    column->addStretch(1);
}

QPushButton* actionButton(QWidget* parent, const QString& title, const char* name,
                          ImageController* c, void (ImageController::*action)()) {
    auto* button = new QPushButton(title, parent);
    button->setObjectName(QLatin1String(name));
    button->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button, &QPushButton::clicked, c, action);
    return button;
}

void buildBottomPanel(QWidget* panel, ImageController* c) {
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setVerticalSpacing(4);

    c->selectedPixelField = probeField("selectedPixelField");
    c->selectedPixelField->setAlignment(Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Pixel")), 0, 0);
    grid->addWidget(c->selectedPixelField, 0, 1, 1, 4);

    grid->addWidget(actionButton(panel, QStringLiteral("Guide Lines 1"), "guideLines1Button", c,
                                 &ImageController::setGuideLines1),
                    1, 1);
    grid->addWidget(actionButton(panel, QStringLiteral("Guide Lines 2"), "guideLines2Button", c,
                                 &ImageController::setGuideLines2),
                    1, 2);
    grid->addWidget(
        actionButton(panel, QStringLiteral("Drift"), "driftButton", c, &ImageController::showDrift),
        1, 3);
    grid->addWidget(actionButton(panel, QStringLiteral("Focus Mask"), "bahtinovButton", c,
                                 &ImageController::showBahtinov),
                    1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(2, 1);
}

// The drift graph with its X and Y rates below it.
ToolPanel* driftPanel(QWidget* window, ImageController* c) {
    QVBoxLayout* column = nullptr;
    ToolPanel* panel =
        toolPanel(window, QPointF(0.5, 0.82), "driftPanel", QStringLiteral("Drift"), &column);
    // The graph's grid is drawn in the secondary text colour: it sits on the panel's own
    // ground.
    c->driftImageView =
        graphView("driftImageView", QSize(DriftGraph::width, DriftGraph::height), false);
    column->addWidget(c->driftImageView);
    auto* rates = new QHBoxLayout();
    c->driftAXField = probeField("driftAXField", QStringLiteral("X --"));
    c->driftBXField = probeField("driftBXField", QStringLiteral("Y --"));
    c->driftAXField->setAlignment(Qt::AlignLeft);
    c->driftBXField->setAlignment(Qt::AlignLeft);
    rates->addWidget(c->driftAXField);
    rates->addWidget(c->driftBXField);
    column->addLayout(rates);
    panel->adjustSize();
    return panel;
}

// The focus-mask panel: a picture and the focus error with its unit and the critical focus
// zone. Nothing fills them yet.
ToolPanel* bahtinovPanel(QWidget* window, ImageController* c) {
    QVBoxLayout* column = nullptr;
    ToolPanel* panel = toolPanel(window, QPointF(0.8, 0.45), "bahtinovPanel",
                                 QStringLiteral("Focus Mask"), &column);
    c->bahtinovImageView = graphView("bahtinovImageView", QSize(200, 200), true);
    column->addWidget(c->bahtinovImageView);
    auto* form = new QFormLayout();
    auto* error = new QHBoxLayout();
    c->focusErrorField = probeField("focusErrorField");
    c->focusErrorUnitField = probeField("focusErrorUnitField", QString());
    c->focusErrorUnitField->setAlignment(Qt::AlignLeft);
    error->addWidget(c->focusErrorField);
    error->addWidget(c->focusErrorUnitField);
    form->addRow(QStringLiteral("Focus error"), error);
    c->cfzField = probeField("cfzField");
    form->addRow(QStringLiteral("CFZ"), c->cfzField);
    column->addLayout(form);
    panel->adjustSize();
    return panel;
}

}  // namespace

void ImageProbeLayout::build(QWidget* rightPanel, QWidget* bottomPanel, QWidget* window,
                             ImageController* c) {
    buildRightPanel(rightPanel, c);
    buildBottomPanel(bottomPanel, c);
    c->driftPanel = driftPanel(window, c);
    c->bahtinovPanel = bahtinovPanel(window, c);
}
