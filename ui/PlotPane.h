// The plot of values over time in the Qt panel: the series of the shared
// model drawn with QPainter, one polyline for each run between gaps, and the
// controls that add a series, pause, and save the picture or the values.
#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "camera/RegisterPlot.h"

namespace pelvar {

class CPlotCanvas : public QWidget {
    Q_OBJECT

public:
    CPlotCanvas(QWidget* parent, const RegisterPlotModel& plot);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const RegisterPlotModel& m_plot;
};

class CPlotPane : public QWidget {
    Q_OBJECT

public:
    // `run` carries the reads to the worker; `status` shows a line in the panel's status.
    CPlotPane(QWidget* parent, IPlatform& clock, RegisterBoardRunner run,
              std::function<void(const std::string&)> status);

    RegisterPlotModel& Plot() { return m_plot; }
    // The map whose registers and fields are offered.
    void SetMap(std::shared_ptr<const RegisterMap> map);
    QComboBox* Names() const { return m_names; }
    bool SavePng(const std::string& path, std::string* error);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Add(const std::string& name);
    void TogglePause();
    void AskSavePng();
    void AskSaveCsv();
    void Say(const std::string& line);

    std::function<void(const std::string&)> m_status;
    RegisterPlotModel m_plot;
    QComboBox* m_names = nullptr;
    QPushButton* m_pause = nullptr;
    CPlotCanvas* m_canvas = nullptr;
    QTimer m_timer;
};

} // namespace pelvar
