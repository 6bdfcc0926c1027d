#include "service/protocol/ResourceGuard.h"

#include <memory>
#include <mutex>

#include "common/DebugLog.h"
#include "platform/system/ResourceUsage.h"
#include "service/windows/CPlayWnd.h"

ResourceGuard::ResourceGuard(SessionTable& sessions, EventRouter& router, Samplers samplers)
    : m_sessions(sessions), m_router(router), m_samplers(std::move(samplers)) {
  if (!m_samplers.processorPercent) {
    auto sampler = std::make_shared<platform::system::ProcessorSampler>();
    m_samplers.processorPercent = [sampler] { return sampler->Sample(); };
  }
  if (!m_samplers.memoryPercent) m_samplers.memoryPercent = [] { return platform::system::MemoryLoadPercent(); };
}

void ResourceGuard::CheckResource() {
  // A reading of 79.9 is 79; one that cannot be taken counts as below the limit.
  int cpu = static_cast<int>(m_samplers.processorPercent().value_or(0.0));
  int mem = m_samplers.memoryPercent().value_or(0);
  if (cpu < kLimitPercent && mem < kLimitPercent) {
    m_lowResourceCount = 0;
    MarkPanes(0);
    return;
  }
  if (m_lowResourceCount < kSamplesInARow) ++m_lowResourceCount;
  if (m_lowResourceCount < kSamplesInARow) return;
  DebugLog("CheckResource: Insufficient resource.");
  m_lowResourceCount = 0;
  m_router.NotifyAllSessions(EventRouter::ResourceNotice());
  MarkPanes(1);
}

void ResourceGuard::MarkPanes(int state) {
  std::lock_guard<std::mutex> lock(m_sessions.m_sessionsMutex);
  for (auto& entry : m_sessions.m_sessions)
    if (entry.second && entry.second->m_pWnd) entry.second->m_pWnd->SetAllPaneStates(state);
}
