// The panel as the worker thread sees it: every change is queued for the
// window's thread, and what the logic reads (box texts, the port list) comes
// from copies taken when the operation was queued.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "camera/PanelView.h"

namespace pelvar {

class ViewRelay : public IPanelView {
public:
    using ViewCall = std::function<void(IPanelView&)>;

    // `wake` (any thread) asks the window's thread to call Drain soon.
    explicit ViewRelay(std::function<void()> wake) : m_wake(std::move(wake)) {}

    // Worker side.
    void SetControlText(int id, const std::string& text) override;
    std::string ControlText(int id) override;
    void SetControlStates(bool connectEnabled, bool othersEnabled) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    int PortCount() override { return static_cast<int>(m_ports.size()); }
    std::string PortEntry(int index) override { return m_ports.at(static_cast<std::size_t>(index)); }
    int SelectedPortIndex() override { return m_selected; }
    void SetStatusText(const std::string& text) override;
    void SetPortEntries(const std::vector<std::string>& entries) override;

    // Worker side: any call for the window's thread, in order with the others.
    void Post(ViewCall call) { Queue(std::move(call)); }

    // What the logic reads during the next operation.
    void UseTexts(const std::map<int, std::string>& texts);
    void UsePorts(std::vector<std::string> ports, int selected = -1);

    // Window's thread: runs the queued calls on `view`, in order. A modal
    // box among them runs its own event loop; the calls after it wait
    // until it is closed. At most `most` calls, so that a window flooded
    // with calls still answers between portions; true when some remain.
    bool Drain(IPanelView& view, std::size_t most = SIZE_MAX);
    bool Empty() const;

private:
    void Queue(ViewCall call);

    std::function<void()> m_wake;
    mutable std::mutex m_mutex;
    std::deque<ViewCall> m_calls;
    bool m_draining = false;
    std::map<int, std::string> m_texts;
    std::vector<std::string> m_ports;
    int m_selected = -1;
};

} // namespace pelvar
