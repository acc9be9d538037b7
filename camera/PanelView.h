// What the camera logic needs of a panel: the Qt window implements it, and
// so does pelvarctl for the terminal.
#pragma once

#include <string>
#include <vector>

namespace pelvar {

class IPanelView {
public:
    virtual ~IPanelView() = default;

    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual std::string ControlText(int id) = 0;
    // Connect by connectEnabled, then every id of kEnableSetOrder by othersEnabled.
    virtual void SetControlStates(bool connectEnabled, bool othersEnabled) = 0;
    // Modal error box with one OK button; returns when it is closed.
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // The port list, in its (sorted) order.
    virtual int PortCount() = 0;
    virtual std::string PortEntry(int index) = 0;
    virtual int SelectedPortIndex() = 0; // -1 when nothing is selected

    // The outcome of the last operation in words, for a status line. A
    // front end without one ignores it.
    virtual void SetStatusText(const std::string& /*text*/) {}
    // Connect has read the port list again: the list to show from now on.
    virtual void SetPortEntries(const std::vector<std::string>& /*entries*/) {}
};

} // namespace pelvar
