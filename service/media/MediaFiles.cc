#include "service/media/MediaFiles.h"

#include <cctype>
#include <filesystem>
#include <optional>
#include <system_error>

#include "common/DirectoryPath.h"
#include "platform/system/FileWriter.h"
#include "platform/system/Files.h"
#include "platform/system/Folders.h"

namespace {

constexpr std::uint64_t kRecordRoomMiB = 512;
// Enough for any folder a person fills by hand; a bound so a crowded folder cannot spin us.
constexpr int kMaxCounter = 100000;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Where a file name's tags go: before the last '.' of the name, or at its end.
size_t TagPosition(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path.size();
  return dot;
}

enum class NameState { kFree, kTaken, kUnknown };

NameState Probe(const std::string& path) {
  std::error_code ec;
  // A dangling link counts as taken: the writer would refuse it anyway.
  const auto type = std::filesystem::symlink_status(path, ec).type();
  if (type == std::filesystem::file_type::not_found) return NameState::kFree;
  // A name the system refuses to look at (too long, a folder we may not search) stays so for
  // every numbered variant: searching on would only spend 100000 look-ups on the command thread.
  if (type == std::filesystem::file_type::none) return NameState::kUnknown;
  return NameState::kTaken;
}

}  // namespace

bool IsSafeToOpen(const std::string& path) {
  const std::optional<std::string> real = platform::system::RealPath(path);
  if (!real) return false;
  const platform::system::FileKind kind = platform::system::KindOf(*real);
  if (kind == platform::system::FileKind::kFolder) return true;
  if (kind != platform::system::FileKind::kRegular) return false;
  const size_t slash = real->find_last_of("\\/");
  const size_t dot = real->rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string extension = real->substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const char* const kMediaExtensions[] = {"jpg", "jpeg", "bmp", "png", "mp4", "avi", "mkv", "mov",
                                                 "ts",  "dav",  "h264", "h265", "264", "265", "ps", "flv"};
  for (const char* known : kMediaExtensions) {
    if (extension == known) return true;
  }
  return false;
}

std::string CleanPathColons(const std::string& path) {
  std::string out = path;
  size_t from = 0;
  if (platform::system::PathsHaveDriveLetters()) {
    const size_t first = out.find(':');
    if (first == std::string::npos) return out;
    from = first + 1;
  }
  for (size_t i = from; i < out.size(); ++i) {
    if (out[i] == ':') out[i] = '.';
  }
  return out;
}

std::string MediaFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsAcceptableMediaPath(const std::string& path) {
  if (!platform::system::IsFullPath(path)) return false;
  if (path.empty() || IsSeparator(path.back())) return false;
  if (path.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  const std::string name = path.substr(MediaFolderOf(path).size());
  return name != ".";
}

std::string VideoCodecTag(int videoCodec) {
  switch (videoCodec) {
    case 26: return "_MJPEG";
    case 96: return "_H264";
    case 150: return "_H265";
    default: return "";
  }
}

std::string AudioCodecTag(int audioCodec) {
  switch (audioCodec) {
    case 1: return "_G711A";
    case 2: return "_G711U";
    case 21: return "_AAC";
    default: return "";
  }
}

std::string MakeMediaFileName(const std::string& path, const StreamDescription& description) {
  std::string tagged = path;
  tagged.insert(TagPosition(tagged), VideoCodecTag(description.videoCodec) + AudioCodecTag(description.audioCodec));
  NameState state = Probe(tagged);
  if (state == NameState::kFree) return tagged;
  const size_t at = TagPosition(tagged);
  for (int counter = 2; counter <= kMaxCounter && state != NameState::kUnknown; ++counter) {
    std::string candidate = tagged;
    candidate.insert(at, "(" + std::to_string(counter) + ")");
    state = Probe(candidate);
    if (state == NameState::kFree) return candidate;
  }
  return {};
}

int MakeMediaFolder(const std::string& path) { return MakeDirectoryPath(path); }

bool HasRoomToRecord(const std::string& path) {
  const auto free = platform::system::FreeBytesNear(path);
  return free && (*free >> 20) > kRecordRoomMiB;
}
