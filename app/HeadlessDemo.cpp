#include "app/HeadlessDemo.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>

#include "app/DemoBoard.h"
#include "camera/ControlIds.h"
#include "link/ResultCodes.h"
#include "ui/PelvarDlg.h"
#include "ui/SliderNotifier.h"

namespace pelvar {

namespace {

class CDemoSteps {
public:
    CDemoSteps(CPelvarDlg& dlg, std::FILE* out) : m_dlg(dlg), m_out(out) {}

    void Click(int id)
    {
        auto* button = qobject_cast<QPushButton*>(m_dlg.Control(id));
        if (button && button->isEnabled())
            button->click();
        m_dlg.WaitForCamera();
    }

    void Slide(int id, int value)
    {
        auto* slider = qobject_cast<QSlider*>(m_dlg.Control(id));
        slider->setValue(value);
        // The thumb released at a position: the notification a drag ends with.
        m_dlg.OnHScroll(TB_THUMBPOSITION, static_cast<unsigned>(value), id);
        m_dlg.WaitForCamera();
    }

    void Report(const std::string& step, const std::string& detail = {})
    {
        const std::int32_t r = m_dlg.Camera().LastResult();
        m_failed = m_failed || r != LINK_OK;
        std::fprintf(m_out, "%-34s %s%s(%s)\n", step.c_str(), detail.c_str(), detail.empty() ? "" : " ", ResultName(r));
        std::fflush(m_out);
    }

    bool Failed() const { return m_failed; }

private:
    CPelvarDlg& m_dlg;
    std::FILE* m_out;
    bool m_failed = false;
};

} // namespace

int RunHeadlessDemo(CPelvarDlg& dlg, CDemoBoard& board, const std::string& picturePath, std::FILE* out)
{
    dlg.show();
    QApplication::processEvents();
    CDemoSteps steps(dlg, out);

    std::fprintf(out, "simulated board on %s (%s)\n", board.Board().PortName().c_str(),
                 board.Board().SlavePath().c_str());
    steps.Click(IDC_CONNECT);
    if (!dlg.Camera().IsConnected()) {
        steps.Report("connect", "no board answered");
        return 1;
    }
    steps.Report("connect", "port " + dlg.ControlText(IDC_PORT_TEXT) + ", sensor " + dlg.ControlText(IDC_SENSOR_TEXT));

    steps.Slide(IDC_BRIGHTNESS, 200);
    steps.Report("set brightness 200");
    steps.Click(IDC_EDGE);
    steps.Report("press edge");

    dlg.SetControlText(IDC_REG_ADDRESS, "0x0010");
    dlg.SetControlText(IDC_REG_CONTENT, "beef");
    steps.Click(IDC_REG_WRITE);
    steps.Report("write register 0x0010 = beef");
    dlg.SetControlText(IDC_REG_CONTENT, "");
    steps.Click(IDC_REG_READ);
    steps.Report("read register 0x0010", "-> " + dlg.ControlText(IDC_REG_CONTENT));

    const bool saved = dlg.grab().save(QString::fromStdString(picturePath), "PNG");

    steps.Click(IDC_DISCONNECT);
    steps.Report("disconnect");

    std::fprintf(out, "\nboard state:\n%s", board.Board().StateText().c_str());
    if (saved)
        std::fprintf(out, "\npanel picture: %s\n", picturePath.c_str());
    else
        std::fprintf(out, "\npanel picture: could not write %s\n", picturePath.c_str());
    return steps.Failed() || !saved ? 1 : 0;
}

} // namespace pelvar
