// Window group commands: create, lay out, move, hide, show, cut and destroy the page's group.
// Command thread, with m_commandMutex held. A session's group pointer is replaced only while
// m_sessionsMutex is also held, so notices and the resource guard never reach a group being
// deleted; the group itself is deleted outside that lock because its window thread may be
// waiting for it.
#include <mutex>

#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/CommandTable.h"
#include "service/protocol/Session.h"
#include "service/windows/CPlayWnd.h"
#include "service/windows/PlayWndClasses.h"

namespace {

// Takes the session's group out of reach of other threads; the caller lets it go.
std::unique_ptr<CPlayWnd> DetachGroup(CommandCall& call) {
  std::lock_guard<std::mutex> lock(call.service.sessions.m_sessionsMutex);
  return std::move(call.session.m_pWnd);
}

int CreateWnd(CommandCall& call) {
  if (call.session.m_pWnd) return 0;
  const CommandRequest& q = call.request;
  auto made = std::make_unique<CPlayWnd>(call.service.display, q.wndColor, q.borderColor, q.highlightColor,
                                         q.borderPixel, q.highlightPixel);
  CPlayWnd* group = made.get();
  group->SetEventSink(&call.service.events);
  {
    std::lock_guard<std::mutex> lock(call.service.sessions.m_sessionsMutex);
    call.session.m_pWnd = std::move(made);
  }
  int result = group->AttachToBrowser(q.left.value_or(0), q.top.value_or(0), q.width.value_or(0),
                                      q.height.value_or(0), q.bodyHeight, call.session.m_strId);
  call.reply.browser = group->GetBrowserName();
  WndSleep(GetWndTimings().createReplyMs);
  return result;
}

int DestroyWnd(CommandCall& call) {
  if (!call.session.m_pWnd) return 0;
  DetachGroup(call).reset();
  // The channels rendered into the group's panes; talk and download are left alone.
  std::map<int32_t, std::unique_ptr<PlayChannel>> channels;
  {
    std::lock_guard<std::mutex> lock(call.service.sessions.m_sessionsMutex);
    channels.swap(call.session.m_channels);
  }
  for (auto& [pane, channel] : channels) {
    if (channel) channel->StopStream(call.request.requestJson);
    channel.reset();
  }
  return 0;
}

// Registers `name` to run `action` on the session's group; without a group it answers 0.
void WithGroup(CommandTable& table, const char* name, std::function<int(CommandCall&, CPlayWnd&)> action) {
  table.Register(name, [action](CommandCall& call) {
    CPlayWnd* group = call.session.m_pWnd.get();
    return group ? action(call, *group) : 0;
  });
}

}  // namespace

void RegisterWindowCommands(CommandTable& table) {
  table.Register("createWnd", CreateWnd);
  table.Register("destroyWnd", DestroyWnd);
  WithGroup(table, "arrangeWnd", [](CommandCall& call, CPlayWnd& group) {
    // 0 and negative types have no layout and are refused with -1.
    return group.Arrange(call.request.arrangeType.value_or(0), call.session.m_strWebVersion);
  });
  WithGroup(table, "setWndRatio", [](CommandCall& call, CPlayWnd& group) {
    group.m_ratioType = call.request.ratioType.value_or(0);
    return 0;
  });
  WithGroup(table, "hideWnd", [](CommandCall&, CPlayWnd& group) {
    group.Hide();
    return 0;
  });
  WithGroup(table, "showWnd", [](CommandCall&, CPlayWnd& group) {
    group.Show();
    return 0;
  });
  WithGroup(table, "moveWnd", [](CommandCall& call, CPlayWnd& group) {
    const CommandRequest& q = call.request;
    int result = group.MoveTo(q.left.value_or(0), q.top.value_or(0), q.width.value_or(0), q.height.value_or(0),
                              q.bodyHeight);
    GivePaneSizes(group, call.session);
    return result;
  });
  WithGroup(table, "updateWebWnd", [](CommandCall&, CPlayWnd& group) { return group.Reattach(); });
  WithGroup(table, "fullScreen", [](CommandCall&, CPlayWnd& group) { return group.FullScreen(false); });
  table.Register("getSelectWndIndex", [](CommandCall& call) {
    CPlayWnd* group = call.session.m_pWnd.get();
    // No group: no pane is selected.
    call.reply.wndIndex = group ? group->m_selected.load() : -1;
    call.reply.channel = group ? CameraChannelOfPane(call.session, call.reply.wndIndex) : -1;
    return 0;
  });
  WithGroup(table, "corridorModeStatus", [](CommandCall& call, CPlayWnd& group) {
    group.m_corridorMode = call.request.corridorMode.value_or(false);
    return 0;
  });
  WithGroup(table, "cuttingPartWnd", [](CommandCall& call, CPlayWnd& group) {
    group.CutRegion(call.request.cutWidth.value_or(0), call.request.cutHeight.value_or(0));
    return 0;
  });
  WithGroup(table, "repairPartWnd", [](CommandCall&, CPlayWnd& group) {
    group.RestoreRegion();
    return 0;
  });
}
