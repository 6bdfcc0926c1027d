#pragma once
// The layer table of DESIGN.md as data: which folder's files may include which folder's headers,
// and which system headers belong to the operating system. Paths are relative to the source
// root, with '/' separators.
#include <string>
#include <vector>

namespace layers {

struct Include {
  std::string text;  // as written between the quotes or angle brackets
  bool angled = false;
  int line = 0;
};

// The #include lines of a source text, outside block comments.
std::vector<Include> ParseIncludes(const std::string& source);

// The layer a file of ours belongs to ("windows", "avapi" for the AV library's C header...), ""
// for folders without layer rules (tests, tools, bench), "?" for a service folder the table
// does not know yet.
std::string LayerOf(const std::string& path);

// Whether a file at `from` may include our header at `to`; `why` names the broken rule.
bool MayInclude(const std::string& from, const std::string& to, std::string* why);

// An operating-system or X11 header (<unistd.h>, <sys/...>, <X11/...>, <windows.h>...).
bool IsOsHeader(const std::string& header);
// Files outside platform/, vxavplayer/ and libthread/ include none.
bool MayIncludeOsHeaders(const std::string& path);

}  // namespace layers
