#include "tests/support/SendErrors.h"

#include <cerrno>

namespace pelvar::test {

std::vector<int> GoneDeviceErrors() { return {EIO, ENXIO, ENODEV}; }

std::vector<int> OtherSendErrors() { return {EAGAIN}; }

} // namespace pelvar::test
