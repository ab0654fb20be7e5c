// Collects the lines the support library logs while an instance lives.
#pragma once

#include "solvan_bus.h"

#include <QString>
#include <QStringList>

class LogCapture {
  public:
    LogCapture() {
        lines().clear();
        solvan_log_message_handler = [](const char* message) {
            lines().append(QString::fromUtf8(message));
        };
    }
    ~LogCapture() { solvan_log_message_handler = nullptr; }
    static QStringList& lines() {
        static QStringList captured;
        return captured;
    }
    // The captured lines that contain `text`.
    QStringList containing(const QString& text) const { return lines().filter(text); }
};
