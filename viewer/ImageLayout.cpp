#include "ImageLayout.h"

#include "BottomPanel.h"
#include "CenterPanel.h"
#include "CenteringView.h"
#include "ClickableView.h"
#include "Document.h"
#include "ImageController.h"
#include "ImageControlsLayout.h"
#include "ImageProbeLayout.h"
#include "ImageToolbarLayout.h"
#include "LeftPanel.h"
#include "PanelWindow.h"
#include "RightPanel.h"
#include "ToolbarButton.h"
#include "ToolbarGlyphs.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kLeftWidth = 250;     // L: left panels (statistics, histogram, stretch, pattern)
constexpr int kRightWidth = 200;    // R: right panels
constexpr int kBottomHeight = 140;  // B: bottom panels
constexpr int kButtonStrip = 25;    // side panels start above the strip with the mini-view toggle

}  // namespace

void ImageLayout::build(Document* owner) {
    auto* window = new PanelWindow();
    window->setObjectName("ImageWindow");
    window->minSize = QSize(640, 480);
    // The first frame, before any stored one: centred on the screen and no larger than it.
    QRect frame(0, 0, 1100, 760);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        frame.setSize(frame.size().boundedTo(area.size()).expandedTo(window->minSize));
        frame.moveCenter(area.center());
    }
    window->setGeometry(frame);

    auto* controller = new ImageController(window);
    ImageToolbarLayout::build(window, controller);

    // Content: panels placed bottom-up; the window lays them out at wake.
    QWidget* content = window->contentView();
    content->resize(1100, 720);
    const double W = content->width();
    const double H = content->height();
    auto* left = new LeftPanel(content);
    left->setObjectName("leftPanel");
    window->setFrameOf(left, QRectF(7, kButtonStrip, kLeftWidth, H - kButtonStrip - 7));
    auto* right = new RightPanel(content);
    right->setObjectName("rightPanel");
    window->setFrameOf(
        right, QRectF(W - kRightWidth - 7, kButtonStrip, kRightWidth, H - kButtonStrip - 7));
    auto* bottom = new BottomPanel(content);
    bottom->setObjectName("bottomPanel");
    window->setFrameOf(bottom, QRectF(kLeftWidth + 9, kButtonStrip,
                                      W - kLeftWidth - kRightWidth - 18, kBottomHeight));
    auto* centre = new CenterPanel(content);
    centre->setObjectName("centerPanel");
    centre->setFrameShape(QFrame::NoFrame);
    window->setFrameOf(centre, QRectF(kLeftWidth + 9, kBottomHeight + 27,
                                      W - kLeftWidth - kRightWidth - 18, H - kBottomHeight - 35));

    // The mini-view toggle stays reachable in the mini view, where the toolbar is hidden.
    auto* miniButton = new ToolbarButton(content);
    miniButton->setTag(1);
    miniButton->setCheckable(true);
    miniButton->setIcon(toolbarGlyph(ToolbarGlyph::MiniView));
    miniButton->setIconSize(kToolbarGlyphSize);
    miniButton->setToolTip(QStringLiteral("Mini View"));
    miniButton->setAccessibleName(miniButton->toolTip());
    window->setFrameOf(miniButton, QRectF(7, 2, 28, 22));

    auto* scrollView = new CenteringView(centre);
    scrollView->setObjectName("scrollView");
    auto* centreLayout = new QVBoxLayout(centre);
    centreLayout->setContentsMargins(0, 0, 0, 0);
    centreLayout->addWidget(scrollView);
    auto* clickableView = new ClickableView();
    clickableView->setObjectName("clickableView");
    clickableView->scale = 1.0;
    scrollView->setDocumentView(clickableView);
    // The picture's first fit is measured on the scroll view's laid-out size.
    centreLayout->activate();

    window->miniViewButton = miniButton;
    QObject::connect(miniButton, &QAbstractButton::clicked, window, &PanelWindow::miniViewAction);

    ImageControlsLayout::build(left, controller);
    ImageProbeLayout::build(right, bottom, window, controller);

    // The window places its panels itself, outside any layout: it must not get so low that
    // the side panels' own layouts squash their fields onto each other.
    const int sidePanels =
        std::max(left->minimumSizeHint().height(), right->minimumSizeHint().height());
    content->setMinimumHeight(sidePanels + kButtonStrip + 7);
    // Nor so narrow that the bottom panel's buttons lose their texts between the side panels.
    const int panelsWide = kLeftWidth + kRightWidth + 18 + bottom->minimumSizeHint().width();
    window->minSize.setWidth(std::max(window->minSize.width(), panelsWide));

    controller->window = window;
    controller->scrollView = scrollView;
    controller->clickableView = clickableView;
    clickableView->delegate = controller;

    owner->partWindow = window;
    owner->partController = controller;
    window->awakeFromNib();
    controller->awakeFromNib();
    owner->awakeFromNib();
}
