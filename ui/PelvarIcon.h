// The program's icon in all its sizes, from the program's resources.
#pragma once

#include <QIcon>

namespace pelvar {

QIcon PelvarIcon();

// Origin of an icon of `iconExtent` pixels centred in `clientExtent`: the
// same rounding as the minimised-window drawing, truncating toward zero.
constexpr int MinimisedIconOrigin(int clientExtent, int iconExtent) { return (clientExtent - iconExtent + 1) / 2; }

} // namespace pelvar
