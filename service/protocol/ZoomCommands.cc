// Digital zoom of a pane's picture and the marks drawn over it.
#include <algorithm>
#include <optional>

#include "service/media/PlayChannel.h"
#include "service/protocol/ChannelLookup.h"
#include "service/protocol/StreamCommandParts.h"
#include "service/windows/CPlayWnd.h"

namespace {
// A position in percent of the pane. Values far outside would overflow the pixel arithmetic.
float Percent(std::optional<float> value) {
  float v = value.value_or(0);
  return v >= 0 ? std::min(v, 100.0f) : 0.0f;
}
}  // namespace

void RegisterZoomCommands(CommandTable& table) {
  for (const char* name : {"enableZoom", "disableZoom"}) {
    RegisterPaneCommand(table, name, [](CommandCall& call, PlayChannel& channel) {
      channel.EnableZoom(call.request.cmd == "enableZoom");
      return 0;
    });
  }
  RegisterPaneCommand(table, "setDigitalZoom", [](CommandCall& call, PlayChannel& channel) {
    const CommandRequest& q = call.request;
    channel.SetDrawRect(true, q.penWidth, q.penColor);
    if (CPlayWnd* group = call.session.m_pWnd.get()) {
      // The group keeps the half-pane rectangle at the page's percentages; the channel draws it.
      ZoomRect zoom = group->SetDigitalZoom(*q.wndIndex, Percent(q.coordinateX), Percent(q.coordinateY));
      channel.SetZoomArea(platform::display::Rect{zoom.left, zoom.top, zoom.right, zoom.bottom});
    }
    return 0;
  });
  table.Register("getDigitalZoom", [](CommandCall& call) {
    int pane = call.request.wndIndex.value_or(-1);
    CPlayWnd* group = call.session.m_pWnd.get();
    // A pane that plays nothing has no zoom: 0, 0.
    float x = 0, y = 0;
    if (group && ChannelOfPane(call.session, pane)) group->GetDigitalZoom(pane, &x, &y);
    call.reply.coordinateX = x;
    call.reply.coordinateY = y;
    return 0;
  });
  RegisterPaneCommand(table, "closeDigitalZoom", [](CommandCall&, PlayChannel& channel) {
    channel.SetDrawRect(false, 0, "");
    return 0;
  });
  table.Register("setDrawPTZRate", [](CommandCall& call) {
    if (PlayChannel* channel = ChannelOfCamera(call.session, call.request.channel))
      channel->SetPtzRateText(call.request.rate);
    return 0;
  });
}
