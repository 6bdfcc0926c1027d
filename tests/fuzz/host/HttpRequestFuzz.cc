// Arbitrary bytes through the first-request parsing the server thread does before answering.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/host/HttpRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string request(reinterpret_cast<const char*>(data), size);
  std::size_t length = CompleteRequestLength(request);
  if (length > size) __builtin_trap();
  std::string key;
  if (GetWebSocketKey(request, key)) MakeAcceptKey(key);
  std::string path = GetRequestPath(request);
  IsSafeRequestPath(path);
  std::size_t dot = path.rfind('.');
  ChooseFileType("." + path, dot == std::string::npos ? "" : path.substr(dot + 1));
  IsPictureFileName(path);
  FolderOf(path);
  return 0;
}
