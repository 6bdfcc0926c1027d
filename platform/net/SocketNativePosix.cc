#include "platform/net/SocketNative.h"

namespace platform::net {

int NativeDescriptor(SocketHandle s) { return s == kInvalidSocket ? -1 : static_cast<int>(s); }

}  // namespace platform::net
