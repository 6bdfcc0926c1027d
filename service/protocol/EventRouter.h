#pragma once
// IEvent over the connection table: finds the page session an event concerns and sends it a
// notice through the host's connection writer. The server derives from or holds one. Called from
// window, channel and timer threads; the operations that search sessions take m_sessionsMutex
// (see IEvent.h) and send while holding it, so a session is never deleted under a send.
#include <string>

#include "service/protocol/CommandReply.h"
#include "service/events/IEvent.h"
#include "service/protocol/SessionTable.h"

class EventRouter : public IEvent {
 public:
  EventRouter(SessionTable& sessions, IConnectionWriter& writer);

  // Window operations (EventRouterWindows.cc).
  void OnWndSelected(WindowHandle group, int pane) override;
  void OnWndMouse(WindowHandle group, int pane, int width, int height, const DragRect* drag,
                  bool finished) override;
  void OnZoomRectChanged(WindowHandle group, int pane, const ZoomRect* rect) override;
  void OnWndDoubleClick(WindowHandle group, int pane) override;
  int GetPlayerHandle(WindowHandle group, int pane) override;
  void RequestPaneRepaint(WindowHandle paneWindow) override;
  void OnWndPainted(WindowHandle group) override;
  bool IsPaneFullScreen(WindowHandle paneWindow) override;
  void OnWndHidden(WindowHandle group, int flag) override;
  void OnWndRecreated(WindowHandle group) override;
  void OnPaneCountChanged(WindowHandle group, int count) override;

  // Channel notices and the rest (EventRouter.cc).
  void OnChannelEvent(const std::string& key, const std::string& event, const std::string& value,
                      int cameraChannel, int pane) override;
  void OnTextMessage(const std::string& text) override;

  // Sends `notice` (cmd, errorCode and members already set) to every session, each with its own
  // uuid. Any thread; takes m_sessionsMutex. Returns the number of sessions written to.
  int NotifyAllSessions(const CommandReply& notice);
  // The notice the resource guard sends when the machine runs short.
  static CommandReply ResourceNotice();

 protected:
  // Writes one notice to `session`; sequence "" and the session's uuid are filled in here.
  // Caller holds m_sessionsMutex.
  bool SendNotice(CSession& session, CommandReply notice);

  SessionTable& m_sessions;
  IConnectionWriter& m_writer;
};
