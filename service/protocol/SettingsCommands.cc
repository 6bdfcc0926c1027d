// The page's save folders, the folder picker and opening a folder in the file manager.
#include "platform/system/Shell.h"
#include "service/media/MediaFiles.h"
#include "service/protocol/CommandTable.h"
#include "service/settings/LocalSettings.h"

namespace {
int GetLocalConfig(CommandCall& call) {
  LocalFolders folders = LocalSettings(call.service.settingsFolder).Folders(call.request.deviceType);
  CommandReply& r = call.reply;
  r.path = folders.savePath;
  r.recordFilePath = folders.recordFilePath;
  r.downloadFilePath = folders.downloadFilePath;
  r.captureLivePath = folders.captureLivePath;
  r.capturePlaybackPath = folders.capturePlaybackPath;
  r.clipsPlaybackPath = folders.clipsPlaybackPath;
  return 0;
}

// A page whose folders were not stored hears of it (-1) rather than believing they were.
int SetLocalConfig(CommandCall& call) { return LocalSettings(call.service.settingsFolder).SaveDevice(call.text); }

// The hang check leaves the process alone while the user keeps the picker open.
int BrowseFilePath(CommandCall& call) {
  struct DialogMark {
    std::atomic<bool>& open;
    explicit DialogMark(std::atomic<bool>& flag) : open(flag) { open = true; }
    ~DialogMark() { open = false; }
  } mark(call.service.dialogOpen);
  std::optional<std::string> folder = platform::system::PickFolder();
  if (!folder) return 0;
  // A drive root comes back as "D:"; the file-system root stays "/".
  std::string path = *folder;
  if (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  call.reply.path = path;
  return 0;
}

// Any page may send this, so only folders and the kinds of file the service writes are opened:
// "opening" a program or a launcher entry would run it.
int OpenDownloadFolder(CommandCall& call) {
  // Recording folders are named after times with '.' for ':', the rule files are written by.
  const std::string path = CleanPathColons(call.request.filePath);
  if (!IsSafeToOpen(path)) return -1;
  return platform::system::ShellOpen(path) ? 0 : -1;
}
}  // namespace

void RegisterSettingsCommands(CommandTable& table) {
  table.Register("getLocalConfig", GetLocalConfig);
  table.Register("setLocalConfig", SetLocalConfig);
  table.Register("browseFilePath", BrowseFilePath);
  table.Register("openDownloadFloder", OpenDownloadFolder);
}
