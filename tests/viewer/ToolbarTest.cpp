// Toolbar menu forms following their buttons, and the accent drawing of ToolbarButton.
#include "ShownText.h"
#include "ToolbarButton.h"
#include "ToolbarItem.h"
#include "ToolbarMenus.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

ToolbarButton* button(QWidget* view, const char* toolTip, int tag, bool checkable = false) {
    auto* b = new ToolbarButton(view);
    if (toolTip) b->setToolTip(QString::fromUtf8(toolTip));
    b->setTag(tag);
    b->setCheckable(checkable);
    return b;
}

QStringList titles(const QMenu* menu) {
    QStringList list;
    for (const QAction* a : menu->actions())
        list.append(a->text());
    return list;
}

// A 16 x 16 icon: an opaque black disc on a transparent ground.
QIcon discIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(2, 2, 12, 12));
    p.end();
    return QIcon(pixmap);
}

}  // namespace

TEST(ToolbarMenusTest, ItemsGetMenuFormsFromTheirButtons) {
    QToolBar toolbar;
    auto* view = new QWidget();
    ToolbarButton* zoom = button(view, "Zoom In", 0);
    ToolbarButton* inspect = button(view, "Inspect Corners", 1, true);
    button(view, "Hidden", -1);
    button(view, nullptr, 0);  // no tool tip at all
    button(view, "", 3);       // an empty tool tip still gets an entry
    new QLabel("not a button", view);
    auto* item = new ToolbarItem("Zoom", view, &toolbar);
    toolbar.addAction(item);

    // An item without a view loses its menu form; one without a label keeps its own.
    auto* bare = new ToolbarItem("Bare", nullptr, &toolbar);
    bare->setMenuFormRepresentation(new QAction("old", bare));
    toolbar.addAction(bare);
    auto* unlabelled = new ToolbarItem("", new QWidget(), &toolbar);
    auto* kept = new QAction("kept", unlabelled);
    unlabelled->setMenuFormRepresentation(kept);
    toolbar.addAction(unlabelled);
    auto* empty = new ToolbarItem("Empty", new QWidget(), &toolbar);
    toolbar.addAction(empty);
    toolbar.addAction(new QAction("plain", &toolbar));

    setUpToolbarMenus(&toolbar);
    setUpToolbarMenus(nullptr);

    EXPECT_EQ(bare->menuFormRepresentation(), nullptr);
    EXPECT_EQ(unlabelled->menuFormRepresentation(), kept);
    ASSERT_TRUE(empty->menuFormRepresentation());
    ASSERT_TRUE(empty->menuFormRepresentation()->menu());
    EXPECT_TRUE(empty->menuFormRepresentation()->menu()->actions().isEmpty());

    QAction* form = item->menuFormRepresentation();
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text(), "Zoom");
    ASSERT_TRUE(form->menu());
    EXPECT_EQ(titles(form->menu()), (QStringList{"Zoom In", "Inspect Corners", ""}));
    QAction* zoomEntry = form->menu()->actions()[0];
    QAction* inspectEntry = form->menu()->actions()[1];

    // Enabled state follows the button; only the tag-1 entry mirrors the on/off state.
    EXPECT_TRUE(zoomEntry->isEnabled());
    zoom->setEnabled(false);
    EXPECT_FALSE(zoomEntry->isEnabled());
    zoom->setEnabled(true);
    EXPECT_TRUE(zoomEntry->isEnabled());
    EXPECT_FALSE(zoomEntry->isCheckable());
    EXPECT_TRUE(inspectEntry->isCheckable());
    EXPECT_FALSE(inspectEntry->isChecked());
    inspect->setChecked(true);
    EXPECT_TRUE(inspectEntry->isChecked());

    // Choosing an entry clicks the button: a toggle turns over and its receiver reads the new
    // state, exactly as when the button itself is clicked.
    int zoomClicks = 0, inspectClicks = 0;
    bool inspectState = false;
    QObject::connect(zoom, &QAbstractButton::clicked, [&] { ++zoomClicks; });
    QObject::connect(inspect, &QAbstractButton::clicked, [&](bool on) {
        ++inspectClicks;
        inspectState = on;
    });
    zoomEntry->trigger();
    EXPECT_EQ(zoomClicks, 1);
    inspectEntry->trigger();
    EXPECT_EQ(inspectClicks, 1);
    EXPECT_FALSE(inspectState);
    EXPECT_FALSE(inspect->isChecked());
    EXPECT_FALSE(inspectEntry->isChecked());
    inspectEntry->trigger();
    EXPECT_TRUE(inspectState);
    EXPECT_TRUE(inspectEntry->isChecked());

    // A disabled button is not clicked through its entry either.
    zoom->setEnabled(false);
    zoomEntry->trigger();
    EXPECT_EQ(zoomClicks, 1);
}

TEST(ToolbarMenusTest, EntryAndItemTitlesShowAnAmpersandAsItStands) {
    QToolBar toolbar;
    auto* view = new QWidget();
    button(view, "Guide & Drift", 0);
    auto* item = new ToolbarItem("Lines & Graphs", view, &toolbar);
    toolbar.addAction(item);
    setUpToolbarMenus(&toolbar);
    QAction* form = item->menuFormRepresentation();
    EXPECT_EQ(shownText(form->text()), "Lines & Graphs");
    EXPECT_EQ(shownText(form->menu()->title()), "Lines & Graphs");
    EXPECT_EQ(shownText(form->menu()->actions()[0]->text()), "Guide & Drift");
    EXPECT_EQ(shownText(item->text()), "Lines & Graphs");
    EXPECT_EQ(item->label(), "Lines & Graphs");
}

TEST(ToolbarMenusTest, EntryFollowsAReceiverThatSetsTheButton) {
    QToolBar toolbar;
    auto* view = new QWidget();
    ToolbarButton* panels = button(view, "Left Panels", 1, true);
    bool shown = false;  // the receiver's own flag, which it writes back into the button
    QObject::connect(panels, &QAbstractButton::clicked, [panels, &shown] {
        shown = !shown;
        panels->setChecked(shown);
    });
    auto* item = new ToolbarItem("Panels", view, &toolbar);
    toolbar.addAction(item);
    setUpToolbarMenus(&toolbar);
    QAction* entry = item->menuFormRepresentation()->menu()->actions()[0];
    entry->trigger();
    EXPECT_TRUE(panels->isChecked());
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(panels->isChecked());
    EXPECT_FALSE(entry->isChecked());
}

TEST(ToolbarButtonTest, OnToggleDrawsATintedCopyInTheAccentColour) {
    ToolbarButton b;
    b.setCheckable(true);
    b.setTag(1);
    const QIcon icon = discIcon();
    b.setIcon(icon);
    b.setIconSize(QSize(16, 16));
    const QColor accent = ToolbarButton::accentColor(b.palette());
    const QColor text = b.palette().color(QPalette::Active, QPalette::ButtonText);
    ASSERT_NE(accent.rgb(), text.rgb());

    EXPECT_FALSE(b.isAccented());
    EXPECT_EQ(b.drawingColor(), text);
    b.setChecked(true);
    EXPECT_TRUE(b.isAccented());
    EXPECT_EQ(b.drawingColor(), accent);

    const QImage drawn = b.displayedIcon().pixmap(QSize(16, 16), 1.0).toImage();
    EXPECT_EQ(QColor(drawn.pixel(8, 8)).rgb(), accent.rgb());
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0);  // no coverage, no paint
    // The button's own icon is untouched.
    EXPECT_EQ(QColor(b.icon().pixmap(QSize(16, 16), 1.0).toImage().pixel(8, 8)).rgb(),
              QColor(Qt::black).rgb());
    EXPECT_EQ(QColor(icon.pixmap(QSize(16, 16), 1.0).toImage().pixel(8, 8)).rgb(),
              QColor(Qt::black).rgb());
    EXPECT_FALSE(b.grab().isNull());  // draws without complaint

    // Off, or on with another tag: the shape in the text colour.
    b.setChecked(false);
    EXPECT_EQ(QColor(b.displayedIcon().pixmap(QSize(16, 16), 1.0).toImage().pixel(8, 8)).rgb(),
              text.rgb());
    b.setTag(0);
    b.setChecked(true);
    EXPECT_FALSE(b.isAccented());
    EXPECT_EQ(b.drawingColor(), text);
}

TEST(ToolbarButtonTest, TintKeepsTheAlpha) {
    QImage image(4, 1, QImage::Format_ARGB32);
    const int alphas[] = {0, 64, 200, 255};
    for (int x = 0; x < 4; ++x)
        image.setPixel(x, 0, qRgba(10, 20, 30, alphas[x]));
    const QImage tinted =
        ToolbarButton::tintedImage(image, QColor(255, 0, 0)).convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 4; ++x) {
        const QRgb p = tinted.pixel(x, 0);
        EXPECT_NEAR(qAlpha(p), alphas[x], 1) << x;
        if (alphas[x] > 0) {
            EXPECT_NEAR(qRed(p), 255, 2) << x;
            EXPECT_EQ(qGreen(p), 0) << x;
        }
    }
    EXPECT_EQ(QColor(image.pixel(3, 0)).rgb(), qRgb(10, 20, 30));  // the source stays
}
