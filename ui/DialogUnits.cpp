#include "ui/DialogUnits.h"

#include <QFontMetrics>

namespace pelvar {

namespace {

// a * b / c rounded to nearest, for the non-negative values of a template.
int MulDiv(int a, int b, int c)
{
    return (a * b + c / 2) / c;
}

} // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogToPixels(const DialogRect& rect, const DialogBaseUnits& units)
{
    const int left = MulDiv(rect.x, units.cx, 4);
    const int top = MulDiv(rect.y, units.cy, 8);
    const int right = MulDiv(rect.x + rect.cx, units.cx, 4);
    const int bottom = MulDiv(rect.y + rect.cy, units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}

} // namespace pelvar
