#include "service/windows/WindowSystem.h"

#include "VXAVPlayer.h"
#include "common/DebugLog.h"
#include "service/windows/CPlayWnd.h"

#if NIMBREL_HAVE_VXAVPLAYER
namespace {
int PlayInto(int player, platform::display::WindowId window, int reserved) {
  return VX_Play(player, window, reserved);
}
int Refresh(int player) { return VX_Refresh(player); }
}  // namespace
#endif

std::unique_ptr<platform::display::IDisplay> OpenWindowSystem() {
  std::string note;
  auto display = platform::display::OpenDisplay(&note);
  if (std::string(display->Name()) != "x11") DebugLog("%s", note.c_str());
#if NIMBREL_HAVE_VXAVPLAYER
  SetPlayerCalls(PlayInto, Refresh);
#endif
  return display;
}
