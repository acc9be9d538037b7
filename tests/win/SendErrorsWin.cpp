#include "tests/support/SendErrors.h"

#include <windows.h>

namespace pelvar::test {

// What a pulled USB adapter answers, and the next open's answer.
std::vector<int> GoneDeviceErrors()
{
    return {ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ERROR_OPERATION_ABORTED,
            ERROR_FILE_NOT_FOUND};
}

// The codes that share EIO's, ENXIO's and ENODEV's numbers (5, 6, 19).
std::vector<int> OtherSendErrors() { return {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_WRITE_PROTECT}; }

} // namespace pelvar::test
