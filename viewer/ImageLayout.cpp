#include "ImageLayout.h"

#include "BottomPanel.h"
#include "CenterPanel.h"
#include "CenteringView.h"
#include "ClickableView.h"
#include "Document.h"
#include "ImageController.h"
#include "LeftPanel.h"
#include "PanelWindow.h"
#include "RightPanel.h"
#include "ToolbarButton.h"
#include "ToolbarItem.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

constexpr int kLeftWidth = 220;     // L: left panels
constexpr int kRightWidth = 200;    // R: right panels
constexpr int kBottomHeight = 140;  // B: bottom panels
constexpr int kButtonStrip = 25;    // side panels start above the strip with the mini-view toggle

enum class Glyph { Left, Right, Bottom, Mini };

// A window outline with the panel it stands for filled in; drawn in black so that the button
// can draw it in any colour.
QIcon glyphIcon(Glyph glyph) {
    const qreal dpr = 2;
    QPixmap pixmap(QSize(24, 18) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(Qt::NoBrush);
    const QRectF frame(2, 2, 20, 14);
    if (glyph == Glyph::Mini) {
        p.drawRoundedRect(QRectF(2, 2, 9, 14), 2, 2);
        p.drawRoundedRect(QRectF(13, 2, 9, 14), 2, 2);
        p.fillRect(QRectF(4, 5, 5, 1.5), Qt::black);
        p.fillRect(QRectF(15, 5, 5, 1.5), Qt::black);
        return QIcon(pixmap);
    }
    p.drawRoundedRect(frame, 2.5, 2.5);
    QRectF strip;
    switch (glyph) {
        case Glyph::Left:
            strip = QRectF(2, 2, 7, 14);
            break;
        case Glyph::Right:
            strip = QRectF(15, 2, 7, 14);
            break;
        default:
            strip = QRectF(2, 11, 20, 5);
            break;
    }
    QPainterPath clip;
    clip.addRoundedRect(frame, 2.5, 2.5);
    p.setClipPath(clip);
    p.fillRect(strip, Qt::black);
    return QIcon(pixmap);
}

ToolbarButton* toggleButton(QWidget* parent, Glyph glyph, const QString& toolTip) {
    auto* button = new ToolbarButton(parent);
    button->setTag(1);
    button->setCheckable(true);
    button->setIcon(glyphIcon(glyph));
    button->setIconSize(QSize(24, 18));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    return button;
}

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

    // Toolbar: the panel toggles.
    auto* toolbar = new QToolBar(QStringLiteral("Toolbar"), window);
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    window->setToolbar(toolbar);

    auto* panelsView = new QWidget();
    auto* panelsRow = new QHBoxLayout(panelsView);
    panelsRow->setContentsMargins(0, 0, 0, 0);
    panelsRow->setSpacing(2);
    ToolbarButton* leftButton =
        toggleButton(panelsView, Glyph::Left, QStringLiteral("Left Panels"));
    ToolbarButton* bottomButton =
        toggleButton(panelsView, Glyph::Bottom, QStringLiteral("Bottom Panels"));
    ToolbarButton* rightButton =
        toggleButton(panelsView, Glyph::Right, QStringLiteral("Right Panels"));
    panelsRow->addWidget(leftButton);
    panelsRow->addWidget(bottomButton);
    panelsRow->addWidget(rightButton);
    toolbar->addAction(new ToolbarItem(QStringLiteral("Panels"), panelsView, toolbar));

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
    ToolbarButton* miniButton = toggleButton(content, Glyph::Mini, QStringLiteral("Mini View"));
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

    window->leftPanelsButton = leftButton;
    window->rightPanelsButton = rightButton;
    window->bottomPanelsButton = bottomButton;
    window->miniViewButton = miniButton;
    QObject::connect(leftButton, &QAbstractButton::clicked, window, &PanelWindow::leftPanelsAction);
    QObject::connect(rightButton, &QAbstractButton::clicked, window,
                     &PanelWindow::rightPanelsAction);
    QObject::connect(bottomButton, &QAbstractButton::clicked, window,
                     &PanelWindow::bottomPanelsAction);
    QObject::connect(miniButton, &QAbstractButton::clicked, window, &PanelWindow::miniViewAction);

    auto* controller = new ImageController(window);
    controller->window = window;
    controller->scrollView = scrollView;
    controller->clickableView = clickableView;

    owner->partWindow = window;
    owner->partController = controller;
    window->awakeFromNib();
    controller->awakeFromNib();
    owner->awakeFromNib();
}
