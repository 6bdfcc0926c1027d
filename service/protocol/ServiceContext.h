#pragma once
// What the command handlers reach of the server. Built once by the server; the handlers use it
// on the command thread only.
#include <atomic>
#include <string>

#include "service/events/IEvent.h"
#include "service/protocol/SessionTable.h"

struct ServiceContext {
  SessionTable& sessions;
  IEvent& events;
  IConnectionWriter& writer;
  std::atomic<bool>& dialogOpen;  // true while the folder picker is open (the hang check waits)
  std::string configPath;         // "./config.ini"
  std::string settingsFolder;     // local application-data folder
};
