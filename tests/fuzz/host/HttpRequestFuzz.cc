// Arbitrary bytes through the first-request parsing the server thread does before answering.
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/host/HttpRequest.h"
#include "service/host/OriginAllowList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string request(reinterpret_cast<const char*>(data), size);
  std::size_t length = CompleteRequestLength(request);
  if (length > size) __builtin_trap();
  std::string key;
  if (GetWebSocketKey(request, key)) MakeAcceptKey(key);
  std::string path = GetRequestPath(request);
  std::optional<std::string> relative = WebRelativePath(path);
  // A name below the web root never climbs out of it nor starts at the file-system root.
  if (relative && (relative->empty() || (*relative)[0] == '/' ||
                   ("/" + *relative + "/").find("/../") != std::string::npos)) {
    __builtin_trap();
  }
  ChooseFileType(path);
  std::optional<std::string> origin = GetHeaderValue(request, "Origin");
  if (origin) OriginAllowList(*origin).Allows(NormaliseOrigin(*origin));
  IsPictureFileName(path);
  FolderOf(path);
  return 0;
}
