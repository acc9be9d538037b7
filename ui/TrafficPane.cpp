#include "ui/TrafficPane.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <QScrollBar>

namespace pelvar {

namespace {

QColor ToQColor(const RowColour& c) { return QColor(c.red, c.green, c.blue); }

} // namespace

CTrafficModel::CTrafficModel(QObject* parent, std::size_t limit) : QAbstractTableModel(parent), m_rows(limit) {}

int CTrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Records().size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant CTrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(Records().size()))
        return {};
    const ExchangeRecord& r = Records()[static_cast<std::size_t>(index.row())];
    const RowColour* colour = TrafficRowColour(r);
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(TrafficCellText(r, index.column()));
    case Qt::ToolTipRole: return QString::fromStdString(TrafficTipText(r));
    case Qt::BackgroundRole: return colour ? QVariant(QBrush(ToQColor(*colour))) : QVariant();
    case Qt::ForegroundRole:
        // Readable on the marked rows whatever the style's text colour.
        return colour ? QVariant(QBrush(Qt::black)) : QVariant();
    default: return {};
    }
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[ColumnCount] = {"Time",     "Command", "Meaning", "Result",
                                                     "Attempts", "Took",    "Frames"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

// One signal per batch: the window is woken once however fast rows come.
void CTrafficModel::Post(const ExchangeRecord& record)
{
    if (m_rows.Post(record))
        emit Posted();
}

void CTrafficModel::Flush()
{
    std::vector<ExchangeRecord> batch = m_rows.TakePending();
    if (batch.empty())
        return;
    if (m_rows.KeptOf(batch) < batch.size()) {
        beginResetModel();
        m_rows.Append(std::move(batch));
        endResetModel();
        return;
    }
    const std::size_t over = m_rows.DroppedBy(batch);
    if (over > 0) {
        beginRemoveRows({}, 0, static_cast<int>(over) - 1);
        m_rows.DropOldest(over);
        endRemoveRows();
    }
    const int first = static_cast<int>(m_rows.Records().size());
    beginInsertRows({}, first, first + static_cast<int>(batch.size()) - 1);
    m_rows.Append(std::move(batch));
    endInsertRows();
}

CTrafficPane::CTrafficPane(QWidget* parent) : QTableView(parent), m_model(new CTrafficModel(this))
{
    setObjectName(QStringLiteral("trafficPane"));
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    // Fixed row heights and column widths: sizing to contents would read
    // every row of a long log on each batch.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < CTrafficModel::Frames; ++c)
        setColumnWidth(c, TrafficColumnDigits(c) * digit + 8);
    m_batch.setSingleShot(true);
    m_batch.setInterval(kTrafficBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &CTrafficPane::Flush);
    connect(
        m_model, &CTrafficModel::Posted, this, [this] { m_batch.start(); }, Qt::QueuedConnection);
}

// Newest at the bottom: follow it unless the operator has scrolled up.
void CTrafficPane::Flush()
{
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    m_model->Flush();
    if (atBottom)
        scrollToBottom();
}

} // namespace pelvar
