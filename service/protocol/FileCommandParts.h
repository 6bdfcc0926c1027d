#pragma once
// The file and talk commands: recording and snapshots in the panes, the session's download and
// talk slots. Command thread only, with m_commandMutex held.
#include <memory>
#include <string>

#include "service/protocol/CommandTable.h"
#include "service/protocol/SessionTable.h"

class PlayChannel;

void RegisterRecordCommands(CommandTable& table);    // capture, startRecord, stopRecord, startMultiRecord
void RegisterDownloadCommands(CommandTable& table);  // startDownload, stopDownload
void RegisterTalkCommands(CommandTable& table);      // startTalk, stopTalk

// The session's download or talk slot. Notices walk the slots under m_sessionsMutex, so a slot
// changes only with that lock held; the channel itself is started, stopped and destroyed
// outside it (a stop waits for threads that may be waiting for the lock to send a notice).
using SessionSlot = std::unique_ptr<PlayChannel> CSession::*;
// Puts `channel` into the slot (which must be empty); returns it, still owned by the slot.
PlayChannel* PutInSlot(SessionTable& sessions, CSession& session, SessionSlot slot, std::unique_ptr<PlayChannel> channel);
// Takes the slot's channel out; null when empty.
std::unique_ptr<PlayChannel> TakeFromSlot(SessionTable& sessions, CSession& session, SessionSlot slot);
