#include "service/windows/WndObjManager.h"

#include "service/windows/CPlayWnd.h"

WndObjManager& WndObjManager::GetInstance() {
  // Never destroyed: window procedures may run while the process exits.
  static WndObjManager* instance = new WndObjManager;
  return *instance;
}

int WndObjManager::AddWnd(WindowId container, CPlayWnd* group) {
  if (container == 0 || group == nullptr) return -1;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_groups[container] = group;
  return 0;
}

void WndObjManager::RemoveWnd(WindowId container) {
  if (container == 0) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_groups.erase(container);
}

CPlayWnd* WndObjManager::FindWnd(WindowId container) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_groups.find(container);
  return it == m_groups.end() ? nullptr : it->second;
}

CPlayWnd* WndObjManager::FindPaneOwner(WindowId pane) {
  if (pane == 0) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& [container, group] : m_groups)
    if (group->OwnsPane(pane)) return group;
  return nullptr;
}

bool WndObjManager::VisitPaneOwner(WindowId pane, const std::function<void(CPlayWnd&)>& visit) {
  if (pane == 0) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& [container, group] : m_groups) {
    if (group->OwnsPane(pane)) {
      visit(*group);
      return true;
    }
  }
  return false;
}

void WndObjManager::ForEach(const std::function<void(CPlayWnd&)>& visit) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& [container, group] : m_groups) visit(*group);
}
