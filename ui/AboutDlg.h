// The about box: the program's name, version and icon, closed by OK, Enter
// or Escape.
#pragma once

#include <QDialog>

#include "camera/AboutTemplate.h"

namespace pelvar {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

} // namespace pelvar
