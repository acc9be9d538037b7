#include "tools/pelvarctl/MonitorVerb.h"

#include <algorithm>
#include <csignal>

#include <nlohmann/json.hpp>

#include "camera/CameraWorker.h"
#include "camera/CaptureFile.h"
#include "camera/Commands.h"
#include "camera/FailureText.h"
#include "camera/LineMonitor.h"
#include "link/ResultCodes.h"
#include "platform/HexBytes.h"
#include "platform/Platform.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

constexpr std::int32_t kLineBaud = 115200;
constexpr std::uint32_t kReadChunk = 256;
// A read returns a few ms after the line falls quiet, or after 50 ms of
// silence, so pauses are timed to a few ms and Ctrl-C is seen at once.
constexpr Timeouts kListenTimeouts{5, 0, 50, 0, 0};

// A port that went away is looked for at the panel's pace.
constexpr std::uint32_t kReopenMs = CameraWorkerOptions{}.reconnectMs;
constexpr std::uint32_t kStopSliceMs = 50; // how soon Ctrl-C ends a wait

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }

const char* KindName(LineEvent::Kind kind)
{
    switch (kind) {
    case LineEvent::Kind::Exchange: return "exchange";
    case LineEvent::Kind::Garbage: return "garbage";
    case LineEvent::Kind::Partial: return "partial frame";
    }
    return "";
}

std::string EventJson(const LineEvent& e)
{
    nlohmann::ordered_json j;
    j["ms"] = e.atMs;
    j["kind"] = KindName(e.kind);
    if (e.kind != LineEvent::Kind::Exchange) {
        j["bytes"] = HexBytes(e.bytes);
        return j.dump();
    }
    const ExchangeRecord& r = e.record;
    j["command"] = CommandName(r.cmd);
    j["meaning"] = ExchangeMeaning(r);
    j["result"] = ResultName(r.result);
    j["code"] = r.result;
    j["request"] = HexBytes(r.frames.front().bytes);
    if (!e.requestChecksumOk)
        j["request_checksum_wrong"] = true;
    if (e.replied) {
        j["reply"] = HexBytes(r.frames.back().bytes);
        j["response_ms"] = r.durationMs;
        if (e.outsideWindow)
            j["outside_window"] = true;
    }
    return j.dump();
}

// The port opened for listening; kNoHandle with *why the sentence when not.
PortHandle OpenListening(IPlatform& platform, const PortRef& port, std::string* why)
{
    const PortHandle h = platform.OpenRef(port);
    if (h == kNoHandle) {
        *why = DescribeFailure(OpenFailure(platform, port, PORT_ERR_CONFIG, platform.LastError()));
        return kNoHandle;
    }
    LineSettings settings{kLineBaud, 8, 0, 0};
    settings.listenOnly = true;
    if (!platform.ApplyLineSettings(h, settings) || !platform.SetTimeouts(h, kListenTimeouts)) {
        *why = PortLabel(platform, port) + " refused the line settings: " + DescribeErrno(platform.LastError());
        platform.ClosePort(h);
        return kNoHandle;
    }
    return h;
}

// The port again once it is back, tried every kReopenMs; kNoHandle after Ctrl-C.
PortHandle WaitForPort(IPlatform& platform, const PortRef& port)
{
    for (;;) {
        const std::uint32_t since = platform.TickCount();
        while (!g_stop && platform.TickCount() - since < kReopenMs)
            platform.Sleep(std::min(kStopSliceMs, kReopenMs - (platform.TickCount() - since)));
        if (g_stop)
            return kNoHandle;
        std::string ignored;
        if (const PortHandle h = OpenListening(platform, port, &ignored); h != kNoHandle)
            return h;
    }
}

} // namespace

int RunMonitorVerb(const MonitorOptions& options, std::FILE* out, std::FILE* err, IPlatform& platform)
{
    const std::string where = PortLabel(platform, options.port);
    std::string why;
    PortHandle h = OpenListening(platform, options.port, &why);
    if (h == kNoHandle) {
        std::fprintf(err, "pelvarctl: monitor: %s\n", why.c_str());
        return 1;
    }

    CaptureWriter capture;
    if (!options.capture.empty()) {
        int error = 0;
        if (!capture.Open(options.capture, WallClockMicros(), &error)) {
            std::fprintf(err, "pelvarctl: --capture: cannot write '%s': %s\n", options.capture.c_str(),
                         DescribeErrno(error).c_str());
            platform.ClosePort(h);
            return 1;
        }
    }
    LineMonitor monitor([&](const LineEvent& e) {
        const std::string line = options.json ? EventJson(e) : LineEventText(e);
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
        if (capture.IsOpen() && e.kind == LineEvent::Kind::Exchange)
            capture.Add(e.record);
        else if (capture.IsOpen())
            capture.AddNoise(e.bytes, e.atMs);
    });

    g_stop = 0;
    auto previousInt = std::signal(SIGINT, OnStop);
    auto previousTerm = std::signal(SIGTERM, OnStop);
    int status = 0;
    // The monitor's origin is the moment it starts listening.
    monitor.Idle(platform.TickCount());
    while (!g_stop) {
        std::uint8_t buf[kReadChunk];
        std::uint32_t got = 0;
        const bool read = platform.Read(h, buf, kReadChunk, &got);
        // The last bytes before a hang-up come with it: heard, not dropped.
        if (read && got)
            monitor.Feed(buf, got, platform.TickCount());
        if (!read || platform.PortGone(h)) {
            if (g_stop)
                break;
            std::fprintf(err, "pelvarctl: monitor: %s: %s\n", where.c_str(), GoneWords(platform.LastError()).c_str());
            std::fflush(err);
            status = 1;
            // What was heard before the loss comes out now; nothing after it
            // belongs to the same frame.
            monitor.Finish();
            platform.ClosePort(h);
            h = kNoHandle;
            if (options.stopAtLoss || (h = WaitForPort(platform, options.port)) == kNoHandle)
                break;
            std::fprintf(err, "pelvarctl: monitor: %s: back\n", where.c_str());
            std::fflush(err);
            monitor.Idle(platform.TickCount());
            continue;
        }
        if (!got)
            monitor.Idle(platform.TickCount());
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    monitor.Finish();
    if (h != kNoHandle)
        platform.ClosePort(h);
    int error = 0;
    if (!capture.Close(&error)) {
        std::fprintf(err, "pelvarctl: --capture: '%s': %s\n", options.capture.c_str(), DescribeErrno(error).c_str());
        status = 1;
    }
    return status;
}

} // namespace pelvar
