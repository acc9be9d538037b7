#include "camera/ViewRelay.h"

namespace pelvar {

void ViewRelay::Queue(ViewCall call)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    if (m_wake)
        m_wake();
}

void ViewRelay::SetControlText(int id, const std::string& text)
{
    m_texts[id] = text;
    Queue([id, text](IPanelView& v) { v.SetControlText(id, text); });
}

std::string ViewRelay::ControlText(int id) { return m_texts[id]; }

void ViewRelay::SetControlStates(bool connectEnabled, bool othersEnabled)
{
    Queue([=](IPanelView& v) { v.SetControlStates(connectEnabled, othersEnabled); });
}

void ViewRelay::ShowError(const std::string& text, const std::string& caption)
{
    Queue([text, caption](IPanelView& v) { v.ShowError(text, caption); });
}

void ViewRelay::BeginWaitCursor()
{
    Queue([](IPanelView& v) { v.BeginWaitCursor(); });
}

void ViewRelay::EndWaitCursor()
{
    Queue([](IPanelView& v) { v.EndWaitCursor(); });
}

void ViewRelay::SetStatusText(const std::string& text)
{
    Queue([text](IPanelView& v) { v.SetStatusText(text); });
}

void ViewRelay::SetPortEntries(const std::vector<std::string>& entries)
{
    Queue([entries](IPanelView& v) { v.SetPortEntries(entries); });
}

void ViewRelay::UseTexts(const std::map<int, std::string>& texts)
{
    for (const auto& [id, text] : texts)
        m_texts[id] = text;
}

void ViewRelay::UsePorts(std::vector<std::string> ports, int selected)
{
    m_ports = std::move(ports);
    m_selected = selected;
}

bool ViewRelay::Drain(IPanelView& view, std::size_t most)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_draining)
        return false;
    m_draining = true;
    for (std::size_t n = 0; n < most && !m_calls.empty(); ++n) {
        ViewCall call = std::move(m_calls.front());
        m_calls.pop_front();
        lock.unlock();
        call(view);
        lock.lock();
    }
    m_draining = false;
    return !m_calls.empty();
}

bool ViewRelay::Empty() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.empty() && !m_draining;
}

} // namespace pelvar
