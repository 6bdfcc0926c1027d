#include "service/settings/LocalSettings.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/JsonText.h"
#include "platform/system/Folders.h"

namespace {
constexpr const char* kFileName = "Nimbrel.json";
constexpr const char* kP2P = "P2P";

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

// Replaces the file through a temporary beside it, so a failed write never leaves half a file.
bool WriteWholeFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
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

std::string LocalSettings::LoadText() const {
  if (m_path.empty()) return {};
  std::ifstream in(m_path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
  std::string text = LoadText();
  rapidjson::Document file;
  const rapidjson::Value* entry = nullptr;
  if (!text.empty() && ParseJsonText(text, file)) entry = Member(file, deviceType.c_str());
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
  if (m_path.empty()) return -1;
  rapidjson::Document request;
  if (!ParseJsonText(requestText, request)) return -1;
  const rapidjson::Value* data = Member(request, "data");
  const rapidjson::Value* type = data ? Member(*data, "deviceType") : nullptr;
  const rapidjson::Value* config = data ? Member(*data, "localConfig") : nullptr;
  if (!type || !type->IsString() || !config || !config->IsObject()) return -1;
  std::string deviceType(type->GetString(), type->GetStringLength());

  rapidjson::Document file;
  std::string text = LoadText();
  if (text.empty() || !ParseJsonText(text, file) || !file.IsObject()) file.SetObject();
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

  // Removing moves the last member into the old place; the new entry goes to the end.
  file.RemoveMember(rapidjson::Value(rapidjson::StringRef(deviceType.data(), deviceType.size())));
  file.AddMember(rapidjson::Value(deviceType.data(), static_cast<rapidjson::SizeType>(deviceType.size()), allocator),
                 entry, allocator);
  return WriteWholeFile(m_path, WriteCompactJson(file)) ? 0 : -1;
}
