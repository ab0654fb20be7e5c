// The integer a text field's text stands for, read the way the platform's text fields read
// their integer value: leading blanks skipped, an optional sign, then the decimal digits up to
// the first other character. "1000" and " 1000 px" give 1000, "1,000" gives 1, text without
// leading digits gives 0; values beyond the 64-bit range stop at its limits.
#pragma once

#include <QString>

#include <cstdint>

int64_t integerValueOfText(const QString& text);
