#include "service/settings/LocalSettings.h"

#include <cstdio>
#include <exception>

#include "common/DebugLog.h"
#include "common/JsonText.h"
#include "platform/system/Files.h"
#include "platform/system/Folders.h"

namespace {
constexpr const char* kFileName = "Nimbrel.json";
constexpr const char* kP2P = "P2P";
// Real settings take a few hundred bytes. Any web page can send setLocalConfig, and each new
// device type adds an entry, so the file is bounded rather than left to grow with every message.
constexpr size_t kMaxFileBytes = 1 << 20;
// Reading allows more than a save writes, for a file edited by hand; a far larger one is not parsed.
constexpr size_t kMaxReadBytes = 16 * kMaxFileBytes;

// The five folder keys of every device type but "P2P", in the order they are stored.
struct FolderKey {
  const char* key;
  const char* defaultLeaf;
  std::string LocalFolders::*field;
};
const FolderKey kFolderKeys[] = {
    {"recordFilePath", "Record", &LocalFolders::recordFilePath},
    {"downloadFilePath", "DownloadFiles", &LocalFolders::downloadFilePath},
    {"captureLivePath", "Capture", &LocalFolders::captureLivePath},
    {"capturePlaybackPath", "PlaybackPics", &LocalFolders::capturePlaybackPath},
    {"clipsPlaybackPath", "PlaybackFiles", &LocalFolders::clipsPlaybackPath},
};

// A string member, or "" when missing or of another type.
std::string StringMember(const rapidjson::Value& object, const char* key) {
  if (!object.IsObject()) return {};
  auto it = object.FindMember(key);
  if (it == object.MemberEnd() || !it->value.IsString()) return {};
  return std::string(it->value.GetString(), it->value.GetStringLength());
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* key) {
  if (!object.IsObject()) return nullptr;
  auto it = object.FindMember(key);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

// A device type is a page's text and may hold a NUL ("\u0000"): it is looked up by its whole
// length, as it is stored, or it would read the entry of the type its first part names.
const rapidjson::Value* Member(const rapidjson::Value& object, const std::string& key) {
  if (!object.IsObject()) return nullptr;
  const rapidjson::Value name(rapidjson::StringRef(key.data(), key.size()));
  auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

// Replaces the file through a temporary beside it, so a failed write never leaves half a file.
bool WriteWholeFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp";
  if (!platform::system::WriteRegularFile(temporary, text.data(), text.size())) return false;
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}
}  // namespace

LocalSettings::LocalSettings(const std::string& folder, std::string defaultRoot, char separator)
    : m_defaultRoot(std::move(defaultRoot)), m_separator(separator) {
  if (folder.empty()) return;
  char last = folder.back();
  bool endsWithSeparator = last == separator || last == '/' || last == '\\';
  m_path = endsWithSeparator ? folder + kFileName : folder + separator + kFileName;
}

LocalSettings::LocalSettings(const std::string& folder)
    : LocalSettings(folder, platform::system::DefaultFolderRoot(), platform::system::PathSeparator()) {}

std::optional<std::string> LocalSettings::LoadText() const {
  using platform::system::FileKind;
  if (m_path.empty()) return std::string();
  // The name may be a link the user made to keep the file elsewhere; what it names must be a file.
  std::optional<std::string> text = platform::system::ReadRegularFile(m_path, kMaxReadBytes);
  if (!text && platform::system::KindOf(m_path) == FileKind::kMissing) return std::string();
  if (!text) DebugLog("Settings file %s cannot be read; defaults are answered", m_path.c_str());
  return text;
}

LocalFolders LocalSettings::Defaults(const std::string& deviceType) const {
  LocalFolders folders;
  if (deviceType == kP2P) {
    folders.savePath = m_defaultRoot;
    return folders;
  }
  std::string base = m_defaultRoot + m_separator + deviceType + m_separator;
  for (const FolderKey& k : kFolderKeys) folders.*k.field = base + k.defaultLeaf;
  return folders;
}

LocalFolders LocalSettings::Folders(const std::string& deviceType) const {
  if (deviceType.empty()) return {};
  try {
    return StoredFolders(deviceType);
  } catch (const std::exception& e) {
    DebugLog("Settings could not be read (%s); defaults are answered", e.what());
    return Defaults(deviceType);
  }
}

LocalFolders LocalSettings::StoredFolders(const std::string& deviceType) const {
  std::string text = LoadText().value_or(std::string());
  rapidjson::Document file;
  const rapidjson::Value* entry = nullptr;
  if (!text.empty() && ParseJsonText(text, file)) entry = Member(file, deviceType);
  if (!entry) return Defaults(deviceType);

  LocalFolders folders;
  if (deviceType == kP2P) {
    folders.savePath = StringMember(*entry, "savePath");
    return folders;
  }
  LocalFolders defaults = Defaults(deviceType);
  for (const FolderKey& k : kFolderKeys) {
    std::string value = StringMember(*entry, k.key);
    folders.*k.field = value.empty() || value == "undefined" ? defaults.*k.field : value;
  }
  return folders;
}

int LocalSettings::SaveDevice(const std::string& requestText) const {
  try {
    return Save(requestText);
  } catch (const std::exception& e) {
    DebugLog("Settings could not be saved (%s)", e.what());
    return -1;
  }
}

int LocalSettings::Save(const std::string& requestText) const {
  if (m_path.empty()) return -1;
  rapidjson::Document request;
  if (!ParseJsonText(requestText, request)) return -1;
  const rapidjson::Value* data = Member(request, "data");
  const rapidjson::Value* type = data ? Member(*data, "deviceType") : nullptr;
  const rapidjson::Value* config = data ? Member(*data, "localConfig") : nullptr;
  if (!type || !type->IsString() || !config || !config->IsObject()) return -1;
  std::string deviceType(type->GetString(), type->GetStringLength());

  // Something unreadable in the file's place is left alone rather than replaced.
  std::optional<std::string> text = LoadText();
  if (!text) return -1;
  rapidjson::Document file;
  if (text->empty() || !ParseJsonText(*text, file) || !file.IsObject()) file.SetObject();
  auto& allocator = file.GetAllocator();

  rapidjson::Value entry(rapidjson::kObjectType);
  auto copyKey = [&](const char* key) {
    const rapidjson::Value* value = Member(*config, key);
    if (!value || !value->IsString()) return false;
    entry.AddMember(rapidjson::StringRef(key), rapidjson::Value(*value, allocator), allocator);
    return true;
  };
  if (deviceType == kP2P) {
    if (!copyKey("savePath")) return -1;
  } else {
    for (const FolderKey& k : kFolderKeys) {
      if (!copyKey(k.key)) return -1;
    }
  }

  // Removing moves the last member into the old place; the new entry goes to the end. A file
  // edited by hand may name the type twice; every copy goes, or the older one would be read back.
  rapidjson::Value name(rapidjson::StringRef(deviceType.data(), deviceType.size()));
  while (file.RemoveMember(name)) {
  }
  file.AddMember(rapidjson::Value(deviceType.data(), static_cast<rapidjson::SizeType>(deviceType.size()), allocator),
                 entry, allocator);
  std::string stored = WriteCompactJson(file);
  if (stored.size() > kMaxFileBytes) return -1;
  return WriteWholeFile(m_path, stored) ? 0 : -1;
}
