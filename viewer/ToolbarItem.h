// One item of a window's toolbar: a labelled view (usually a group of ToolbarButtons) and the
// menu form that stands for it in menus.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidgetAction>

class QAction;

class ToolbarItem : public QWidgetAction {
    Q_OBJECT

  public:
    // An item titled `label` whose view is `view` (nullptr for an item without a view). The
    // item takes ownership of the view.
    ToolbarItem(const QString& label, QWidget* view, QObject* parent);
    ~ToolbarItem() override;

    QString label() const { return label_; }
    // The view handed to the toolbar, or nullptr.
    QWidget* view() const { return defaultWidget(); }
    // The menu item that stands for the item in menus, or nullptr. The item owns it.
    QAction* menuFormRepresentation() const { return menuForm_; }
    void setMenuFormRepresentation(QAction* menuForm);

  private:
    QString label_;
    QPointer<QAction> menuForm_;
};
