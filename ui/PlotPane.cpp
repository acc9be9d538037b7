#include "ui/PlotPane.h"

#include <QBuffer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pelvar {

namespace {

// One colour a series, in the order they were added.
const QColor kSeriesColours[] = {QColor(0, 90, 200), QColor(200, 60, 0), QColor(0, 140, 60), QColor(140, 0, 160),
                                 QColor(120, 100, 0)};

} // namespace

CPlotCanvas::CPlotCanvas(QWidget* parent, const RegisterPlotModel& plot) : QWidget(parent), m_plot(plot)
{
    setObjectName(QStringLiteral("plotCanvas"));
    setMinimumSize(200, 120);
    setAutoFillBackground(true);
}

void CPlotCanvas::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int left = fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 6;
    const bool twoAxes = m_plot.HasRightAxis();
    const int right = twoAxes ? left : 8;
    const int line = fontMetrics().height();
    const QRect area(left, 4 + line * static_cast<int>(m_plot.Series().size()), width() - left - right,
                     height() - 12 - line * (1 + static_cast<int>(m_plot.Series().size())));
    const auto [t0, t1, v0, v1] = m_plot.Range();
    const PlotRange r = m_plot.RightRange();
    p.setPen(Qt::black);
    p.drawLine(area.bottomLeft(), area.topLeft());
    p.drawLine(area.bottomLeft(), area.bottomRight());
    p.drawText(QRect(0, area.top() - line / 2, left - 4, line), Qt::AlignRight, QString::fromStdString(CsvNumber(v1)));
    p.drawText(QRect(0, area.bottom() - line / 2, left - 4, line), Qt::AlignRight,
               QString::fromStdString(CsvNumber(v0)));
    if (twoAxes) {
        p.drawLine(area.bottomRight(), area.topRight());
        p.drawText(QRect(area.right() + 4, area.top() - line / 2, right - 4, line), Qt::AlignLeft,
                   QString::fromStdString(CsvNumber(r.v1)));
        p.drawText(QRect(area.right() + 4, area.bottom() - line / 2, right - 4, line), Qt::AlignLeft,
                   QString::fromStdString(CsvNumber(r.v0)));
    }
    p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), line), Qt::AlignLeft,
               QStringLiteral("%1 s").arg(t0 / 1000.0, 0, 'f', 1));
    p.drawText(QRect(area.left(), area.bottom() + 2, area.width(), line), Qt::AlignRight,
               QStringLiteral("%1 s").arg(t1 / 1000.0, 0, 'f', 1));
    const auto at = [&](const PlotPoint& pt, bool onRight) {
        const double low = onRight ? r.v0 : v0;
        const double high = onRight ? r.v1 : v1;
        return QPointF(area.left() + area.width() * double(pt.ms - t0) / double(t1 - t0),
                       area.bottom() - area.height() * (pt.value - low) / (high - low));
    };
    p.setRenderHint(QPainter::Antialiasing);
    int n = 0;
    for (const PlotSeries& s : m_plot.Series()) {
        const QColor colour = kSeriesColours[n % std::size(kSeriesColours)];
        const bool onRight = m_plot.OnRightAxis(static_cast<std::size_t>(n));
        p.setPen(QPen(colour, 1.5));
        p.drawText(QRect(left, 2 + line * n, area.width(), line), onRight ? Qt::AlignRight : Qt::AlignLeft,
                   QString::fromStdString(s.Name()));
        // A gap breaks the line: each run is its own polyline.
        for (const std::vector<PlotPoint>& run : s.Segments(t0, t1, static_cast<std::size_t>(area.width()))) {
            QPolygonF poly;
            for (const PlotPoint& pt : run)
                poly << at(pt, onRight);
            if (poly.size() == 1)
                p.drawEllipse(poly[0], 1.5, 1.5);
            else
                p.drawPolyline(poly);
        }
        ++n;
    }
}

CPlotPane::CPlotPane(QWidget* parent, IPlatform& clock, RegisterBoardRunner run,
                     std::function<void(const std::string&)> status)
    : QWidget(parent), m_status(std::move(status)), m_plot(clock, std::move(run), [this] { m_canvas->update(); })
{
    setObjectName(QStringLiteral("plotPane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    m_names = new QComboBox(this);
    m_names->setObjectName(QStringLiteral("plotNames"));
    m_names->setEditable(true); // an address typed in hexadecimal works too
    buttons->addWidget(m_names, 1);
    const auto addButton = [&](const char* text, std::function<void()> onClick) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, [onClick = std::move(onClick)] { onClick(); });
        return b;
    };
    addButton(kPlotAddButtonText, [this] { Add(m_names->currentText().toStdString()); });
    addButton(kPlotAddResponseText, [this] {
        m_plot.AddResponseTime();
        m_canvas->update();
    });
    m_pause = addButton(kPlotPauseButtonText, [this] { TogglePause(); });
    addButton(kPlotSavePngButtonText, [this] { AskSavePng(); });
    addButton(kPlotSaveCsvButtonText, [this] { AskSaveCsv(); });
    layout->addLayout(buttons);
    m_canvas = new CPlotCanvas(this, m_plot);
    layout->addWidget(m_canvas, 1);
    m_timer.setInterval(static_cast<int>(kPlotIntervalMs));
    connect(&m_timer, &QTimer::timeout, this, [this] { m_plot.Sample(); });
}

void CPlotPane::SetMap(std::shared_ptr<const RegisterMap> map)
{
    m_plot.SetMap(map);
    m_names->clear();
    if (!map)
        return;
    for (const RegisterInfo& r : map->Registers()) {
        m_names->addItem(QString::fromStdString(r.name));
        for (const RegisterField& f : r.fields)
            m_names->addItem(QString::fromStdString(r.name + "." + f.name));
    }
}

// Sampling runs only while the plot shows.
void CPlotPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void CPlotPane::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void CPlotPane::Add(const std::string& name)
{
    std::string error;
    if (!m_plot.AddSeries(name, &error)) {
        Say(error);
        return;
    }
    m_canvas->update();
}

void CPlotPane::TogglePause()
{
    m_plot.SetPaused(!m_plot.Paused());
    m_pause->setText(QString::fromUtf8(m_plot.Paused() ? kPlotResumeButtonText : kPlotPauseButtonText));
}

bool CPlotPane::SavePng(const std::string& path, std::string* error)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!m_canvas->grab().save(&buffer, "PNG"))
        png.clear();
    return RegisterPlotModel::SavePng(path, png.toStdString(), error);
}

void CPlotPane::AskSavePng()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QString::fromUtf8(kPlotSavePngButtonText), QString(),
                                     QString::fromStdString(FilterTitle(FilterFor(BenchFile::Picture))));
    std::string error;
    if (!path.isEmpty() && !SavePng(path.toStdString(), &error))
        Say(error);
}

void CPlotPane::AskSaveCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kPlotSaveCsvButtonText), QString(),
                                                      QString::fromStdString(FilterTitle(FilterFor(BenchFile::Csv))));
    std::string error;
    if (!path.isEmpty() && !m_plot.SaveCsv(path.toStdString(), &error))
        Say(error);
}

void CPlotPane::Say(const std::string& line)
{
    if (m_status)
        m_status(line);
}

} // namespace pelvar
