#include "ToolbarMenus.h"

#include "LiteralText.h"
#include "ToolbarItem.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QToolBar>
#include <QVariant>

namespace {

// Keeps a menu entry's enabled state equal to its button's, the way a binding would.
class EnabledBinding : public QObject {
  public:
    EnabledBinding(QAction* entry, QAbstractButton* button) : QObject(entry), entry_(entry) {
        entry->setEnabled(button->isEnabled());
        button->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && entry_)
            entry_->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }

  private:
    QPointer<QAction> entry_;
};

int tagOf(const QAbstractButton* button) {
    const QVariant tag = button->property("tag");
    return tag.isValid() ? tag.toInt() : 0;
}

QAction* menuEntry(QAbstractButton* button, QMenu* menu) {
    auto* entry = new QAction(literalText(button->toolTip()), menu);
    new EnabledBinding(entry, button);
    const bool toggle = tagOf(button) == 1;
    if (toggle) {
        entry->setCheckable(true);
        entry->setChecked(button->isChecked());
        QObject::connect(button, &QAbstractButton::toggled, entry, &QAction::setChecked);
    }
    QPointer<QAbstractButton> target(button);
    QObject::connect(entry, &QAction::triggered, entry, [target, entry, toggle] {
        if (!target) return;
        // A click, as on the button itself: a toggle changes its state first, since its
        // receivers read the new state from the button. The entry then shows the button's
        // state again, whatever the receivers made of it.
        target->click();
        if (toggle && target) entry->setChecked(target->isChecked());
    });
    return entry;
}

}  // namespace

void setUpToolbarMenus(QToolBar* toolbar) {
    if (!toolbar) return;
    for (QAction* action : toolbar->actions()) {
        auto* item = qobject_cast<ToolbarItem*>(action);
        if (!item) continue;  // a plain action stands for itself in menus
        QWidget* view = item->view();
        if (!view) {
            item->setMenuFormRepresentation(nullptr);
            continue;
        }
        if (item->label().isEmpty()) continue;

        auto* form = new QAction(literalText(item->label()), item);
        auto* submenu = new QMenu(literalText(item->label()));
        form->setMenu(submenu);
        item->setMenuFormRepresentation(form);

        for (QObject* child : view->children()) {
            auto* button = qobject_cast<QAbstractButton*>(child);
            if (!button) continue;
            if (button->toolTip().isNull()) continue;
            if (tagOf(button) < 0) continue;
            submenu->addAction(menuEntry(button, submenu));
        }
    }
}
