// The system's error codes a failed send may leave, per operating system:
// those of a device that has gone, and others that only pace a retry.
#pragma once

#include <vector>

namespace pelvar::test {

std::vector<int> GoneDeviceErrors();
std::vector<int> OtherSendErrors();

} // namespace pelvar::test
