#include "service/protocol/ChannelLookup.h"

#include "service/media/PlayChannel.h"

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
