#pragma once
// The stream command family, registered from one file per concern. Command thread only, with
// m_commandMutex held.
#include <functional>

#include "service/protocol/CommandTable.h"

class PlayChannel;

// Registers `name` to act on the channel of pane wndIndex; a pane without a channel answers
// errorCode 0 and nothing is done.
void RegisterPaneCommand(CommandTable& table, const char* name, std::function<int(CommandCall&, PlayChannel&)> action);

void RegisterPlayCommands(CommandTable& table);      // start and stop live view and playback
void RegisterPlaybackCommands(CommandTable& table);  // speed, pause, resume, seek, play time
void RegisterZoomCommands(CommandTable& table);      // digital zoom and the overlay marks
void RegisterSoundCommands(CommandTable& table);     // sound on and off
