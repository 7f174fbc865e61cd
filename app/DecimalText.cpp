#include "app/DecimalText.h"

#include <algorithm>
#include <limits>

namespace {

bool IsCSpace(QChar c)
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

} // namespace

bool ScanDecimal(const QString &text, qint32 *value)
{
    qsizetype i = 0;
    while (i < text.size() && IsCSpace(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    // One past the largest magnitude is enough to saturate either way.
    constexpr qint64 kLimit = qint64(std::numeric_limits<qint32>::max()) + 1;
    qint64 magnitude = 0;
    bool any = false;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        any = true;
        magnitude = std::min(kLimit, magnitude * 10 + (text.at(i).unicode() - u'0'));
    }
    if (!any)
        return false;
    *value = qint32(std::clamp<qint64>(negative ? -magnitude : magnitude,
                                       std::numeric_limits<qint32>::min(),
                                       std::numeric_limits<qint32>::max()));
    return true;
}
