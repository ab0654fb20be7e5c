#include "MainMenu.h"

#include "DocumentController.h"
#include "PanelWindow.h"
#include "TabGroupWindow.h"
#include "ToolbarItem.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTabWidget>
#include <QToolBar>

namespace {

// The menu forms of the current tab's toolbar items, in toolbar order.
QList<QAction*> toolbarMenuForms(TabGroupWindow* window) {
    QList<QAction*> forms;
    PanelWindow* current = window ? window->currentWindow() : nullptr;
    if (!current || !current->toolbar()) return forms;
    for (QAction* action : current->toolbar()->actions())
        if (auto* item = qobject_cast<ToolbarItem*>(action))
            if (QAction* form = item->menuFormRepresentation()) forms.append(form);
    return forms;
}

}  // namespace

void MainMenu::build(QMenuBar* menuBar, TabGroupWindow* window) {
    QPointer<TabGroupWindow> group(window);

    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    QAction* open = file->addAction(QStringLiteral("&Open…"));
    open->setShortcut(QKeySequence::Open);
    QObject::connect(open, &QAction::triggered, window,
                     [group] { DocumentController::shared().openDocument(group); });
    QAction* closeTab = file->addAction(QStringLiteral("&Close Tab"));
    closeTab->setShortcut(QKeySequence::Close);
    QObject::connect(closeTab, &QAction::triggered, window, [group] {
        if (group) group->closeTab(group->tabWidget()->currentIndex());
    });
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    QObject::connect(quit, &QAction::triggered, window, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    QMenu* toolbar = menuBar->addMenu(QStringLiteral("&Toolbar"));
    auto refresh = [group, toolbar] {
        toolbar->clear();
        const QList<QAction*> forms = toolbarMenuForms(group);
        for (QAction* form : forms)
            toolbar->addAction(form);
        toolbar->menuAction()->setEnabled(!forms.isEmpty());
    };
    QObject::connect(toolbar, &QMenu::aboutToShow, window, refresh);
    QObject::connect(window, &TabGroupWindow::currentWindowChanged, window, refresh);
}
