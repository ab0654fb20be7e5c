// The top-level window of one document: its PanelWindows stand side by side as tabs.
//
// The tab bar is always shown, also with a single tab; every tab has a close button. Closing a
// tab closes that PanelWindow only; the document closes everything when its first tab (its main
// window) closes. All tabs share the group's frame. The group carries the main menu.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>

class PanelWindow;
class QTabBar;
class QTabWidget;

class TabGroupWindow : public QMainWindow {
    Q_OBJECT

  public:
    // Makes a group whose only tab is `first`; the group takes over its frame.
    explicit TabGroupWindow(PanelWindow* first);
    ~TabGroupWindow() override;

    // Inserts `window` as a tab right after `after` (at the end when `after` is not a tab).
    void insertWindow(PanelWindow* window, PanelWindow* after);
    // The tabs' windows in tab order.
    QList<PanelWindow*> windows() const;
    PanelWindow* currentWindow() const;
    QTabWidget* tabWidget() const { return tabs_; }
    QTabBar* tabBar() const;
    // Closes the window of tab `index` (what the tab's close button does).
    void closeTab(int index);

  signals:
    void currentWindowChanged(PanelWindow* window);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void windowClosed(PanelWindow* window);
    void updateTitles(PanelWindow* window);
    void updateWindowTitle();

    QTabWidget* tabs_ = nullptr;
    bool closingAll_ = false;
};
