#pragma once
// A shared library loaded for as long as the object lives. One thread at a time per object.
#include <memory>
#include <optional>
#include <string>

namespace platform::system {

class DynamicLibrary {
 public:
  // Loads the file named exactly as given, whatever its extension. A name without a folder is
  // looked up along the system's library path, so pass "./name" for the working directory.
  // Empty when it cannot be loaded.
  static std::optional<DynamicLibrary> Load(const std::string& path);

  // The exported symbol, or nullptr.
  void* Symbol(const std::string& name) const;

 private:
  struct Closer {
    void operator()(void* handle) const;
  };
  explicit DynamicLibrary(void* handle) : m_handle(handle) {}
  std::unique_ptr<void, Closer> m_handle;
};

}  // namespace platform::system
