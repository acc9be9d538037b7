// The traffic pane as a report-view list control: a virtual list over the
// shared traffic rows, so 10,000 rows cost the control nothing until they
// are drawn. Rows that were retried or failed are coloured, the frames
// show in each row's tooltip. Records come from the worker's thread; the
// window adds them once per batch.
#pragma once

#include <windows.h>

#include "camera/Bench.h"

namespace pelvar {

class CTrafficList {
public:
    // Hidden until shown; `id` is the control's identifier.
    HWND Create(HWND parent, int id);
    HWND Handle() const { return m_hList; }
    TrafficRows& Rows() { return m_rows; }

    // Any thread: keeps the record; the first of a batch posts `message` to `window`.
    void Post(const ExchangeRecord& record, HWND window, UINT message);
    // Window's thread: the posted message starts the batch's timer on `window`.
    void StartBatch(HWND window) const;
    // Window's thread (the timer): adds the batch, follows the newest row
    // unless the operator has scrolled up.
    void Flush();
    // A notification from the list; true with *result when it was handled.
    bool OnNotify(const NMHDR* header, LRESULT* result) const;

    static constexpr UINT_PTR kBatchTimer = 0x7261;

private:
    HWND m_hList = nullptr;
    TrafficRows m_rows;
};

} // namespace pelvar
