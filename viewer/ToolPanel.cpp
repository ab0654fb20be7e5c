#include "ToolPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

ToolPanel::ToolPanel(QWidget* parent, QPointF anchor) : QWidget(parent, Qt::Tool), anchor_(anchor) {
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
    if (!placed_ && parentWidget()) {
        placed_ = true;
        adjustSize();
        const QRect owner = parentWidget()->window()->frameGeometry();
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(owner.topLeft() + QPoint(int(owner.width() * anchor_.x()),
                                                  int(owner.height() * anchor_.y())));
        if (const QScreen* screen = parentWidget()->screen()) {
            const QRect area = screen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), area.left(),
                                      std::max(area.left(), area.right() - frame.width())));
            frame.moveTop(std::clamp(frame.top(), area.top(),
                                     std::max(area.top(), area.bottom() - frame.height())));
        }
        move(frame.topLeft());
    }
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
