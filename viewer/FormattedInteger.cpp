#include "FormattedInteger.h"

QString formattedInteger(int64_t value, const QLocale& locale) {
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString text = grouped.toString(qlonglong(value));
    return text.isEmpty() ? QStringLiteral("NaN") : text;
}

QString formattedInteger(int64_t value) {
    static const QLocale locale;  // the user's locale when first used
    return formattedInteger(value, locale);
}
