#include "camera/CameraWorker.h"

#include "discovery/PortWalk.h"

#include <chrono>
#include <system_error>

#include "camera/CaptureFile.h"
#include "camera/ControlIds.h"
#include "camera/ControlTable.h"
#include "camera/StatusText.h"

namespace pelvar {

namespace {

struct MachinePortFiller {
    void operator()(IPortList& list) const { FillPortList(list); }
};

} // namespace

PortListFiller MachinePortListFiller() { return MachinePortFiller{}; }

bool ListsMachinePorts(const PortListFiller& fill) { return fill.target<MachinePortFiller>() != nullptr; }

PortLister ListerFor(const PortListFiller& fill)
{
    if (ListsMachinePorts(fill))
        return [] { return ListPortDevices(*MachineDevices(), stdout); };
    return [fill] {
        SortedPortList list;
        if (fill)
            fill(list);
        std::vector<PortListing> listings;
        for (const std::string& text : list.Entries())
            listings.push_back({text, {}});
        return listings;
    };
}

namespace {

std::vector<std::string> Texts(const std::vector<PortListing>& list)
{
    std::vector<std::string> texts;
    for (const PortListing& listing : list)
        texts.push_back(listing.text);
    return texts;
}

} // namespace

// Shared by the worker and the reading's thread, which may outlive the worker.
struct CameraWorker::PortReading {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool abandoned = false;
    std::vector<PortListing> list;

    void Abandon()
    {
        std::lock_guard<std::mutex> lock(mutex);
        abandoned = true;
        changed.notify_all();
    }
};

CameraWorker::CameraWorker(IPanelView& view, IPlatform& platform, PortLister ports, IPortMemoryStore* memory,
                           std::function<void()> wakeUi, CameraWorkerOptions options)
    : m_view(view), m_platform(platform), m_ports(std::move(ports)), m_memory(memory), m_options(options),
      m_relay(std::move(wakeUi)), m_camera(m_relay, platform), m_recorder(platform),
      m_log(platform, [this](const ExchangeRecord& r) { ForwardExchange(r); })
{
    m_camera.SetCancelFlag(&m_cancel);
    m_camera.SetLinkTap(&m_log);
    m_originUs = WallClockMicros();
    if (m_options.threaded)
        m_thread = std::thread([this] { ThreadMain(); });
}

CameraWorker::~CameraWorker()
{
    // Cancel first: a probe in flight must not go on to the next port while
    // the rest is torn down.
    m_cancel = true;
    m_deviceWatch.reset();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_queue.clear();
        if (m_reading)
            m_reading->Abandon();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CameraWorker::Queue(Op op)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(op));
    }
    m_wake.notify_one();
}

// Connect and the controls it enables stay off while it runs, so no second
// Connect can pull the link from under the first.
void CameraWorker::Connect()
{
    m_view.SetControlStates(false, false);
    Queue(Op(OpKind::Connect));
}

void CameraWorker::Disconnect() { Queue(Op(OpKind::Disconnect)); }

void CameraWorker::PortSelChange()
{
    Op op(OpKind::PortSelChange);
    for (int i = 0; i < m_view.PortCount(); ++i)
        op.ports.push_back(m_view.PortEntry(i));
    op.selected = m_view.SelectedPortIndex();
    Queue(std::move(op));
}

// The box shows the position at once; the board gets the latest position
// when the worker is free. A slider already waiting keeps its place.
void CameraWorker::Slider(int sliderId, int position)
{
    const ControlBinding* b = FindBinding(sliderId);
    if (!b || b->role != ControlRole::Slider)
        return;
    m_view.SetControlText(b->valueBox, std::to_string(position));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_latest[sliderId] = position;
        if (!m_sliderQueued.insert(sliderId).second)
            return;
        m_queue.push_back(Op(OpKind::Slider, sliderId));
    }
    m_wake.notify_one();
}

void CameraWorker::Button(int controlId) { Queue(Op(OpKind::Button, controlId)); }

// The boxes are read when the button is pressed, as the handlers read them
// before sending anything.
void CameraWorker::RegisterWrite()
{
    Op op(OpKind::RegisterWrite);
    op.texts[IDC_REG_ADDRESS] = m_view.ControlText(IDC_REG_ADDRESS);
    op.texts[IDC_REG_CONTENT] = m_view.ControlText(IDC_REG_CONTENT);
    Queue(std::move(op));
}

void CameraWorker::RegisterRead()
{
    Op op(OpKind::RegisterRead);
    op.texts[IDC_REG_ADDRESS] = m_view.ControlText(IDC_REG_ADDRESS);
    Queue(std::move(op));
}

void CameraWorker::SetAdjustments(const Adjustments& values)
{
    Op op(OpKind::Adjust);
    op.adjust = values;
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            m_view.SetControlText(b.valueBox, std::to_string(*op.adjust.For(b.cmd)));
    }
    Queue(std::move(op));
}

void CameraWorker::FillPortList() { Queue(Op(OpKind::FillPorts)); }

void CameraWorker::RunOnBoard(BoardWork work, std::function<void()> done, std::string scriptLine)
{
    Op op(OpKind::BoardWork);
    op.work = std::move(work);
    op.done = std::move(done);
    op.scriptLine = std::move(scriptLine);
    Queue(std::move(op));
}

void CameraWorker::DeviceChanged(DeviceChange change, const DeviceNotice& notice)
{
    Op op(OpKind::Device);
    op.change = change;
    op.notice = notice;
    Queue(std::move(op));
}

bool CameraWorker::WatchMachineArrivals()
{
    m_deviceWatch = WatchMachineDevices([this] { DeviceChanged(DeviceChange::Arrived); });
    return m_deviceWatch != nullptr;
}

void CameraWorker::SetExchangeSink(ExchangeLog::Sink sink)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_sink = std::move(sink);
}

void CameraWorker::ForwardExchange(const ExchangeRecord& record)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    if (m_sink)
        m_sink(record);
}

// Only what goes to the board is recorded: without a link an operation
// sends nothing, and its line would send something on replay.
void CameraWorker::Record(const std::string& line)
{
    if (m_camera.IsConnected())
        m_recorder.OperationBegins(line);
}

bool CameraWorker::DrainUi(std::size_t most) { return m_relay.Drain(m_view, most); }

bool CameraWorker::Idle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.empty() && !m_running;
}

bool CameraWorker::PopLocked(Op* op, int* sliderValue)
{
    if (m_queue.empty())
        return false;
    *op = std::move(m_queue.front());
    m_queue.pop_front();
    if (op->kind == OpKind::Slider) {
        *sliderValue = m_latest[op->id];
        m_sliderQueued.erase(op->id);
    }
    m_running = true;
    return true;
}

void CameraWorker::Finished()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
}

void CameraWorker::RunQueued()
{
    for (;;) {
        Op op(OpKind::Button);
        int value = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!PopLocked(&op, &value))
                return;
        }
        Run(op, value);
        Finished();
    }
}

void CameraWorker::ThreadMain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        Op op(OpKind::Button);
        int value = 0;
        if (!PopLocked(&op, &value)) {
            if (m_wake.wait_for(lock, std::chrono::milliseconds(m_options.watchMs)) == std::cv_status::timeout
                && m_queue.empty() && !m_stop) {
                lock.unlock();
                Watch();
                lock.lock();
            }
            continue;
        }
        lock.unlock();
        Run(op, value);
        lock.lock();
        m_running = false;
    }
}

void CameraWorker::Run(const Op& op, int sliderValue)
{
    m_relay.UseTexts(op.texts);
    switch (op.kind) {
    case OpKind::Connect: RunConnect(); break;
    case OpKind::Disconnect:
        m_reconnectPending = false;
        m_unsent.clear();
        Record("disconnect");
        m_camera.OnDisconnect();
        break;
    case OpKind::PortSelChange:
        m_relay.UsePorts(op.ports, op.selected);
        m_camera.OnPortSelChange();
        break;
    case OpKind::Slider: RunSlider(op.id, sliderValue); break;
    case OpKind::Button:
        Record(PressScriptLine(op.id));
        m_camera.OnFunctionButton(op.id);
        break;
    case OpKind::RegisterWrite:
        Record(RegWriteScriptLine(m_camera.ReadHexBox(IDC_REG_ADDRESS), m_camera.ReadHexBox(IDC_REG_CONTENT)));
        m_camera.OnRegisterWrite();
        break;
    case OpKind::RegisterRead:
        Record(RegReadScriptLine(m_camera.ReadHexBox(IDC_REG_ADDRESS)));
        m_camera.OnRegisterRead();
        break;
    case OpKind::Adjust: RunAdjust(op.adjust); break;
    case OpKind::FillPorts: m_relay.SetPortEntries(Texts(ReadPorts())); break;
    case OpKind::Device: RunDeviceChange(op.change, op.notice); break;
    case OpKind::BoardWork:
        if (!op.scriptLine.empty())
            Record(op.scriptLine);
        if (op.work)
            op.work(m_camera.Board());
        if (op.done)
            m_relay.Post([done = op.done](IPanelView&) { done(); });
        break;
    }
    m_recorder.OperationEnded();
}

// The five values as one operation: a preset moves every slider, and the
// board gets each adjustment once.
void CameraWorker::RunAdjust(const Adjustments& values)
{
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role != ControlRole::Slider)
            continue;
        const std::int32_t value = *values.For(b.cmd);
        *m_camera.m_adjust.For(b.cmd) = value;
        Record(SetScriptLine(b.id, value));
        m_camera.SendAdjustment(b.cmd);
        if (m_camera.IsConnected() && m_camera.LastResult() == LINK_OK)
            std::erase(m_unsent, b.cmd);
    }
}

// The box already shows the position (and maybe a newer one): only the
// member and the board are brought up to date here.
void CameraWorker::RunSlider(int sliderId, int value)
{
    const ControlBinding* b = FindBinding(sliderId);
    std::int32_t* member = m_camera.m_adjust.For(b->cmd);
    *member = value;
    Record(SetScriptLine(sliderId, value));
    m_camera.SendAdjustment(b->cmd);
    if (m_camera.IsConnected() && m_camera.LastResult() == LINK_OK)
        std::erase(m_unsent, b->cmd);
}

// The port list is read again, so a board plugged in after the window
// opened is found; the adapter that answered last time is tried first.
void CameraWorker::RunConnect()
{
    const std::vector<PortListing> list = ReadPorts();
    m_relay.SetPortEntries(Texts(list));
    const PortMemory memory = m_memory ? m_memory->Load() : PortMemory{};
    m_relay.UsePorts(Texts(OrderForConnect(list, memory)));
    m_reconnectPending = false;
    m_unsent.clear();
    m_log.MarkOrigin();
    m_originUs = WallClockMicros();
    m_camera.Board().SetRs485(m_rs485);
    m_camera.OnConnect();
    if (!m_camera.IsConnected()) {
        m_relay.SetControlStates(true, false);
        return;
    }
    m_lost = MemoryFor(list, m_camera.m_nPort);
    if (m_memory)
        m_memory->Save(m_lost);
}

std::vector<PortListing> CameraWorker::ReadPorts()
{
    if (!m_ports)
        return {};
    if (!m_options.listerOwnsItsState)
        return m_ports();
    auto reading = std::make_shared<PortReading>();
    {
        // The destructor abandons the reading it finds here; one that has
        // not started yet sees the cancel.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_cancel)
            return {};
        m_reading = reading;
    }
    try {
        std::thread([reading, lister = m_ports] {
            std::vector<PortListing> list = lister();
            std::lock_guard<std::mutex> lock(reading->mutex);
            reading->list = std::move(list);
            reading->finished = true;
            reading->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: read here, as a closing window then waits.
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reading.reset();
        }
        return m_ports();
    }
    std::vector<PortListing> list;
    {
        std::unique_lock<std::mutex> lock(reading->mutex);
        reading->changed.wait(lock, [&] { return reading->finished || reading->abandoned; });
        if (reading->finished)
            list = std::move(reading->list);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reading.reset();
    return list;
}

void CameraWorker::LineLost()
{
    m_camera.OnLineLost();
    m_reconnectPending = true;
    m_lastTry = m_platform.TickCount();
}

// The periodic look stays behind the events: an adapter that came back
// before its removal was noticed sends no second arrival.
void CameraWorker::Watch()
{
    if (m_camera.IsConnected()) {
        if (m_camera.LineGone()) {
            LineLost();
            return;
        }
        if (m_unsent.empty() || !m_autoReconnect || !TimeToTryAgain())
            return;
        SendUnsent();
    } else {
        if (!m_reconnectPending || !m_autoReconnect || !TimeToTryAgain())
            return;
        TryReconnect(ReadPorts());
    }
    // Counted from the end of the look: a silent board's probe takes longer
    // than the pause, and must not keep the worker probing without one.
    m_lastTry = m_platform.TickCount();
}

void CameraWorker::RunDeviceChange(DeviceChange change, const DeviceNotice& notice)
{
    const std::vector<PortListing> list = ReadPorts();
    m_relay.SetPortEntries(Texts(list));
    if (change == DeviceChange::Removed) {
        if (m_camera.IsConnected() && IsRememberedAdapter(notice, m_lost))
            LineLost();
        return;
    }
    if (!m_camera.IsConnected() && m_reconnectPending && m_autoReconnect) {
        TryReconnect(list);
        m_lastTry = m_platform.TickCount();
    }
}

bool CameraWorker::TimeToTryAgain() { return m_platform.TickCount() - m_lastTry >= m_options.reconnectMs; }

// Only the adapter that was pulled is tried, and only once it is listed
// again: no probe goes to any other port.
void CameraWorker::TryReconnect(const std::vector<PortListing>& list)
{
    const int index = FindRemembered(list, m_lost);
    if (index < 0)
        return;
    m_relay.UsePorts({list[static_cast<std::size_t>(index)].text});
    std::uint8_t status = 0;
    m_camera.Board().SetRs485(m_rs485);
    if (!m_camera.DetectBoard(&status))
        return;
    m_camera.StartBoard(status);
    if (!m_camera.IsConnected()) {
        // A device that went away during the start may come back again; a
        // board that answers but never starts is left to the operator.
        m_camera.ReportStart();
        m_reconnectPending = m_camera.LineLostError() != 0;
        return;
    }
    m_reconnectPending = false;
    m_lost = MemoryFor(list, m_camera.m_nPort);
    if (m_memory)
        m_memory->Save(m_lost);
    m_unsent.clear();
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            m_unsent.push_back(b.cmd);
    }
    SendUnsent();
}

// The status says which adjustments the board still lacks; they stay for
// the next look.
void CameraWorker::SendUnsent()
{
    const std::int32_t result = m_camera.SendAdjustments(&m_unsent);
    std::vector<std::string> names;
    for (std::uint8_t cmd : m_unsent)
        names.push_back(FindSliderForCommand(cmd)->name);
    m_relay.SetStatusText(ReconnectedText(m_camera.m_nPort, names, result));
}

} // namespace pelvar
