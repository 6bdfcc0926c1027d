#pragma once
// Process-wide map from container window to its window group, for the follow timer and the
// lookups of other threads. Owns nothing (groups belong to their sessions). Any thread.
//
// Locks: m_mutex guards the container map and is held only for each short operation, never while
// a group is worked on; the pane index has its own reader-writer lock, so renderers asking about
// a pane for every frame neither wait for the map nor for each other.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "platform/display/WindowId.h"

class CPlayWnd;
struct GroupLink;

class WndObjManager {
 public:
  using WindowId = platform::display::WindowId;

  static WndObjManager& GetInstance();
  virtual ~WndObjManager() = default;

  // Registers the group's container and, for PaneFullScreenCount, its current pane windows.
  int AddWnd(WindowId container, CPlayWnd* group);  // -1 when either is null
  void RemoveWnd(WindowId container);
  CPlayWnd* FindWnd(WindowId container);
  CPlayWnd* FindPaneOwner(WindowId pane);
  // The full-screen count of the group owning `pane`; 0 when no group owns it.
  int PaneFullScreenCount(WindowId pane);
  // Runs `visit` for every registered group (the follow timer's walk). The map is copied under
  // the lock and walked without it; a group being destroyed meanwhile is skipped, and its
  // destructor waits for a visit already running.
  void ForEach(const std::function<void(CPlayWnd&)>& visit);

 private:
  struct Entry {
    CPlayWnd* group = nullptr;
    std::shared_ptr<GroupLink> link;
    std::vector<WindowId> panes;
  };
  WndObjManager() = default;
  std::mutex m_mutex;
  std::map<WindowId, Entry> m_groups;
  std::shared_mutex m_paneMutex;
  std::unordered_map<WindowId, std::shared_ptr<GroupLink>> m_paneOwners;
};
