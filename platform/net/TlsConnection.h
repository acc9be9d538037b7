// TLS over a network port's connection (rfc2217+tls://): a layer with the
// seam of the connection beneath it, so that the handshake and every record
// go through that connection's bounded calls, and the waits run on the
// platform's clock. The server's certificate is always verified: against
// the trust anchors (ca=, else the system's), or its pinned fingerprint,
// and always against the host named. Each system has its own file.
#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/PortName.h"
#include "platform/net/NetConnection.h"

namespace pelvar {

// Connect() connects `inner` and completes the handshake within its limit;
// nothing else goes out before. Refusals are the kErrorTls... codes.
std::unique_ptr<INetConnection> MakeTlsConnection(std::unique_ptr<INetConnection> inner, IPlatform& clock,
                                                  const NetworkAddress& address);

} // namespace pelvar
