#include "common/TextConv.h"

#include <vector>

namespace {
constexpr char32_t kReplacement = 0xFFFD;

std::vector<char32_t> DecodeUtf8(const std::string& s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra;
    char32_t cp;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else { out.push_back(kReplacement); ++i; continue; }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

void EncodeUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

template <typename Str>
void AppendUtf16(char32_t cp, Str& out) {
  using C = typename Str::value_type;
  if (cp < 0x10000) {
    out += static_cast<C>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<C>(0xD800 + (cp >> 10));
    out += static_cast<C>(0xDC00 + (cp & 0x3FF));
  }
}

template <typename Str>
std::vector<char32_t> DecodeUtf16(const Str& s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t u = static_cast<char32_t>(s[i]) & 0xFFFF;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size()) {
      char32_t l = static_cast<char32_t>(s[i + 1]) & 0xFFFF;
      if (l >= 0xDC00 && l <= 0xDFFF) {
        out.push_back(0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00));
        ++i;
        continue;
      }
    }
    out.push_back(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
  }
  return out;
}
}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (char32_t cp : DecodeUtf8(text)) AppendUtf16(cp, out);
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (char32_t cp : DecodeUtf16(text)) EncodeUtf8(cp, out);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  if constexpr (sizeof(wchar_t) == 2) {
    for (char32_t cp : DecodeUtf8(text)) AppendUtf16(cp, out);
  } else {
    for (char32_t cp : DecodeUtf8(text)) out += static_cast<wchar_t>(cp);
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  if constexpr (sizeof(wchar_t) == 2) {
    for (char32_t cp : DecodeUtf16(text)) EncodeUtf8(cp, out);
  } else {
    for (wchar_t c : text) {
      char32_t cp = static_cast<char32_t>(c);
      EncodeUtf8(cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? kReplacement : cp, out);
    }
  }
  return out;
}
