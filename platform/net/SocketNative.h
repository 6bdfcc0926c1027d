#pragma once
// The descriptor a TLS library attaches to (OpenSSL's SSL_set_fd). Any thread.
#include "platform/net/Socket.h"

namespace platform::net {

// -1 for kInvalidSocket.
int NativeDescriptor(SocketHandle s);

}  // namespace platform::net
