#pragma once
// Tells every page when the machine stays short of processor or memory, and marks the panes of
// every window group so they show "NO RESOURCE" while they have no video. CheckResource runs every
// 2 s on the timer thread (the service's wiring hands it to the server's timer).
#include <functional>
#include <optional>

#include "service/protocol/EventRouter.h"
#include "service/protocol/SessionTable.h"

class ResourceGuard {
 public:
  struct Samplers {
    std::function<std::optional<double>()> processorPercent;  // empty reading: counts as below
    std::function<std::optional<int>()> memoryPercent;
  };
  static constexpr int kLimitPercent = 80;
  static constexpr int kSamplesInARow = 10;

  // Samplers default to the machine's own counters.
  ResourceGuard(SessionTable& sessions, EventRouter& router, Samplers samplers = {});

  void CheckResource();
  int LowResourceCount() const { return m_lowResourceCount; }

 private:
  void MarkPanes(int state);  // every group's panes, under m_sessionsMutex

  SessionTable& m_sessions;
  EventRouter& m_router;
  Samplers m_samplers;
  int m_lowResourceCount = 0;  // timer thread only
};
