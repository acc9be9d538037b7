// The window as a bring-up bench: the shared bench's items drawn as Qt menu
// actions, its files asked for with Qt's file dialogs.
#include <QFileDialog>
#include <QMenu>
#include <QSlider>

#include "ui/PelvarDlg.h"
#include "ui/TrafficPane.h"

namespace pelvar {

namespace {

QString FilterText(BenchFile kind)
{
    return QString::fromStdString(FilterTitle(FilterFor(kind))) + QStringLiteral(";;All files (*)");
}

} // namespace

void CPelvarDlg::AddBenchItems(QMenu& menu)
{
    QMenu* faults = nullptr;
    for (const BenchMenuItem& item : m_bench->MenuItems()) {
        if (item.separatorBefore)
            menu.addSeparator();
        // A submenu's choice comes back through the same exec() as the others.
        if (item.submenu && faults == nullptr)
            faults = menu.addMenu(QString::fromUtf8(kFaultsMenuText));
        QAction* action = (item.submenu ? *faults : menu).addAction(QString::fromStdString(item.text));
        action->setData(item.id);
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
    }
}

std::string CPelvarDlg::AskSavePath(const char* title, BenchFile kind)
{
    return QFileDialog::getSaveFileName(this, QString::fromUtf8(title), {}, FilterText(kind)).toStdString();
}

std::string CPelvarDlg::AskOpenPath(const char* title, BenchFile kind)
{
    return QFileDialog::getOpenFileName(this, QString::fromUtf8(title), {}, FilterText(kind)).toStdString();
}

const std::deque<ExchangeRecord>& CPelvarDlg::FlushedTraffic()
{
    TrafficModel().Flush();
    return TrafficModel().Records();
}

Adjustments CPelvarDlg::SliderValues()
{
    return ReadSliders([this](int id) { return static_cast<QSlider*>(Control(id))->value(); });
}

void CPelvarDlg::MoveSliders(const Adjustments& values)
{
    MoveEachSlider(values, [this](int id, std::int32_t value) { static_cast<QSlider*>(Control(id))->setValue(value); });
}

} // namespace pelvar
