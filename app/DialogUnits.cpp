#include "app/DialogUnits.h"

#include <QFontMetrics>

namespace {

constexpr int kMinBaseWidth = 6;
constexpr int kMinBaseHeight = 13;

int Scale(int dlu, int base, int divisor)
{
    // Rounded like the template maps of dialog managers (to nearest, halves
    // away from zero), so that neighbouring controls keep their spacing.
    return qRound(double(dlu) * base / divisor);
}

} // namespace

QSize DialogBaseUnits(const QFont &font)
{
    const QFontMetrics metrics(font);
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int average = qRound(double(metrics.horizontalAdvance(kAlphabet)) / kAlphabet.size());
    return QSize(qMax(kMinBaseWidth, average), qMax(kMinBaseHeight, metrics.height()));
}

int DluToPixelsX(int dlu, const QFont &font)
{
    return Scale(dlu, DialogBaseUnits(font).width(), 4);
}

int DluToPixelsY(int dlu, const QFont &font)
{
    return Scale(dlu, DialogBaseUnits(font).height(), 8);
}

QSize DluToPixels(const QSize &dlu, const QFont &font)
{
    const QSize base = DialogBaseUnits(font);
    return QSize(Scale(dlu.width(), base.width(), 4), Scale(dlu.height(), base.height(), 8));
}

QRect DluToPixels(const QRect &dlu, const QFont &font)
{
    const QSize base = DialogBaseUnits(font);
    return QRect(Scale(dlu.x(), base.width(), 4), Scale(dlu.y(), base.height(), 8),
                 Scale(dlu.width(), base.width(), 4), Scale(dlu.height(), base.height(), 8));
}
