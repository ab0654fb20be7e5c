// The read-only value fields of the image window (statistics, star measurements, drift rates).
#pragma once

#include <QString>

class QLineEdit;
class QWidget;

// A read-only, frameless, right-aligned field named `name` that never takes the focus,
// showing `text` until it is filled.
QLineEdit* valueField(const char* name, const QString& text, QWidget* parent = nullptr);
