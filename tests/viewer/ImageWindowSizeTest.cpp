// The image window at its smallest and in the mini view: every field of the side panels keeps
// the height it needs to be read, and at its smallest the bottom panel's buttons their texts.
#include "ImageWindowTesting.h"
#include "LeftPanel.h"
#include "RightPanel.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace testing_image_window;

namespace {

// Each field of the two side panels is as high as it asks to be and lies inside its panel.
void expectReadableSidePanels(PanelWindow* window, const char* when) {
    QCoreApplication::processEvents();
    // The panel classes carry no meta-object of their own: told apart by their C++ type.
    QList<QWidget*> panels;
    for (QFrame* frame : window->contentView()->findChildren<QFrame*>(Qt::FindDirectChildrenOnly))
        if (dynamic_cast<LeftPanel*>(frame) || dynamic_cast<RightPanel*>(frame))
            panels.append(frame);
    ASSERT_EQ(panels.size(), 2);
    for (QWidget* panel : panels) {
        const QList<QLineEdit*> fields = panel->findChildren<QLineEdit*>();
        ASSERT_FALSE(fields.isEmpty());
        for (QLineEdit* field : fields) {
            EXPECT_GE(field->height(), field->minimumSizeHint().height())
                << when << ": " << field->objectName().toStdString();
            const QRect inPanel(field->mapTo(panel, QPoint(0, 0)), field->size());
            EXPECT_TRUE(panel->rect().contains(inPanel))
                << when << ": " << field->objectName().toStdString();
        }
    }
}

// Each button of the bottom panel is as wide as its text asks.
void expectWholeButtonTexts(PanelWindow* window) {
    const QList<QPushButton*> buttons =
        window->contentView()->findChildren<QPushButton*>(QRegularExpression("Button$"));
    ASSERT_EQ(buttons.size(), 4);  // guide lines 1 and 2, drift, focus mask
    for (QPushButton* button : buttons)
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
}

}  // namespace

TEST(ImageWindowSizeTest, SmallestWindowAndMiniViewKeepTheSidePanelFieldsReadable) {
    WindowSettings settings;
    PanelSettings panels;
    ImageWindow w(uniform16(64, 48, 1000));
    PanelWindow* window = w.document().mainWindow();
    const QRect start = window->frame();

    window->setFrame(QRect(start.topLeft(), QSize(100, 100)));
    EXPECT_GT(window->frame().height(), 100);
    expectReadableSidePanels(window, "smallest window");
    expectWholeButtonTexts(window);

    window->miniViewAction();
    EXPECT_FALSE(window->isResizable());
    expectReadableSidePanels(window, "mini view");

    window->miniViewAction();
    expectReadableSidePanels(window, "back from the mini view");
}
