#include "service/media/DownloadTrailer.h"

#include <random>

#include "common/FileMd5.h"
#include "platform/system/FileWriter.h"

namespace {
constexpr char kMagic[] = "MIRVAN";
constexpr size_t kMd5Length = 32;
constexpr size_t kFirstMd5Byte = 7;  // then every third byte

char RandomCharacter(const std::function<std::uint32_t()>& random) {
  switch (random() % 3) {
    case 0: return static_cast<char>('A' + random() % 26);
    case 1: return static_cast<char>('a' + random() % 26);
    default: return static_cast<char>('0' + random() % 10);
  }
}
}  // namespace

std::array<char, kDownloadTrailerSize> BuildDownloadTrailer(const std::string& md5Hex,
                                                            const std::function<std::uint32_t()>& random) {
  std::array<char, kDownloadTrailerSize> trailer{};
  for (size_t i = 0; i < 6; ++i) trailer[i] = kMagic[i];
  for (size_t i = 6; i < kDownloadTrailerSize; ++i) trailer[i] = RandomCharacter(random);
  for (size_t i = 0; i < kMd5Length && i < md5Hex.size(); ++i) trailer[kFirstMd5Byte + 3 * i] = md5Hex[i];
  return trailer;
}

std::string TrailerMd5(const std::array<char, kDownloadTrailerSize>& trailer) {
  std::string md5;
  for (size_t i = 0; i < kMd5Length; ++i) md5 += trailer[kFirstMd5Byte + 3 * i];
  return md5;
}

bool SealDownload(const std::string& path) {
  const auto md5 = FileMd5Hex(path);
  if (!md5 || md5->size() != kMd5Length) return false;
  auto file = platform::system::FileWriter::Open(path, platform::system::FileWriter::Mode::kAppend);
  if (!file) return false;
  std::random_device seed;
  std::mt19937 generator(seed());
  const auto trailer = BuildDownloadTrailer(*md5, [&generator] { return static_cast<std::uint32_t>(generator()); });
  return file->Write(trailer.data(), trailer.size());
}
