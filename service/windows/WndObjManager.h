#pragma once
// Process-wide map from container window to its window group, for the window procedures and the
// follow timer. Owns nothing (groups belong to their sessions). Any thread; one mutex guards the
// map and is held for each whole operation.
#include <functional>
#include <map>
#include <mutex>

#include "platform/display/WindowId.h"

class CPlayWnd;

class WndObjManager {
 public:
  using WindowId = platform::display::WindowId;

  static WndObjManager& GetInstance();
  virtual ~WndObjManager() = default;

  int AddWnd(WindowId container, CPlayWnd* group);  // -1 when either is null
  void RemoveWnd(WindowId container);
  CPlayWnd* FindWnd(WindowId container);
  CPlayWnd* FindPaneOwner(WindowId pane);
  // Runs `visit` on the owner of `pane` with the mutex held, so the group cannot go meanwhile.
  bool VisitPaneOwner(WindowId pane, const std::function<void(CPlayWnd&)>& visit);
  // Runs `visit` for every group with the mutex held (the follow timer's walk).
  void ForEach(const std::function<void(CPlayWnd&)>& visit);

 private:
  WndObjManager() = default;
  std::mutex m_mutex;
  std::map<WindowId, CPlayWnd*> m_groups;
};
