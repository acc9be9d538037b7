#include "ui/DialogUnits.h"

#include <QFontMetrics>

namespace pelvar {

namespace {

// units * pixelsPerStep / stepUnits, rounded to nearest.
int ToPixels(int units, double pixelsPerStep, int stepUnits) { return qRound(units * pixelsPerStep / stepUnits); }

} // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {letters / 52.0, static_cast<double>(metrics.height())};
}

QRect DialogToPixels(const DialogRect& rect, const DialogBaseUnits& units)
{
    const int left = ToPixels(rect.x, units.cx, 4);
    const int top = ToPixels(rect.y, units.cy, 8);
    const int right = ToPixels(rect.x + rect.cx, units.cx, 4);
    const int bottom = ToPixels(rect.y + rect.cy, units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace pelvar
