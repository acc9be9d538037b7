// The panel without a window, for callers that drive the camera logic from
// code (pelvarctl, the Python module): the boxes are kept as texts and the
// error box is remembered instead of shown.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "camera/PanelView.h"

namespace pelvar {

class HeadlessView : public IPanelView {
public:
    // port > 0: the list holds COMport alone; otherwise the machine's ports.
    explicit HeadlessView(int port);

    void SetControlText(int id, const std::string& text) override { m_texts[id] = text; }
    std::string ControlText(int id) override { return m_texts[id]; }
    void SetControlStates(bool, bool) override {}
    void ShowError(const std::string& text, const std::string&) override { m_error = text; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    int PortCount() override { return static_cast<int>(m_ports.size()); }
    std::string PortEntry(int index) override { return m_ports.at(static_cast<std::size_t>(index)); }
    int SelectedPortIndex() override { return -1; }

    // The text of the last error box; empty when none was shown.
    const std::string& ErrorText() const { return m_error; }
    bool ErrorShown() const { return !m_error.empty(); }
    const std::vector<std::string>& Ports() const { return m_ports; }

private:
    std::vector<std::string> m_ports;
    std::map<int, std::string> m_texts;
    std::string m_error;
};

} // namespace pelvar
