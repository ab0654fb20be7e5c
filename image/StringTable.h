// Rows of strings whose row 0 holds the column titles: header keywords ("key", "value",
// "comment") and the cells of FITS tables.
#pragma once

#include <QString>
#include <QStringList>
#include <QList>

using StringTable = QList<QStringList>;
