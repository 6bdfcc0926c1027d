#pragma once
// The 128-byte trailer that seals a finished download: "MIRVAN", then random letters and digits,
// with the file's MD5 (32 lower-case hexadecimal characters) at bytes 7, 10, ..., 100. Any
// thread.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t kDownloadTrailerSize = 128;

// `random` draws the filler characters; `md5Hex` must be 32 characters.
std::array<char, kDownloadTrailerSize> BuildDownloadTrailer(const std::string& md5Hex,
                                                            const std::function<std::uint32_t()>& random);
// The MD5 text a trailer carries.
std::string TrailerMd5(const std::array<char, kDownloadTrailerSize>& trailer);

// Computes the MD5 of the file at `path` and appends the trailer (never through a link). False
// when the file cannot be read or written; the file is then left as it is.
bool SealDownload(const std::string& path);
