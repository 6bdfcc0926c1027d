#include "service/host/ServiceWiring.h"

#include "platform/system/Folders.h"
#include "platform/system/Shell.h"
#include "service/protocol/CommandParser.h"

ServiceWiring::ServiceWiring(std::unique_ptr<platform::display::IDisplay> display)
    : m_display(std::move(display)),
      m_server(std::make_unique<WsServer>()),
      m_events(m_server->Sessions(), *m_server),
      m_context{m_server->Sessions(), m_events, *m_server, m_server->DialogOpen(), "./config.ini",
                platform::system::LocalAppDataFolder(), *m_display},
      m_dispatcher(m_context),
      m_guard(m_server->Sessions(), m_events) {
  m_server->SetDispatcher(&m_dispatcher);
  m_server->SetHttpServices(MakeHttpServices());
  m_server->SetResourceCheck([this] { m_guard.CheckResource(); });
}

ServiceWiring::~ServiceWiring() { m_server.reset(); }

HttpServices MakeHttpServices() {
  HttpServices services;
  services.parseCommand = [](const std::string& json, PictureUpload& upload) {
    CommandRequest request;
    int result = ParseCommand(json, request);
    upload.cmd = request.cmd;
    upload.fileName = request.fileName;
    upload.fileBase64 = request.fileBase64;
    return result;
  };
  services.openFolder = [](const std::string& folder) { platform::system::ShellOpen(folder); };
  return services;
}
