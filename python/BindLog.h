// The exchange log's record as Python sees it, for the board's log().
#pragma once

#include <cstdint>
#include <vector>

#include "camera/ExchangeLog.h"
#include "python/Binding.h"

namespace pelvar::binding {

struct LoggedExchange {
    ExchangeRecord record;
};

py::bytes Bytes(const std::vector<std::uint8_t>& v);

} // namespace pelvar::binding
