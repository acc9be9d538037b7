#include "ui/FitWidthValidator.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>

namespace pelvar {

namespace {

// QLineEdit keeps this margin on each side of its text, inside the frame.
constexpr int kLineEditTextMargin = 2;

} // namespace

CFitWidthValidator::CFitWidthValidator(QLineEdit* edit) : QValidator(edit), m_pEdit(edit) {}

QValidator::State CFitWidthValidator::validate(QString& input, int& /*pos*/) const
{
    const int needed = m_pEdit->fontMetrics().horizontalAdvance(input);
    return needed <= AvailableWidth() ? Acceptable : Invalid;
}

int CFitWidthValidator::AvailableWidth() const
{
    const int frame =
        m_pEdit->hasFrame() ? m_pEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, m_pEdit) : 0;
    const QMargins margins = m_pEdit->textMargins();
    // One pixel stays free for the text cursor.
    return m_pEdit->width() - 2 * frame - 2 * kLineEditTextMargin - margins.left() - margins.right() - 1;
}

} // namespace pelvar
