#pragma once
// How commands and notices find a session's channels. Callers hold m_commandMutex (commands) or
// m_sessionsMutex (notices) so the table does not change underneath.
#include "service/protocol/Session.h"

class PlayChannel;

// A camera channel selects by camera only in 0..63; -1 and the default -2 do not.
inline bool IsCameraChannel(int channel) { return static_cast<unsigned>(channel) < 64u; }

// The channel table entry of pane `pane`, or null.
PlayChannel* ChannelOfPane(const CSession& session, int pane);
// The first channel, in ascending pane order, whose camera channel is `channel`, or null.
PlayChannel* ChannelOfCamera(const CSession& session, int channel);
// The camera channel playing in `pane`, -1 when the pane plays nothing.
int CameraChannelOfPane(const CSession& session, int pane);
