#include "service/windows/WindowSystem.h"

#include "VXAVPlayer.h"
#include "common/DebugLog.h"
#include "platform/display/Display.h"
#include "service/windows/CPlayWnd.h"

#if NIMBREL_HAVE_VXAVPLAYER
namespace {
int PlayInto(int player, platform::display::WindowId window, int reserved) {
  return VX_Play(player, window, reserved);
}
int Refresh(int player) { return VX_Refresh(player); }
}  // namespace
#endif

void StartWindowSystem() {
  std::string note;
  auto display = platform::display::OpenDisplay(&note);
  if (std::string(display->Name()) != "x11") DebugLog("%s", note.c_str());
  platform::display::SetDisplay(display.release());  // kept for the process's life
#if NIMBREL_HAVE_VXAVPLAYER
  SetPlayerCalls(PlayInto, Refresh);
#endif
}
