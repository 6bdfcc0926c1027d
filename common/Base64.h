#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// RFC 4648 alphabet with '=' padding.
std::string Base64Encode(const uint8_t* data, size_t size);
inline std::string Base64Encode(const std::string& s) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Carriage returns and line feeds are skipped; any other character outside the alphabet, or a
// length that is not a whole number of groups, gives nullopt.
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text);
