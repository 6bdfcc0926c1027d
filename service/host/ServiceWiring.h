#pragma once
// The service assembled in one place: the display the window groups live on, the server with its
// connection table, the IEvent router over that table, the command dispatcher and the resource
// guard. Each part gets references to the parts it uses; this object owns them all. Built and
// destroyed on the entry thread, Run on the server thread.
#include <memory>

#include "platform/display/Display.h"
#include "service/host/HttpAnswer.h"
#include "service/host/WsServer.h"
#include "service/protocol/CommandDispatcher.h"
#include "service/protocol/EventRouter.h"
#include "service/protocol/ResourceGuard.h"
#include "service/protocol/ServiceContext.h"

class ServiceWiring {
 public:
  explicit ServiceWiring(std::unique_ptr<platform::display::IDisplay> display);
  // The server goes first: its connections' groups and channels still call the router.
  ~ServiceWiring();
  ServiceWiring(const ServiceWiring&) = delete;
  ServiceWiring& operator=(const ServiceWiring&) = delete;

  WsServer& Server() { return *m_server; }

 private:
  std::unique_ptr<platform::display::IDisplay> m_display;
  std::unique_ptr<WsServer> m_server;
  EventRouter m_events;
  ServiceContext m_context;
  CommandDispatcher m_dispatcher;
  ResourceGuard m_guard;
};

// What the picture upload of the HTTP front door uses of the protocol and the shell.
HttpServices MakeHttpServices();
