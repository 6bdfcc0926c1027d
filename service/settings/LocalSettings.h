#pragma once
// The page's save folders per device type, kept in the JSON file "Nimbrel.json" in the user's
// local application-data folder. Nothing is cached: every call reads the file again. Command
// thread only (one command at a time), so no lock guards the file.
#include <optional>
#include <string>

// Folders of one device type as getLocalConfig answers them: savePath for "P2P", the five
// others for every other type.
struct LocalFolders {
  std::string savePath;
  std::string recordFilePath;
  std::string downloadFilePath;
  std::string captureLivePath;
  std::string capturePlaybackPath;
  std::string clipsPlaybackPath;
};

class LocalSettings {
 public:
  // `folder` empty: there is no settings file. Defaults are built under `defaultRoot` with
  // `separator` ("<root>/NVR/Record"; the root itself for "P2P").
  LocalSettings(const std::string& folder, std::string defaultRoot, char separator);
  // The same with the platform's default root and separator.
  explicit LocalSettings(const std::string& folder);

  const std::string& Path() const { return m_path; }
  // The file content; empty when there is no path or no file. nullopt when something is there
  // that cannot be read as a settings file: a folder, a special or unreadable file, or one
  // larger than any this service writes.
  std::optional<std::string> LoadText() const;
  // Stored folders of `deviceType`, defaults where nothing usable is stored or the file cannot be
  // read; all empty for an empty device type.
  LocalFolders Folders(const std::string& deviceType) const;
  // Stores data.localConfig of a setLocalConfig message under data.deviceType, replacing an
  // earlier entry of that type. -1 when there is no path, the message lacks a device type or one
  // of the type's folder texts, the file would grow past 1 MiB, or something unreadable is in
  // the file's place (all leave the file alone), or the file cannot be written.
  int SaveDevice(const std::string& requestText) const;

 private:
  LocalFolders Defaults(const std::string& deviceType) const;
  // The bodies of Folders and SaveDevice, which may throw (out of memory).
  LocalFolders StoredFolders(const std::string& deviceType) const;
  int Save(const std::string& requestText) const;

  std::string m_path;
  std::string m_defaultRoot;
  char m_separator;
};
