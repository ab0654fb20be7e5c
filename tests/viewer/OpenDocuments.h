// For tests that open documents through the controller: the tabs a document shows, and closing
// every document a test left open (and the deferred deletes that follow).
#pragma once

#include "Document.h"
#include "DocumentController.h"
#include "PanelWindow.h"
#include "ShownText.h"
#include "TabGroupWindow.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTabWidget>

// The titles of the tabs of the document's main window, in order, as the tabs show them.
inline QStringList tabTitles(const Document* document) {
    QStringList titles;
    PanelWindow* main = document->mainWindow();
    if (!main || !main->tabGroup()) return titles;
    QTabWidget* tabs = main->tabGroup()->tabWidget();
    for (int i = 0; i < tabs->count(); ++i)
        titles.append(shownText(tabs->tabText(i)));
    return titles;
}

inline void processDeletes() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline void closeAllDocuments() {
    for (Document* d : DocumentController::shared().documents())
        d->close();
    processDeletes();
    qDeleteAll(Document::openDocuments().values());
    processDeletes();
}
