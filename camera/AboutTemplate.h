// The about box and its item in the window's system menu, free of any GUI
// library, so that every front end shows the same texts in the same places.
#pragma once

#include "camera/PanelTemplate.h"

namespace pelvar {

constexpr const char* kAboutMenuText = "&Informationen zu Pelvar...";

constexpr const char* kAboutCaption = "Informationen zu Pelvar";
constexpr const char* kAboutVersionText = "Pelvar, Version 1.0";
constexpr const char* kAboutNoticeText = "Copyright (C) 2026";

constexpr DialogRect kAboutSize{0, 0, 170, 62};
constexpr DialogRect kAboutIconRect{14, 14, 21, 20};
constexpr DialogRect kAboutVersionRect{42, 14, 114, 8};
constexpr DialogRect kAboutNoticeRect{42, 26, 114, 8};
constexpr DialogRect kAboutOkRect{113, 41, 50, 14};

// Both dialogs' font.
constexpr const char* kDialogFontName = "MS Shell Dlg";
constexpr int kDialogFontPoints = 8;

} // namespace pelvar
