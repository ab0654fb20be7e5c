// The panel window: panel layout in normal and mini view, panel toggles, and the frames kept
// in the settings.
#include "BottomPanel.h"
#include "CenterPanel.h"
#include "LeftPanel.h"
#include "PanelWindow.h"
#include "RightPanel.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr double L = 200, R = 180, B = 100;
constexpr int W = 1000, H = 700;

struct Window {
    std::unique_ptr<PanelWindow> window = std::make_unique<PanelWindow>();
    LeftPanel* left = nullptr;
    RightPanel* right = nullptr;
    BottomPanel* bottom = nullptr;
    CenterPanel* centre = nullptr;
    QToolButton* other = nullptr;  // a subview of no panel kind
    QToolButton *leftButton = nullptr, *rightButton = nullptr, *bottomButton = nullptr,
                *miniButton = nullptr;
};

QToolButton* toggle(QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setCheckable(true);
    return b;
}

// A window with the four panel kinds laid out bottom-up, like the image layout: side panels
// above a 25-point strip, the bottom panel on the strip.
Window makeWindow(bool withMiniButton = true, bool withBottomButton = true) {
    Window w;
    PanelWindow* pw = w.window.get();
    pw->minSize = QSize(500, 320);
    pw->setToolbar(new QToolBar(pw));
    pw->setGeometry(40, 30, W, H);
    QWidget* content = pw->contentView();
    content->resize(W, H);
    w.left = new LeftPanel(content);
    pw->setFrameOf(w.left, QRectF(7, 25, L, H - 32));
    w.right = new RightPanel(content);
    pw->setFrameOf(w.right, QRectF(W - R - 7, 25, R, H - 32));
    w.bottom = new BottomPanel(content);
    pw->setFrameOf(w.bottom, QRectF(L + 9, 25, W - L - R - 18, B));
    w.centre = new CenterPanel(content);
    pw->setFrameOf(w.centre, QRectF(L + 9, B + 27, W - L - R - 18, H - B - 35));
    w.other = new QToolButton(content);
    pw->setFrameOf(w.other, QRectF(7, 2, 20, 20));
    // The toggles live outside the content view (in the toolbar in the real layout).
    w.leftButton = toggle(pw);
    w.rightButton = toggle(pw);
    w.bottomButton = toggle(pw);
    w.miniButton = toggle(pw);
    pw->leftPanelsButton = w.leftButton;
    pw->rightPanelsButton = w.rightButton;
    if (withBottomButton) pw->bottomPanelsButton = w.bottomButton;
    if (withMiniButton) pw->miniViewButton = w.miniButton;
    return w;
}

class PanelWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* key : {"leftPanels", "rightPanels", "bottomPanels", "miniView",
                                "normalFrame", "miniFrame", "titleVisible"})
            userDefaults().removeObject(key);
    }
};

}  // namespace

TEST_F(PanelWindowTest, NormalLayoutInsetsWithAllPanels) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    PanelWindow& pw = *w.window;
    EXPECT_TRUE(pw.leftPanels && pw.rightPanels && pw.bottomPanels);
    EXPECT_FALSE(pw.miniView);
    // l = 209, r = 189, b = 109.
    EXPECT_EQ(pw.frameOf(w.centre), QRectF(209, 109 + 18, W - 398, H - 109 - 26));
    EXPECT_EQ(pw.frameOf(w.right).x(), W - 187);
    EXPECT_EQ(pw.frameOf(w.right).y(), 25);
    EXPECT_EQ(pw.frameOf(w.bottom), QRectF(209, 25, W - 398, B));
    EXPECT_EQ(pw.frameOf(w.left), QRectF(7, 25, L, H - 32));
    for (QWidget* v : {(QWidget*)w.left, (QWidget*)w.right, (QWidget*)w.bottom, (QWidget*)w.centre,
                       (QWidget*)w.other})
        EXPECT_FALSE(v->isHidden());
    EXPECT_TRUE(w.leftButton->isChecked() && w.rightButton->isChecked() &&
                w.bottomButton->isChecked());
    EXPECT_FALSE(w.miniButton->isChecked());
    EXPECT_FALSE(pw.toolbar()->isHidden());
    EXPECT_FALSE(pw.isTitleVisible());  // "titleVisible" defaults to false
}

TEST_F(PanelWindowTest, AllPanelsOffLeaveInsetsOfSeven) {
    for (const char* key : {"leftPanels", "rightPanels", "bottomPanels"})
        userDefaults().setObject(key, false);
    Window w = makeWindow();
    w.window->awakeFromNib();
    EXPECT_EQ(w.window->frameOf(w.centre), QRectF(7, 7 + 18, W - 14, H - 7 - 26));
    EXPECT_TRUE(w.left->isHidden());
    EXPECT_TRUE(w.right->isHidden());
    EXPECT_TRUE(w.bottom->isHidden());
    EXPECT_FALSE(w.leftButton->isChecked());
}

TEST_F(PanelWindowTest, WithoutBottomButtonTheCentreKeepsOriginAndHeight) {
    Window w = makeWindow(true, false);
    const QRectF before = w.window->frameOf(w.centre);
    w.window->awakeFromNib();
    const QRectF after = w.window->frameOf(w.centre);
    EXPECT_EQ(after.topLeft(), before.topLeft());
    EXPECT_EQ(after.height(), before.height());
    EXPECT_EQ(after.width(), W - 398);
}

TEST_F(PanelWindowTest, CentreSizeNeverGoesNegative) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    w.window->contentView()->resize(300, 100);  // narrower and lower than the panels need
    const QRectF centre = w.window->frameOf(w.centre);
    EXPECT_EQ(centre.width(), 0);
    EXPECT_EQ(centre.height(), 0);
}

TEST_F(PanelWindowTest, ContentResizeKeepsPanelsInPlace) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    w.window->contentView()->resize(W + 200, H + 100);
    PanelWindow& pw = *w.window;
    EXPECT_EQ(pw.frameOf(w.centre), QRectF(209, 127, W + 200 - 398, H + 100 - 135));
    EXPECT_EQ(pw.frameOf(w.right), QRectF(W + 200 - 187, 25, R, H + 100 - 32));
    EXPECT_EQ(pw.frameOf(w.bottom), QRectF(209, 25, W + 200 - 398, B));  // stays at the bottom
    EXPECT_EQ(pw.frameOf(w.left), QRectF(7, 25, L, H + 100 - 32));
}

TEST_F(PanelWindowTest, TogglingAPanelStoresItAndLaysOut) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    w.window->leftPanelsAction();
    EXPECT_FALSE(w.window->leftPanels);
    EXPECT_FALSE(w.leftButton->isChecked());
    EXPECT_FALSE(userDefaults().defaultsBool("leftPanels", true));
    EXPECT_TRUE(w.left->isHidden());
    EXPECT_EQ(w.window->frameOf(w.centre).x(), 7);
    EXPECT_EQ(w.window->frameOf(w.centre).width(), W - 7 - 189);

    w.window->bottomPanelsAction();
    EXPECT_TRUE(w.bottom->isHidden());
    EXPECT_EQ(w.window->frameOf(w.centre).y(), 25);
    EXPECT_FALSE(userDefaults().defaultsBool("bottomPanels", true));

    // A new window starts from the stored choices.
    Window again = makeWindow();
    again.window->awakeFromNib();
    EXPECT_FALSE(again.window->leftPanels);
    EXPECT_FALSE(again.window->bottomPanels);
    EXPECT_TRUE(again.window->rightPanels);
}

TEST_F(PanelWindowTest, MiniViewShowsOnlyTheSidePanels) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    PanelWindow& pw = *w.window;
    const QRect normal = pw.frame();
    pw.miniViewAction();
    EXPECT_TRUE(pw.miniView);
    EXPECT_TRUE(w.miniButton->isChecked());
    EXPECT_TRUE(userDefaults().defaultsBool("miniView", false));
    EXPECT_EQ(pw.frame().size(), QSize(396, 320));  // 200 + 9 + 180 + 7, minimum height
    EXPECT_EQ(pw.frame().topLeft(), normal.topLeft());
    EXPECT_EQ(pw.frameOf(w.right).x(), 209);
    EXPECT_TRUE(w.centre->isHidden());
    EXPECT_TRUE(w.bottom->isHidden());
    EXPECT_FALSE(w.left->isHidden());
    EXPECT_FALSE(w.right->isHidden());
    EXPECT_TRUE(pw.toolbar()->isHidden());
    EXPECT_TRUE(pw.isTitleVisible());
    EXPECT_FALSE(pw.isResizable());
    EXPECT_FALSE(w.leftButton->isEnabled());
    EXPECT_FALSE(w.bottomButton->isEnabled());
    ASSERT_TRUE(pw.normalFrame);
    EXPECT_EQ(*pw.normalFrame, normal);

    pw.miniViewAction();
    EXPECT_FALSE(pw.miniView);
    EXPECT_TRUE(pw.isResizable());
    EXPECT_EQ(pw.frame(), normal);
    ASSERT_TRUE(pw.miniFrame);
    EXPECT_EQ(pw.miniFrame->size(), QSize(396, 320));
    EXPECT_TRUE(w.leftButton->isEnabled());
    EXPECT_FALSE(w.centre->isHidden());
    EXPECT_FALSE(pw.toolbar()->isHidden());
}

TEST_F(PanelWindowTest, FramesRestoredFromTheSettings) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect stored(area.x() + 20, area.y() + 10, 600, 400);
    userDefaults().setObject("normalFrame",
                             QVariantList{stored.x(), stored.y(), stored.width(), stored.height()});
    userDefaults().setObject("miniFrame", QVariantList{"30", "40", "396", "320"});  // as text
    Window w = makeWindow();
    w.window->awakeFromNib();
    EXPECT_EQ(w.window->frame(), stored);
    ASSERT_TRUE(w.window->miniFrame);
    EXPECT_EQ(*w.window->miniFrame, QRect(30, 40, 396, 320));
    EXPECT_TRUE(w.window->handlesOwnFrames());
}

TEST_F(PanelWindowTest, MalformedStoredFramesAreIgnored) {
    const QVariantList bad[] = {
        {100, 80, 600},           // three numbers
        {100, "wide", 600, 400},  // an element that is not a number
        {},
    };
    for (const QVariantList& value : bad) {
        userDefaults().setObject("normalFrame", value);
        Window w = makeWindow();
        const QRect before = w.window->frame();
        w.window->awakeFromNib();
        EXPECT_EQ(w.window->frame(), before) << value.size();
    }
    userDefaults().setObject("normalFrame", QString("100,80,600,400"));  // not an array
    Window w = makeWindow();
    const QRect before = w.window->frame();
    w.window->awakeFromNib();
    EXPECT_EQ(w.window->frame(), before);
}

TEST_F(PanelWindowTest, FrameOffEveryScreenMovesOntoTheScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    userDefaults().setObject("normalFrame", QVariantList{-5000, -4000, 600, 400});
    Window w = makeWindow();
    w.window->awakeFromNib();
    const QRect frame = w.window->frame();
    EXPECT_EQ(frame.size(), QSize(600, 400).boundedTo(area.size()));
    EXPECT_TRUE(area.contains(frame)) << frame.x() << "," << frame.y();

    // A frame that still shows on the screen stays where it is.
    const QRect partly(area.right() - 100, area.y() + 10, 600, 400);
    EXPECT_EQ(PanelWindow::frameOnScreen(partly), partly);
}

TEST_F(PanelWindowTest, FramesStoredWhenTheWindowCloses) {
    Window w = makeWindow();
    w.window->awakeFromNib();
    const QRect frame(50, 60, 700, 500);
    w.window->setFrame(frame);
    w.window->close();
    auto stored = PanelWindow::rectFromArray(userDefaults().defaultsArray("normalFrame", {}));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, frame);
    EXPECT_FALSE(userDefaults().objectForKey("miniFrame").isValid());  // never made

    // In the mini view the current frame is the mini frame; the normal frame is kept too.
    Window mini = makeWindow();
    mini.window->awakeFromNib();
    mini.window->miniViewAction();
    const QRect miniFrame = mini.window->frame();
    mini.window->close();
    stored = PanelWindow::rectFromArray(userDefaults().defaultsArray("miniFrame", {}));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, miniFrame);
}

TEST_F(PanelWindowTest, WithoutMiniViewButtonTheFrameIsLeftAlone) {
    userDefaults().setObject("normalFrame", QVariantList{100, 80, 600, 400});
    userDefaults().setObject("leftPanels", false);
    Window w = makeWindow(false);
    const QRect before = w.window->frame();
    w.window->awakeFromNib();
    EXPECT_EQ(w.window->frame(), before);
    EXPECT_FALSE(w.window->handlesOwnFrames());
    EXPECT_FALSE(w.window->leftPanels);  // panel choices still come from the settings
    userDefaults().removeObject("normalFrame");
    w.window->close();
    EXPECT_FALSE(userDefaults().objectForKey("normalFrame").isValid());
}

TEST_F(PanelWindowTest, LeavingTheMiniViewBringsTheNormalFrameBackAlsoAfterARelaunch) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect normal(area.x() + 30, area.y() + 20, 900, 650);
    {
        Window w = makeWindow();
        PanelWindow& pw = *w.window;
        pw.show();  // a shown window hears its own resizes, as on the screen
        pw.awakeFromNib();
        pw.setFrame(normal);
        pw.miniViewAction();
        pw.layoutPanels();  // a second pass inside the mini view
        EXPECT_EQ(pw.frame().size(), QSize(396, 320));
        pw.miniViewAction();
        EXPECT_EQ(pw.frame(), normal);
        ASSERT_TRUE(pw.normalFrame);
        EXPECT_EQ(*pw.normalFrame, normal);
        // Closed in the mini view: the frame to come back to is the one stored.
        pw.miniViewAction();
        pw.close();
    }
    Window again = makeWindow();
    again.window->show();
    again.window->awakeFromNib();
    EXPECT_FALSE(again.window->miniView);
    EXPECT_EQ(again.window->frame(), normal);
    again.window->miniViewAction();
    again.window->miniViewAction();
    EXPECT_EQ(again.window->frame(), normal);
}
