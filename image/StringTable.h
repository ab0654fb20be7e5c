// Rows of strings whose row 0 holds the column titles: header keywords ("key", "value",
// "comment") and the cells of FITS tables.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

using StringTable = QList<QStringList>;
