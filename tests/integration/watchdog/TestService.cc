#include <chrono>
#include <cstdlib>
#include <thread>

int main() {
  if (std::getenv("NIMBREL_TEST_SERVICE_EXIT")) return 0;
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
