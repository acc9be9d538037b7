#include "ui/AboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "ui/DialogUnits.h"
#include "ui/PelvarIcon.h"

namespace pelvar {

namespace {

QLabel* CreateText(QWidget* parent, const char* text, const DialogRect& rect, const DialogBaseUnits& units)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText); // an ampersand shows as it is
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(DialogToPixels(rect, units));
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    const DialogBaseUnits units = BaseUnitsOf(font());
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    const QIcon icon = PelvarIcon();
    setWindowIcon(icon);

    // A static icon shows the icon at its own size from the top left of its place.
    auto* picture = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    picture->setPixmap(icon.pixmap(iconSize, iconSize));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setGeometry(DialogToPixels(kAboutIconRect, units));

    CreateText(this, kAboutVersionText, kAboutVersionRect, units);
    CreateText(this, kAboutNoticeText, kAboutNoticeRect, units);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("control1"));
    ok->setDefault(true);
    ok->setGeometry(DialogToPixels(kAboutOkRect, units));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(DialogToPixels(kAboutSize, units).size());
}

} // namespace pelvar
