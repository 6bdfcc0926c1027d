// Installs the crash handler, then turns in local-time, heap and formatting calls (which take
// the C library's locks) until killed; "ready" on standard output once it turns. One thread
// only, so a signal sent to the process interrupts that loop.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/system/CrashHandler.h"

int main() {
  platform::system::InstallCrashHandler();
  unsigned long rounds = 0;
  for (;;) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char* text = static_cast<char*>(std::malloc(64 + rounds % 512));
    std::snprintf(text, 64, "%d %lu", local.tm_sec, rounds);
    std::free(text);
    if (++rounds == 20000) {
      std::puts("ready");
      std::fflush(stdout);
    }
  }
}
