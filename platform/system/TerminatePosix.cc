#include "platform/system/Terminate.h"

#include <unistd.h>

namespace platform::system {

void TerminateSelf(int status) { ::_exit(status); }

}  // namespace platform::system
