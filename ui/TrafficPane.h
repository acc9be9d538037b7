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
#include <mutex>
#include <vector>

#include "camera/ExchangeLog.h"

namespace pelvar {

constexpr std::size_t kTrafficRowLimit = 10000;
constexpr int kTrafficBatchMs = 50;

class CTrafficModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Time, Command, Meaning, Result, Attempts, Duration, Frames, ColumnCount };

    explicit CTrafficModel(QObject* parent = nullptr, std::size_t limit = kTrafficRowLimit);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Any thread.
    void Post(const ExchangeRecord& record);
    // Window's thread: adds what was posted, dropping the oldest rows over the limit.
    void Flush();

    const std::deque<ExchangeRecord>& Records() const { return m_rows; }

signals:
    void Posted();

private:
    void Append(std::vector<ExchangeRecord> batch);

    std::size_t m_limit;
    std::deque<ExchangeRecord> m_rows;
    std::mutex m_mutex;
    std::vector<ExchangeRecord> m_pending;
    bool m_flushAsked = false;
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
