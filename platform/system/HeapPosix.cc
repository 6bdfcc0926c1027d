#include <malloc.h>

#include "platform/system/Heap.h"

namespace platform::system {

namespace {
constexpr int kArenas = 2;
}  // namespace

void LimitHeapArenas() {
#ifdef M_ARENA_MAX
  mallopt(M_ARENA_MAX, kArenas);
#endif
}

}  // namespace platform::system
