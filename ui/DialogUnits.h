// Dialog-unit geometry: the window is laid out from fixed templates whose
// positions are in dialog units, so it keeps the template's proportions with
// any font and screen.
#pragma once

#include <QFont>
#include <QRect>

#include "camera/PanelTemplate.h"

namespace pelvar {

// Pixels per 4 horizontal and per 8 vertical dialog units.
struct DialogBaseUnits {
    double cx = 0; // average character width of the dialog font
    double cy = 0; // character height of the dialog font
};

// The average width is taken over the 52 Latin letters and kept unrounded:
// fonts whose capitals are wide for their average (DejaVu Sans) would
// otherwise clip texts that the layout sizes tightly, such as "COM port:".
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Converts the rectangle's corners (not its size), so adjacent controls of a
// template stay adjacent in pixels.
QRect DialogToPixels(const DialogRect& rect, const DialogBaseUnits& units);

} // namespace pelvar
