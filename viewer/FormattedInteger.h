// The shared integer formatter: decimal grouping of the user's locale, no fraction digits.
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// `value` as the process-wide formatter writes it. The formatter takes the locale that is
// current when it is first used and keeps it for the life of the process.
QString formattedInteger(int64_t value);
// `value` grouped in the thousands the way `locale` writes it, without fraction; "NaN" when the
// locale yields no text.
QString formattedInteger(int64_t value, const QLocale& locale);
