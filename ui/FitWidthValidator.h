// Accepts only text that fits the visible width of its line edit: a box
// without horizontal scrolling, where typing stops at the box's edge.
#pragma once

#include <QValidator>

class QLineEdit;

namespace pelvar {

class CFitWidthValidator : public QValidator {
public:
    explicit CFitWidthValidator(QLineEdit* edit);
    State validate(QString& input, int& pos) const override;

private:
    int AvailableWidth() const;

    QLineEdit* m_pEdit;
};

} // namespace pelvar
