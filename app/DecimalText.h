#pragma once

#include <QString>
#include <QtGlobal>

// Reads a whole number the way the C library's "%d" does: leading white
// space skipped, an optional sign, then digits up to the first other
// character ("12abc" is 12). False, with *value left alone, when there are no
// digits. Numbers beyond the 32-bit range are held at its ends.
bool ScanDecimal(const QString &text, qint32 *value);
