// nimbrelsvc: the local media service. Reads ./config.ini and ./certificates from the working
// directory; takes no arguments.
#include <thread>

#include "platform/system/CrashHandler.h"
#include "service/host/WsServer.h"

int main() {
  platform::system::InstallCrashHandler();
  platform::system::IgnoreBrokenPipe();
  WsServer server;
  std::thread serverThread([&server] { server.Run(); });
  serverThread.join();
  return server.ExitStatus();
}
