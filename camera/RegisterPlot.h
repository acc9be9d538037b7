// Values over time, free of any GUI library: series of registers or fields
// (by the map's names) and of the exchanges' response times, each a ring of
// fixed capacity so that an hour's plot holds its memory flat. A read that
// fails (the board gone) leaves a gap, so the line breaks instead of running
// flat through the time no value came. Sampling runs on the worker through the
// same runner as the register view; the window only asks for a sample at its
// interval and draws the segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/RegisterMap.h"
#include "camera/RegisterView.h"

namespace pelvar {

constexpr const char* kPlotAddButtonText = "Add";
constexpr const char* kPlotAddResponseText = "Add response time";
constexpr const char* kPlotPauseButtonText = "Pause";
constexpr const char* kPlotResumeButtonText = "Resume";
constexpr const char* kPlotSavePngButtonText = "Save PNG...";
constexpr const char* kPlotSaveCsvButtonText = "Save CSV...";
// The series' name for one exchange's round trip (a status query) each sample.
constexpr const char* kResponseTimeSeries = "response ms";

// An hour at 10 values a second.
constexpr std::size_t kPlotCapacity = 36000;
constexpr std::uint32_t kPlotIntervalMs = 100;

struct PlotPoint {
    std::uint32_t ms = 0; // since the plot began
    bool gap = false;     // no value came: the line breaks here
    double value = 0;
};

// The newest `capacity` points, the oldest dropped.
class PlotSeries {
public:
    PlotSeries(std::string name, std::size_t capacity);
    const std::string& Name() const { return m_name; }
    void Append(const PlotPoint& p);
    std::size_t Size() const { return m_size; }
    std::size_t Capacity() const { return m_ring.size(); }
    // 0 is the oldest kept.
    const PlotPoint& At(std::size_t i) const { return m_ring[(m_first + i) % m_ring.size()]; }
    // The runs of values between gaps: each one polyline.
    std::vector<std::vector<PlotPoint>> Segments() const { return Segments(0, 0, 0); }
    // The same as a window `columns` pixels wide from t0 to t1 draws them: of
    // each column only its first, lowest, highest and last point, so a paint
    // costs the plot's width, not the hour of points kept. 0 columns: all.
    std::vector<std::vector<PlotPoint>> Segments(std::uint32_t t0, std::uint32_t t1, std::size_t columns) const;

private:
    std::string m_name;
    std::vector<PlotPoint> m_ring;
    std::size_t m_first = 0;
    std::size_t m_size = 0;
};

// "12,34,,5": a time in ms, then cells, numbers in decimal so that
// spreadsheets and plotting tools take them; an empty cell is a gap.
std::string CsvRow(std::uint32_t ms, const std::vector<std::string>& cells);
// A value as a CSV cell: whole numbers without a fraction.
std::string CsvNumber(double value);

// What the axes span: the times of every kept point and the values of
// every kept point that is no gap; never empty, so a scale never divides by 0.
struct PlotRange {
    std::uint32_t t0 = 0, t1 = 1;
    double v0 = 0, v1 = 1;
};

class RegisterPlotModel {
public:
    // `changed` (window's thread) is told after samples were taken in.
    RegisterPlotModel(IPlatform& clock, RegisterBoardRunner run, std::function<void()> changed,
                      std::size_t capacity = kPlotCapacity);
    RegisterPlotModel(const RegisterPlotModel&) = delete;
    RegisterPlotModel& operator=(const RegisterPlotModel&) = delete;

    void SetMap(std::shared_ptr<const RegisterMap> map) { m_map = std::move(map); }
    // A register or NAME.FIELD of the map, or a hexadecimal address; false
    // with *error one line when it names nothing or cannot be read (wo, rc).
    bool AddSeries(const std::string& name, std::string* error);
    void AddResponseTime();
    const std::vector<PlotSeries>& Series() const { return m_series; }
    // The times span every series; the values, the left axis's series.
    PlotRange Range() const;
    // Milliseconds and register values share no scale: with registers or
    // fields plotted, the response times get their own axis on the right.
    bool HasRightAxis() const;
    bool OnRightAxis(std::size_t series) const { return HasRightAxis() && m_sources[series].responseTime; }
    // The times as Range(); the values of the right axis's series.
    PlotRange RightRange() const;

    // One sample of every series, on the worker. Nothing while paused, and
    // nothing while the last sample is still out, so a slow board never
    // piles up work behind the window's timer.
    void Sample();
    void SetPaused(bool paused) { m_paused = paused; }
    bool Paused() const { return m_paused; }
    bool Sampling() const { return m_busy; }

    // "ms,CTRL,CTRL.MODE,response ms", then one row per sample time.
    std::string Csv() const;
    bool SaveCsv(const std::string& path, std::string* error) const;
    // The picture a window drew, already PNG, written the way every saved file
    // is; an empty `png` is the window's failed encoding, said as a failed write.
    static bool SavePng(const std::string& path, const std::string& png, std::string* error);

private:
    PlotRange RangeOf(bool rightAxis) const;

    struct Source {
        bool responseTime = false;
        RegisterTarget target;
        std::shared_ptr<const RegisterMap> map; // what the target points into
    };
    IPlatform& m_clock;
    RegisterBoardRunner m_run;
    std::function<void()> m_changed;
    std::size_t m_capacity;
    std::shared_ptr<const RegisterMap> m_map;
    std::vector<PlotSeries> m_series;
    std::vector<Source> m_sources;
    std::uint32_t m_start = 0;
    bool m_started = false;
    bool m_paused = false;
    bool m_busy = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0); // the work holds it weakly
};

} // namespace pelvar
