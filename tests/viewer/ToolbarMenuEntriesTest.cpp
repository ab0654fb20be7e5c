// The image window's Toolbar menu: every entry that stands for a toggle button does what a
// click on the button does, and shows the button's state.
#include "ClickableView.h"
#include "ImageWindowTesting.h"
#include "ToolbarButton.h"
#include "ToolbarItem.h"

#include <QAction>
#include <QMenu>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace testing_image_window;

namespace {

// What a click can change: the controller's view parameters, the window's panels and the
// states of every toolbar button.
struct WindowState {
    double zoom;
    int rotation;
    bool flipHorizontally, flipVertically, zoomToFit, inspectCorners;
    bool leftPanels, rightPanels, bottomPanels;
    QList<bool> buttonsOn;

    bool operator==(const WindowState&) const = default;
};

QList<ToolbarButton*> toolbarButtons(PanelWindow* window) {
    QList<ToolbarButton*> buttons;
    for (QAction* a : window->toolbar()->actions())
        if (auto* item = qobject_cast<ToolbarItem*>(a); item && item->view())
            buttons += item->view()->findChildren<ToolbarButton*>();
    return buttons;
}

WindowState stateOf(ImageWindow& w) {
    ImageController* c = w.controller;
    PanelWindow* pw = w.document().mainWindow();
    WindowState s{};
    s.zoom = c->zoom;
    s.rotation = c->rotation;
    s.flipHorizontally = c->flipHorizontally;
    s.flipVertically = c->flipVertically;
    s.zoomToFit = c->zoomToFit;
    s.inspectCorners = c->clickableView->inspectCornersState;
    s.leftPanels = pw->leftPanels;
    s.rightPanels = pw->rightPanels;
    s.bottomPanels = pw->bottomPanels;
    for (ToolbarButton* b : toolbarButtons(pw))
        s.buttonsOn.append(b->isChecked());
    return s;
}

ToolbarButton* buttonNamed(ImageWindow& w, const QString& toolTip) {
    for (ToolbarButton* b : toolbarButtons(w.document().mainWindow()))
        if (b->toolTip() == toolTip) return b;
    return nullptr;
}

QAction* entryNamed(ImageWindow& w, const QString& toolTip) {
    for (QAction* a : w.document().mainWindow()->toolbar()->actions()) {
        auto* item = qobject_cast<ToolbarItem*>(a);
        if (!item || !item->menuFormRepresentation()) continue;
        for (QAction* entry : item->menuFormRepresentation()->menu()->actions())
            if (entry->text() == toolTip) return entry;
    }
    return nullptr;
}

class ToolbarMenuEntriesTest : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(ToolbarMenuEntriesTest, ToggleEntryActsAsItsButtonAndShowsItsState) {
    const QString toolTip = QString::fromUtf8(GetParam());
    WindowSettings settings;
    PanelSettings panels;
    const ImagePtr image = uniform16(64, 48, 1000);
    ImageWindow clicked(image), chosen(image);
    ToolbarButton* button = buttonNamed(clicked, toolTip);
    QAction* entry = entryNamed(chosen, toolTip);
    ASSERT_TRUE(button);
    ASSERT_TRUE(entry);
    ASSERT_EQ(button->tag(), 1);
    ASSERT_TRUE(entry->isCheckable());
    ASSERT_EQ(stateOf(clicked), stateOf(chosen));

    // Twice: on and back off (the fit button the other way round).
    for (int round = 0; round < 2; ++round) {
        button->click();
        entry->trigger();
        waitForLaterTasks();
        EXPECT_EQ(stateOf(clicked), stateOf(chosen)) << "round " << round;
        EXPECT_EQ(entry->isChecked(), buttonNamed(chosen, toolTip)->isChecked())
            << "round " << round;
    }

    // Clicking the button itself moves the entry along.
    ToolbarButton* twin = buttonNamed(chosen, toolTip);
    twin->click();
    waitForLaterTasks();
    EXPECT_EQ(entry->isChecked(), twin->isChecked());
}

INSTANTIATE_TEST_SUITE_P(Toggles, ToolbarMenuEntriesTest,
                         ::testing::Values("Zoom to Fit", "Actual Size", "Rotate Counter-Clockwise",
                                           "Rotate Clockwise", "Flip Horizontally",
                                           "Flip Vertically", "Inspect Corners", "Left Panels",
                                           "Bottom Panels", "Right Panels"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             QString name = QString::fromUtf8(info.param);
                             name.remove(' ').remove('-');
                             return name.toStdString();
                         });
