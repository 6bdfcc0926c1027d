#pragma once
#include <optional>
#include <string>

// MD5 of a whole file as 32 lower-case hexadecimal characters; nullopt when it cannot be read.
std::optional<std::string> FileMd5Hex(const std::string& path);
