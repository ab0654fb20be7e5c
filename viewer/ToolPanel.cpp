#include "ToolPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>

ToolPanel::ToolPanel(QWidget* parent) : QWidget(parent, Qt::Tool) {
    // Hiding on deactivation is this class's decision, on every platform alike.
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this,
                &ToolPanel::applicationStateChanged);
}

void ToolPanel::setHidesOnDeactivate(bool hides) {
    hidesOnDeactivate_ = hides;
}

void ToolPanel::makeKeyAndOrderFront() {
    hiddenForDeactivation_ = false;
    show();
    raise();
    activateWindow();
}

void ToolPanel::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) {
        if (!hiddenForDeactivation_) return;
        hiddenForDeactivation_ = false;
        show();
        return;
    }
    if (state != Qt::ApplicationInactive && state != Qt::ApplicationHidden &&
        state != Qt::ApplicationSuspended)
        return;
    if (!hidesOnDeactivate_ || !isVisible()) return;
    hide();
    hiddenForDeactivation_ = true;
}

void ToolPanel::closeEvent(QCloseEvent* event) {
    // Closed by the user: it stays closed until it is brought to the front again.
    hiddenForDeactivation_ = false;
    QWidget::closeEvent(event);
}
