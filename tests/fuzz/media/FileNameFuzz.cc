// The rules that turn a page's path into the name of a recording, snapshot or download: colons
// cleaned, acceptance, folder, codec tags and the free-name search. Whatever is accepted keeps
// its folder and stays acceptable once tagged. Byte 0 picks the codecs; the rest is the path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/media/MediaFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int kVideo[] = {0, 26, 96, 150};
  static const int kAudio[] = {0, 1, 2, 21};
  const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string path = CleanPathColons(raw);
  if (path.size() != raw.size() || CleanPathColons(path) != path) __builtin_trap();
  const std::string folder = MediaFolderOf(path);
  if (path.compare(0, folder.size(), folder) != 0) __builtin_trap();
  if (!IsAcceptableMediaPath(path)) return 0;
  if (folder.empty() || folder.size() >= path.size()) __builtin_trap();
  StreamDescription description{};
  description.videoCodec = static_cast<uint16_t>(kVideo[data[0] & 3]);
  description.audioCodec = static_cast<uint16_t>(kAudio[(data[0] >> 2) & 3]);
  const std::string name = MakeMediaFileName(path, description);
  if (name.empty()) return 0;
  if (MediaFolderOf(name) != folder || !IsAcceptableMediaPath(name)) __builtin_trap();
  return 0;
}
