// The about box: the program's name, version and icon, closed by OK, Enter
// or Escape.
#pragma once

#include <QDialog>

namespace pelvar {

constexpr const char* kAboutCaption = "Informationen zu Pelvar";
constexpr const char* kAboutVersionText = "Pelvar, Version 1.0";
constexpr const char* kAboutNoticeText = "Copyright (C) 2026";

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace pelvar
