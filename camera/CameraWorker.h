// Runs the camera logic's operations away from the window's thread: one
// worker owns the link and runs them in order while the window stays
// responsive. Slider positions are coalesced: while an exchange is in flight
// only the latest position of each slider waits, so the board follows the
// operator without falling behind. It also watches the open port: a device
// that goes away ends the connection at once, and when the same adapter
// comes back the worker reconnects and sends the adjustments it holds; those
// the board did not take are sent again at each later look.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camera/CameraController.h"
#include "camera/ExchangeLog.h"
#include "camera/ScriptRecorder.h"
#include "camera/PortMemory.h"
#include "discovery/DeviceWatch.h"
#include "discovery/PortList.h"
#include "camera/ViewRelay.h"

namespace pelvar {

// The port list as Connect reads it again, with the devices behind it.
using PortLister = std::function<std::vector<PortListing>()>;

// How a window fills its port list: the machine's own devices by default,
// or a given list (the demo, tests).
using PortListFiller = std::function<void(IPortList&)>;
PortListFiller MachinePortListFiller();

// The machine's own devices, whose arrivals the system can report.
bool ListsMachinePorts(const PortListFiller& fill);

// What Connect reads for a filler: the machine's devices with their serial
// numbers for the machine's filler, else the filler's texts alone.
PortLister ListerFor(const PortListFiller& fill);

struct CameraWorkerOptions {
    bool threaded = true;            // false: the caller runs RunQueued and Watch (tests)
    std::uint32_t watchMs = 100;     // how often an idle worker looks at the open port
    std::uint32_t reconnectMs = 500; // how often it looks for an unplugged adapter
    // The port lister owns all it uses (the machine's own lister does): each
    // reading runs on a thread of its own, and a closing worker leaves a
    // reading in flight to end by itself instead of waiting for it, since
    // discovery may take seconds. False: read on the worker's thread.
    bool listerOwnsItsState = false;
};

class CameraWorker {
public:
    // `view` is the window; it is touched only from DrainUi. `wakeUi` (called
    // from the worker) asks the window's thread to call DrainUi soon.
    CameraWorker(IPanelView& view, IPlatform& platform, PortLister ports, IPortMemoryStore* memory,
                 std::function<void()> wakeUi, CameraWorkerOptions options = {});
    // Drops what is queued, lets the running exchange end, releases the port.
    ~CameraWorker();
    CameraWorker(const CameraWorker&) = delete;
    CameraWorker& operator=(const CameraWorker&) = delete;

    // Window's thread: each queues one operation.
    void Connect();
    void Disconnect();
    void PortSelChange();
    void Slider(int sliderId, int position);
    void Button(int controlId);
    void RegisterWrite();
    void RegisterRead();
    // Moves all five adjustments (a loaded preset); when connected each is
    // sent once.
    void SetAdjustments(const Adjustments& values);
    // Reads the port list into the window away from its thread (discovery
    // may take seconds); a Connect queued after it waits for it.
    void FillPortList();
    // Runs `work` on the worker's thread with the board (open or not), in
    // order with the other operations, then `done` on the window's thread
    // from DrainUi. `scriptLine` (if any) goes to the session recording.
    using BoardWork = std::function<void(BoardConnection& board)>;
    void RunOnBoard(BoardWork work, std::function<void()> done, std::string scriptLine = {});

    // Any thread: a device came or went. The port list is read again; the
    // removal of the open port's adapter ends the connection, and an arrival
    // tries the adapter that was pulled at once (no other port is probed).
    void DeviceChanged(DeviceChange change, const DeviceNotice& notice = {});
    // Starts the machine's own arrival events where the system offers them
    // to a process (Linux); false where it does not.
    bool WatchMachineArrivals();

    // Any thread: each exchange with the board, as it ends (called on the
    // worker's thread). Null: none.
    // Wall time (µs since 1970) at which the exchanges' atMs is 0: where a
    // saved capture's time stamps start.
    std::uint64_t OriginWallMicros() const { return m_originUs.load(); }
    void SetExchangeSink(ExchangeLog::Sink sink);
    // Writes the operations that go to the board as a pelvarctl script.
    ScriptRecorder& Recorder() { return m_recorder; }

    // Reconnect by itself when the adapter that was pulled comes back.
    void SetAutoReconnect(bool on) { m_autoReconnect = on; }
    bool AutoReconnect() const { return m_autoReconnect; }
    // Open ports in the driver's RS-485 mode (as pelvarctl --rs485): taken
    // at the next Connect or reconnection. Off by default.
    void SetRs485(bool on) { m_rs485 = on; }
    bool Rs485() const { return m_rs485; }

    // Window's thread: what the operations did to the panel, in order.
    // Returns true when calls remain after `most` (see ViewRelay::Drain).
    bool DrainUi(std::size_t most = SIZE_MAX);
    // Nothing queued, nothing running.
    bool Idle() const;

    // Without a thread: run everything queued, and one look at the port.
    void RunQueued();
    void Watch();

    // The logic itself; read it only while Idle().
    CameraController& Camera() { return m_camera; }

private:
    enum class OpKind {
        Connect,
        Disconnect,
        PortSelChange,
        Slider,
        Button,
        RegisterWrite,
        RegisterRead,
        Adjust,
        FillPorts,
        Device,
        BoardWork
    };
    struct Op {
        explicit Op(OpKind k = OpKind::Button, int i = 0) : kind(k), id(i) {}
        OpKind kind;
        int id = 0;
        std::map<int, std::string> texts;
        std::vector<std::string> ports;
        int selected = -1;
        Adjustments adjust;
        DeviceChange change = DeviceChange::Arrived;
        DeviceNotice notice;
        BoardWork work;
        std::function<void()> done;
        std::string scriptLine;
    };

    void Queue(Op op);
    bool PopLocked(Op* op, int* sliderValue);
    void Run(const Op& op, int sliderValue);
    void RunConnect();
    void RunSlider(int sliderId, int value);
    void RunAdjust(const Adjustments& values);
    void Record(const std::string& line);
    void ForwardExchange(const ExchangeRecord& record);
    std::vector<PortListing> ReadPorts();
    struct PortReading;
    void RunDeviceChange(DeviceChange change, const DeviceNotice& notice);
    void LineLost();
    void TryReconnect(const std::vector<PortListing>& list);
    void SendUnsent();
    bool TimeToTryAgain();
    void ThreadMain();
    void Finished();

    IPanelView& m_view;
    IPlatform& m_platform;
    PortLister m_ports;
    IPortMemoryStore* m_memory;
    CameraWorkerOptions m_options;
    ViewRelay m_relay;
    CameraController m_camera;
    ScriptRecorder m_recorder;
    std::mutex m_sinkMutex;
    ExchangeLog::Sink m_sink;
    ExchangeLog m_log;
    std::atomic<std::uint64_t> m_originUs{0}; // wall time of the log's origin

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Op> m_queue;
    std::map<int, int> m_latest;  // slider id -> latest position not yet taken
    std::set<int> m_sliderQueued; // sliders with an operation in the queue
    bool m_running = false;
    bool m_stop = false;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_autoReconnect{true};
    std::atomic<bool> m_rs485{false};
    std::shared_ptr<PortReading> m_reading; // the reading in flight, under m_mutex

    // Worker side only.
    bool m_reconnectPending = false;
    PortMemory m_lost;
    std::uint32_t m_lastTry = 0;
    // Adjustments (their commands) the board has not taken since it came back.
    std::vector<std::uint8_t> m_unsent;

    std::thread m_thread;
    // Last: stopped before anything it calls into goes.
    std::unique_ptr<DeviceWatch> m_deviceWatch;
};

} // namespace pelvar
