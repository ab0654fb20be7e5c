#include "TabGroupWindow.h"

#include "LiteralText.h"
#include "MainMenu.h"
#include "PanelWindow.h"

#include <QCloseEvent>
#include <QTabBar>
#include <QTabWidget>

TabGroupWindow::TabGroupWindow(PanelWindow* first) {
    setAttribute(Qt::WA_DeleteOnClose);
    tabs_ = new QTabWidget(this);
    tabs_->setDocumentMode(true);
    tabs_->setTabsClosable(true);
    tabs_->setMovable(false);  // the first tab is the document's main window
    tabs_->setTabBarAutoHide(false);
    tabs_->tabBar()->setExpanding(true);
    tabs_->tabBar()->setElideMode(Qt::ElideRight);
    setCentralWidget(tabs_);
    MainMenu::build(menuBar(), this);

    connect(tabs_, &QTabWidget::tabCloseRequested, this, &TabGroupWindow::closeTab);
    connect(tabs_, &QTabWidget::currentChanged, this, [this] {
        updateWindowTitle();
        emit currentWindowChanged(currentWindow());
    });

    if (first) {
        const QRect frame = first->geometry();
        insertWindow(first, nullptr);
        setGeometry(frame);
        first->setResizable(first->isResizable());  // the group takes the constraints
    }
}

TabGroupWindow::~TabGroupWindow() = default;

QTabBar* TabGroupWindow::tabBar() const {
    return tabs_->tabBar();
}

QList<PanelWindow*> TabGroupWindow::windows() const {
    QList<PanelWindow*> list;
    for (int i = 0; i < tabs_->count(); ++i)
        if (auto* w = qobject_cast<PanelWindow*>(tabs_->widget(i))) list.append(w);
    return list;
}

PanelWindow* TabGroupWindow::currentWindow() const {
    return qobject_cast<PanelWindow*>(tabs_->currentWidget());
}

void TabGroupWindow::insertWindow(PanelWindow* window, PanelWindow* after) {
    if (!window || window->tabGroup() == this) return;
    window->joinTabGroup(this);
    const int at = after ? tabs_->indexOf(after) : -1;
    const int index = at >= 0 ? at + 1 : tabs_->count();
    tabs_->insertTab(index, window, literalText(window->tabTitle()));
    connect(window, &PanelWindow::titlesChanged, this, &TabGroupWindow::updateTitles);
    connect(window, &PanelWindow::closed, this, &TabGroupWindow::windowClosed);
    updateTitles(window);
}

void TabGroupWindow::updateTitles(PanelWindow* window) {
    const int index = tabs_->indexOf(window);
    if (index >= 0) tabs_->setTabText(index, literalText(window->tabTitle()));
    if (window == currentWindow()) updateWindowTitle();
}

void TabGroupWindow::updateWindowTitle() {
    PanelWindow* w = currentWindow();
    setWindowTitle(w && w->isTitleVisible() ? w->title() : QString());
}

void TabGroupWindow::closeTab(int index) {
    if (auto* w = qobject_cast<PanelWindow*>(tabs_->widget(index))) w->close();
}

void TabGroupWindow::windowClosed(PanelWindow* window) {
    const int index = tabs_->indexOf(window);
    if (index >= 0) tabs_->removeTab(index);
    window->hide();
    window->deleteLater();
    if (tabs_->count() == 0 && !closingAll_) close();
}

void TabGroupWindow::closeEvent(QCloseEvent* event) {
    // The first tab goes first: closing the main window closes the document.
    closingAll_ = true;
    QList<QPointer<PanelWindow>> open;
    for (PanelWindow* w : windows())
        open.append(w);
    for (const QPointer<PanelWindow>& w : open)
        if (w) w->close();
    closingAll_ = false;
    event->accept();
    QMainWindow::closeEvent(event);
}

void TabGroupWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    for (PanelWindow* w : windows())
        w->windowDidResize();
}
