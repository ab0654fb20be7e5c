// The text a Qt button, menu entry or tab shows for the text it holds: a single "&" marks the
// next character as a keyboard mnemonic and is not shown, "&&" shows one "&".
#pragma once

#include <QString>

inline QString shownText(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}
