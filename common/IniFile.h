#pragma once
#include <string>

// Profile-string reading as the service's configuration expects it: section and key match
// without regard to letter case, blanks around names and values are trimmed, one pair of
// surrounding quotes is removed, ';' starts a comment line. A missing file, section or key gives
// the default. The result is cut to bufferLength - 1 characters, as a fixed buffer would.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, size_t bufferLength,
                             const std::string& path);

// C atoi semantics without overflow hazards: leading blanks, optional sign, decimal digits up to
// the first other character; no digits gives 0; values beyond 32 bits saturate.
int AtoiText(const std::string& text);
