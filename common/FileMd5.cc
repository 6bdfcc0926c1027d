#include "common/FileMd5.h"

#include <openssl/evp.h>

#include <fstream>
#include <memory>

std::optional<std::string> FileMd5Hex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return std::nullopt;
  char buf[65536];
  while (in) {
    in.read(buf, sizeof buf);
    if (in.gcount() > 0) EVP_DigestUpdate(ctx.get(), buf, static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), md, &len) != 1) return std::nullopt;
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += kHex[md[i] >> 4];
    out += kHex[md[i] & 15];
  }
  return out;
}
