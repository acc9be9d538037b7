#include "tools/pelvarctl/PortOption.h"

#include "platform/PortName.h"

namespace pelvar {

bool ParsePortName(const std::string& text, int* port, std::string* error)
{
    error->clear();
    if (LooksLikeNetworkPort(text)) {
        NetworkAddress address;
        if (!ParseNetworkAddress(text, &address, error))
            return false;
    } else if (!IsDevicePathName(text)) {
        return false;
    }
    const int n = NamePort(text, PortNumberTaken);
    if (n == 0) {
        *error = "no free port number left for '" + text + "'";
        return false;
    }
    *port = n;
    return true;
}

} // namespace pelvar
