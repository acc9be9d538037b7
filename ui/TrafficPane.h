// The traffic pane: one row per exchange with the board, newest at the
// bottom, the frames in the last column and in each row's tooltip. Rows that
// needed more than one attempt or failed stand out. Records arrive from the
// worker's thread and are added in batches on the window's thread, so a
// busy line costs the window one model update per batch, not one per row.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <QTimer>

#include <cstddef>
#include <deque>

#include "camera/Bench.h"

namespace pelvar {

class CTrafficModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        Time = kTrafficTime,
        Command = kTrafficCommand,
        Meaning = kTrafficMeaning,
        Result = kTrafficResult,
        Attempts = kTrafficAttempts,
        Duration = kTrafficDuration,
        Frames = kTrafficFrames,
        ColumnCount = kTrafficColumnCount
    };

    explicit CTrafficModel(QObject* parent = nullptr, std::size_t limit = kTrafficRowLimit);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Any thread.
    void Post(const ExchangeRecord& record);
    // Window's thread: adds what was posted, dropping the oldest rows over the limit.
    void Flush();

    const std::deque<ExchangeRecord>& Records() const { return m_rows.Records(); }

signals:
    void Posted();

private:
    TrafficRows m_rows;
};

class CTrafficPane : public QTableView {
    Q_OBJECT

public:
    explicit CTrafficPane(QWidget* parent);
    CTrafficModel& Model() { return *m_model; }

private:
    void Flush();

    CTrafficModel* m_model;
    QTimer m_batch;
};

} // namespace pelvar
