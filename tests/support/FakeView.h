// A panel that records what the camera logic does to it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "camera/PanelView.h"

namespace pelvar::test {

class FakeView : public IPanelView {
public:
    std::map<int, std::string> texts;
    std::vector<std::pair<bool, bool>> states;
    std::vector<std::string> errors;
    std::vector<std::string> ports;
    int selected = -1;
    int cursorDepth = 0;
    int cursorShown = 0;
    std::vector<std::string> statuses;
    std::vector<std::vector<std::string>> portLists;

    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    std::string ControlText(int id) override { return texts[id]; }
    void SetControlStates(bool connect, bool others) override { states.emplace_back(connect, others); }
    void ShowError(const std::string& text, const std::string& caption) override
    {
        errors.push_back(caption + ": " + text);
    }
    void BeginWaitCursor() override
    {
        ++cursorDepth;
        ++cursorShown;
    }
    void EndWaitCursor() override { --cursorDepth; }
    int PortCount() override { return static_cast<int>(ports.size()); }
    std::string PortEntry(int index) override { return ports.at(static_cast<std::size_t>(index)); }
    int SelectedPortIndex() override { return selected; }
    void SetStatusText(const std::string& text) override { statuses.push_back(text); }
    void SetPortEntries(const std::vector<std::string>& entries) override { portLists.push_back(entries); }
    std::string LastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::pair<bool, bool> LastState() const { return states.empty() ? std::make_pair(true, false) : states.back(); }
};

} // namespace pelvar::test
