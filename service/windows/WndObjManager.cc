#include "service/windows/WndObjManager.h"

#include "service/windows/CPlayWnd.h"

WndObjManager& WndObjManager::GetInstance() {
  // Never destroyed: window procedures may run while the process exits.
  static WndObjManager* instance = new WndObjManager;
  return *instance;
}

int WndObjManager::AddWnd(WindowId container, CPlayWnd* group) {
  if (container == 0 || group == nullptr) return -1;
  Entry entry{group, group->Link(), {}};
  for (int i = 0; i < CPlayWnd::kPanes; ++i)
    if (WindowId pane = group->Pane(i)) entry.panes.push_back(pane);
  {
    std::unique_lock<std::shared_mutex> lock(m_paneMutex);
    for (WindowId pane : entry.panes) m_paneOwners[pane] = entry.link;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_groups[container] = std::move(entry);
  return 0;
}

void WndObjManager::RemoveWnd(WindowId container) {
  if (container == 0) return;
  Entry entry;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_groups.find(container);
    if (it == m_groups.end()) return;
    entry = std::move(it->second);
    m_groups.erase(it);
  }
  std::unique_lock<std::shared_mutex> lock(m_paneMutex);
  for (WindowId pane : entry.panes) {
    auto it = m_paneOwners.find(pane);
    if (it != m_paneOwners.end() && it->second == entry.link) m_paneOwners.erase(it);
  }
}

CPlayWnd* WndObjManager::FindWnd(WindowId container) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_groups.find(container);
  return it == m_groups.end() ? nullptr : it->second.group;
}

CPlayWnd* WndObjManager::FindPaneOwner(WindowId pane) {
  if (pane == 0) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& [container, entry] : m_groups)
    if (entry.group->OwnsPane(pane)) return entry.group;
  return nullptr;
}

int WndObjManager::PaneFullScreenCount(WindowId pane) {
  std::shared_lock<std::shared_mutex> lock(m_paneMutex);
  auto it = m_paneOwners.find(pane);
  return it == m_paneOwners.end() ? 0 : it->second->fullScreenCount.load();
}

void WndObjManager::ForEach(const std::function<void(CPlayWnd&)>& visit) {
  std::vector<std::shared_ptr<GroupLink>> links;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [container, entry] : m_groups) links.push_back(entry.link);
  }
  for (const auto& link : links) {
    std::lock_guard<std::mutex> lock(link->mutex);
    if (link->group) visit(*link->group);
  }
}
