// Texts that buttons, menu entries and tabs show as they stand.
#pragma once

#include <QString>

// `text` with every "&" doubled: Qt reads a single "&" on a button, menu entry or tab as the
// marker of a keyboard mnemonic and hides it, so "Download & Exit" would lose its "&".
inline QString literalText(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}
