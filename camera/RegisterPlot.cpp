#include "camera/RegisterPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "camera/RegisterAccess.h"
#include "camera/TextFile.h"
#include "link/ResultCodes.h"

namespace pelvar {

PlotSeries::PlotSeries(std::string name, std::size_t capacity)
    : m_name(std::move(name)), m_ring(capacity > 0 ? capacity : 1)
{}

void PlotSeries::Append(const PlotPoint& p)
{
    if (m_size < m_ring.size()) {
        m_ring[(m_first + m_size) % m_ring.size()] = p;
        ++m_size;
        return;
    }
    m_ring[m_first] = p; // over the oldest
    m_first = (m_first + 1) % m_ring.size();
}

std::vector<std::vector<PlotPoint>> PlotSeries::Segments(std::uint32_t t0, std::uint32_t t1, std::size_t columns) const
{
    std::vector<std::vector<PlotPoint>> out;
    bool open = false;
    // The column being gathered: its first, lowest, highest and last point.
    std::uint64_t column = 0;
    bool gathering = false;
    PlotPoint first, low, high, last;
    const auto add = [&](const PlotPoint& p) {
        std::vector<PlotPoint>& run = out.back();
        if (run.empty() || run.back().ms != p.ms || run.back().value != p.value)
            run.push_back(p);
    };
    const auto flush = [&] {
        if (!gathering)
            return;
        gathering = false;
        add(first);
        const bool lowFirst = low.ms <= high.ms;
        add(lowFirst ? low : high);
        add(lowFirst ? high : low);
        add(last);
    };
    const std::uint64_t span = t1 > t0 ? std::uint64_t(t1 - t0) + 1 : 1;
    for (std::size_t i = 0; i < m_size; ++i) {
        const PlotPoint& p = At(i);
        if (p.gap) {
            flush();
            open = false;
            continue;
        }
        if (!open)
            out.emplace_back();
        open = true;
        if (columns == 0) {
            out.back().push_back(p);
            continue;
        }
        const std::uint64_t at = p.ms > t0 ? (std::uint64_t(p.ms - t0) * columns) / span : 0;
        if (!gathering || at != column) {
            flush();
            column = at;
            first = low = high = last = p;
            gathering = true;
            continue;
        }
        if (p.value < low.value)
            low = p;
        if (p.value > high.value)
            high = p;
        last = p;
    }
    flush();
    return out;
}

std::string CsvNumber(double value)
{
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<long long>(value));
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

bool RegisterPlotModel::HasRightAxis() const
{
    bool registers = false, responses = false;
    for (const Source& s : m_sources)
        (s.responseTime ? responses : registers) = true;
    return registers && responses;
}

PlotRange RegisterPlotModel::Range() const { return RangeOf(false); }

PlotRange RegisterPlotModel::RightRange() const { return RangeOf(true); }

PlotRange RegisterPlotModel::RangeOf(bool rightAxis) const
{
    PlotRange r;
    bool anyTime = false, anyValue = false;
    for (std::size_t n = 0; n < m_series.size(); ++n) {
        const PlotSeries& s = m_series[n];
        const bool counts = OnRightAxis(n) == rightAxis;
        for (std::size_t i = 0; i < s.Size(); ++i) {
            const PlotPoint& pt = s.At(i);
            r.t0 = anyTime ? std::min(r.t0, pt.ms) : pt.ms;
            r.t1 = anyTime ? std::max(r.t1, pt.ms) : pt.ms;
            anyTime = true;
            if (counts && !pt.gap) {
                r.v0 = anyValue ? std::min(r.v0, pt.value) : pt.value;
                r.v1 = anyValue ? std::max(r.v1, pt.value) : pt.value;
                anyValue = true;
            }
        }
    }
    if (r.v1 <= r.v0)
        r.v1 = r.v0 + 1;
    if (r.t1 <= r.t0)
        r.t1 = r.t0 + 1;
    return r;
}

std::string CsvRow(std::uint32_t ms, const std::vector<std::string>& cells)
{
    std::string line = std::to_string(ms);
    for (const std::string& c : cells)
        line += "," + c;
    return line;
}

RegisterPlotModel::RegisterPlotModel(IPlatform& clock, RegisterBoardRunner run, std::function<void()> changed,
                                     std::size_t capacity)
    : m_clock(clock), m_run(std::move(run)), m_changed(std::move(changed)), m_capacity(capacity)
{}

bool RegisterPlotModel::AddSeries(const std::string& name, std::string* error)
{
    Source s;
    const RegisterMap none;
    if (!ResolveRegister(m_map ? *m_map : none, name, &s.target, error))
        return false;
    if (!CheckTargetUse(s.target, true, false, "plot", error))
        return false;
    s.map = m_map; // the target points into it
    m_sources.push_back(std::move(s));
    m_series.emplace_back(TargetName(m_sources.back().target), m_capacity);
    return true;
}

void RegisterPlotModel::AddResponseTime()
{
    Source s;
    s.responseTime = true;
    m_sources.push_back(s);
    m_series.emplace_back(kResponseTimeSeries, m_capacity);
}

void RegisterPlotModel::Sample()
{
    if (m_paused || m_busy || m_sources.empty())
        return;
    if (!m_started) {
        m_start = m_clock.TickCount();
        m_started = true;
    }
    m_busy = true;
    // The work fills its own copy; the window's thread takes it in.
    auto taken = std::make_shared<std::vector<PlotPoint>>(m_sources.size());
    std::vector<Source> sources = m_sources;
    const std::uint32_t start = m_start;
    std::weak_ptr<int> alive = m_alive;
    m_run(
        [taken, sources, start](BoardConnection& board) {
            IPlatform& clock = board.Platform();
            const std::uint32_t at = clock.TickCount() - start;
            bool timed = false;
            for (std::size_t i = 0; i < sources.size(); ++i) {
                PlotPoint& p = (*taken)[i];
                p.ms = at;
                if (sources[i].responseTime) {
                    timed = true;
                    continue;
                }
                std::uint16_t value = 0;
                std::uint16_t whole = 0;
                p.gap = ReadTarget(board, sources[i].target, &value, &whole) != LINK_OK;
                p.value = value;
            }
            if (!timed)
                return;
            // One exchange's round trip: the status query, the shortest there is.
            const std::uint32_t begun = clock.TickCount();
            const std::int32_t r = board.QueryStatus().result;
            const std::uint32_t took = clock.TickCount() - begun;
            for (std::size_t i = 0; i < sources.size(); ++i)
                if (sources[i].responseTime) {
                    (*taken)[i].gap = r != LINK_OK;
                    (*taken)[i].value = took;
                }
        },
        [this, taken, alive] {
            if (alive.expired())
                return;
            m_busy = false;
            // A series added while the sample was out waits for the next one.
            for (std::size_t i = 0; i < taken->size() && i < m_series.size(); ++i)
                m_series[i].Append((*taken)[i]);
            if (m_changed)
                m_changed();
        },
        std::string());
}

std::string RegisterPlotModel::Csv() const
{
    std::vector<std::string> names;
    for (const PlotSeries& s : m_series)
        names.push_back(s.Name());
    std::string out = "ms";
    for (const std::string& n : names)
        out += "," + n;
    out += "\n";
    // Each series' points in time order; a row per time any series has.
    std::vector<std::size_t> next(m_series.size(), 0);
    for (;;) {
        bool any = false;
        std::uint32_t at = 0;
        for (std::size_t i = 0; i < m_series.size(); ++i)
            if (next[i] < m_series[i].Size() && (!any || m_series[i].At(next[i]).ms < at)) {
                at = m_series[i].At(next[i]).ms;
                any = true;
            }
        if (!any)
            break;
        std::vector<std::string> cells(m_series.size());
        for (std::size_t i = 0; i < m_series.size(); ++i)
            if (next[i] < m_series[i].Size() && m_series[i].At(next[i]).ms == at) {
                const PlotPoint& p = m_series[i].At(next[i]++);
                if (!p.gap)
                    cells[i] = CsvNumber(p.value);
            }
        out += CsvRow(at, cells) + "\n";
    }
    return out;
}

bool RegisterPlotModel::SaveCsv(const std::string& path, std::string* error) const
{
    return WriteTextFileReplacing(path, Csv(), error);
}

bool RegisterPlotModel::SavePng(const std::string& path, const std::string& png, std::string* error)
{
    if (png.empty()) {
        *error = path + ": cannot write: the picture could not be made";
        return false;
    }
    return WriteTextFileReplacing(path, png, error);
}

} // namespace pelvar
