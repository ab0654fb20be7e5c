#include "ToolbarItem.h"

#include "LiteralText.h"

#include <QAction>
#include <QMenu>

ToolbarItem::ToolbarItem(const QString& label, QWidget* view, QObject* parent)
    : QWidgetAction(parent), label_(label) {
    setText(literalText(label));
    if (view) setDefaultWidget(view);
}

ToolbarItem::~ToolbarItem() {
    if (menuForm_) {
        delete menuForm_->menu();
        delete menuForm_;
    }
}

void ToolbarItem::setMenuFormRepresentation(QAction* menuForm) {
    if (menuForm_ == menuForm) return;
    if (menuForm_) {
        delete menuForm_->menu();
        delete menuForm_;
    }
    menuForm_ = menuForm;
}
