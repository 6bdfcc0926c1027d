#pragma once
// How commands and notices find a session's channels, and how the command thread changes a
// session's channel table. Readers hold m_commandMutex (commands) or m_sessionsMutex (IEvent
// walks); the table changes only with both held, so neither kind of reader meets a channel being
// destroyed. Channels are stopped and destroyed after they left the table, outside
// m_sessionsMutex: a stop waits for the channel's own threads, which may be waiting for that lock
// to send a notice.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/protocol/Session.h"
#include "service/protocol/SessionTable.h"

class CPlayWnd;
class PlayChannel;
using ChannelPtr = std::unique_ptr<PlayChannel>;

// A camera channel selects by camera only in 0..63; -1 and the default -2 do not.
inline bool IsCameraChannel(int channel) { return static_cast<unsigned>(channel) < 64u; }
// Pane indices a channel may play in.
inline bool IsPaneIndex(int pane) { return static_cast<unsigned>(pane) < 64u; }
// A player handle that names an open player (-1 and 0 do not).
inline bool IsPlayerHandle(int handle) { return handle != -1 && handle != 0; }

// The channel table entry of pane `pane`, or null.
PlayChannel* ChannelOfPane(const CSession& session, int pane);
// The first channel, in ascending pane order, whose camera channel is `channel`, or null.
PlayChannel* ChannelOfCamera(const CSession& session, int channel);
// The camera channel playing in `pane`, -1 when the pane plays nothing.
int CameraChannelOfPane(const CSession& session, int pane);

// Every channel of the session takes the size its pane has in the group's current layout.
// Command thread, or with m_sessionsMutex held.
void GivePaneSizes(CPlayWnd& group, const CSession& session);

// --- Table changes: command thread, m_commandMutex held; each takes m_sessionsMutex. ---
// Starts `channel` through `start` and puts it under `pane` (which must be free) while holding m_sessionsMutex, so an
// event its client thread reports at once already finds the channel's owner. `start` may take
// only the channel's own locks. Returns what `start` returned.
int StartAndPutChannel(SessionTable& sessions, CSession& session, int pane, ChannelPtr channel,
                       const std::function<int(PlayChannel&)>& start);
// Takes the channel of `pane` out of the table; null when there is none.
ChannelPtr TakeChannel(SessionTable& sessions, CSession& session, int pane);
// Takes every channel out of the table, in ascending pane order.
std::vector<ChannelPtr> TakeAllChannels(SessionTable& sessions, CSession& session);
// Stops a channel taken out of the table with `message` and destroys it.
void StopAndDestroy(ChannelPtr channel, const std::string& message);
