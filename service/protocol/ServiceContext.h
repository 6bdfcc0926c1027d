#pragma once
// What the command handlers reach of the service. Built once by the service's wiring; the
// handlers use it on the command thread only.
#include <atomic>
#include <string>

#include "platform/display/Display.h"
#include "service/events/IEvent.h"
#include "service/protocol/SessionTable.h"

struct ServiceContext {
  SessionTable& sessions;
  IEvent& events;
  IConnectionWriter& writer;
  std::atomic<bool>& dialogOpen;  // true while the folder picker is open (the hang check waits)
  std::string configPath;         // "./config.ini"
  std::string settingsFolder;     // local application-data folder
  platform::display::IDisplay& display;  // where window groups make their windows
};
