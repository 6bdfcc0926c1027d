#include <dlfcn.h>

#include "platform/system/DynamicLibrary.h"

namespace platform::system {

std::optional<DynamicLibrary> DynamicLibrary::Load(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return std::nullopt;
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Symbol(const std::string& name) const {
  return ::dlsym(m_handle.get(), name.c_str());
}

void DynamicLibrary::Closer::operator()(void* handle) const { ::dlclose(handle); }

}  // namespace platform::system
