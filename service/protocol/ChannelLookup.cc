#include "service/protocol/ChannelLookup.h"

#include <mutex>

#include "service/media/PlayChannel.h"
#include "service/windows/CPlayWnd.h"

PlayChannel* ChannelOfPane(const CSession& session, int pane) {
  auto it = session.m_channels.find(pane);
  return it == session.m_channels.end() ? nullptr : it->second.get();
}

PlayChannel* ChannelOfCamera(const CSession& session, int channel) {
  for (const auto& entry : session.m_channels) {
    if (entry.second && entry.second->CameraChannel() == channel) return entry.second.get();
  }
  return nullptr;
}

int CameraChannelOfPane(const CSession& session, int pane) {
  PlayChannel* channel = ChannelOfPane(session, pane);
  return channel ? channel->CameraChannel() : -1;
}

void GivePaneSizes(CPlayWnd& group, const CSession& session) {
  for (const auto& entry : session.m_channels) {
    // Computed from the group's size now; the panes themselves are placed at the next paint.
    layout::PaneSize size = group.GetPaneSize(entry.first);
    entry.second->SetPaneWidth(size.width);
    entry.second->SetPaneHeight(size.height);
  }
}

int StartAndPutChannel(SessionTable& sessions, CSession& session, int pane, ChannelPtr channel,
                       const std::function<int(PlayChannel&)>& start) {
  std::lock_guard<std::mutex> lock(sessions.m_sessionsMutex);
  const int result = start(*channel);
  session.m_channels[pane] = std::move(channel);
  return result;
}

ChannelPtr TakeChannel(SessionTable& sessions, CSession& session, int pane) {
  std::lock_guard<std::mutex> lock(sessions.m_sessionsMutex);
  auto it = session.m_channels.find(pane);
  if (it == session.m_channels.end()) return nullptr;
  ChannelPtr channel = std::move(it->second);
  session.m_channels.erase(it);
  return channel;
}

std::vector<ChannelPtr> TakeAllChannels(SessionTable& sessions, CSession& session) {
  std::lock_guard<std::mutex> lock(sessions.m_sessionsMutex);
  std::vector<ChannelPtr> channels;
  for (auto& entry : session.m_channels) channels.push_back(std::move(entry.second));
  session.m_channels.clear();
  return channels;
}

void StopAndDestroy(ChannelPtr channel, const std::string& message) {
  if (channel) channel->StopStream(message);
}
