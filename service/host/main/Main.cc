// nimbrelsvc: the local media service. Reads ./config.ini and ./certificates from the working
// directory; takes no arguments.
#include <thread>

#include "platform/system/CrashHandler.h"
#include "platform/system/Heap.h"
#include "service/host/ServiceWiring.h"
#include "service/windows/WindowSystem.h"

int main() {
  platform::system::LimitHeapArenas();
  platform::system::InstallCrashHandler();
  platform::system::IgnoreBrokenPipe();
  platform::system::IgnoreFileSizeLimit();
  ServiceWiring service(OpenWindowSystem());
  WsServer& server = service.Server();
  std::thread serverThread([&server] { server.Run(); });
  serverThread.join();
  return server.ExitStatus();
}
