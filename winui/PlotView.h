// The plot of values over time drawn with GDI: the shared RegisterPlotModel's
// series, one Polyline for each run between gaps, under a row of controls
// (the map's names, Add, Add response time, Pause, Save PNG, Save CSV). The canvas owns
// the sampling timer, so the samples stop when the plot is hidden.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/Bench.h"
#include "camera/RegisterPlot.h"

namespace pelvar {

constexpr int IDC_PLOT_NAMES = 1060;
constexpr int IDC_PLOT_ADD = 1061;
constexpr int IDC_PLOT_ADD_RESPONSE = 1062;
constexpr int IDC_PLOT_PAUSE = 1063;
constexpr int IDC_PLOT_SAVE_CSV = 1064;
constexpr int IDC_PLOT_CANVAS = 1065;
constexpr int IDC_PLOT_SAVE_PNG = 1066;

class CPlotView {
public:
    // `askSavePath` asks where to save a file of that kind (empty: cancelled);
    // `status` shows a line.
    using AskSavePath = std::function<std::string(const char* title, BenchFile kind)>;
    CPlotView(IPlatform& clock, RegisterBoardRunner run, std::function<void(const std::string&)> status,
              AskSavePath askSavePath);

    void Create(HWND parent);
    void Show(const RECT& area, bool show);
    bool Shown() const { return m_shown; }
    void SetMap(std::shared_ptr<const RegisterMap> map);
    RegisterPlotModel& Plot() { return m_plot; }
    HWND Canvas() const { return m_hCanvas; }

    bool OnCommand(int id, int code);
    // The canvas as drawn now, at its size, as a PNG file.
    bool SavePng(const std::string& path, std::string* error);

private:
    static LRESULT CALLBACK CanvasProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc, const RECT& client);
    void Say(const std::string& line);

    std::function<void(const std::string&)> m_status;
    AskSavePath m_askSavePath;
    RegisterPlotModel m_plot;
    std::vector<HWND> m_controls; // the row above the canvas, names first
    HWND m_hNames = nullptr;
    HWND m_hPause = nullptr;
    HWND m_hCanvas = nullptr;
    bool m_shown = false;
};

} // namespace pelvar
