#pragma once
#include <string>

// Whole-string UTF-8 <-> UTF-16 / wide conversion. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
// wchar_t is UTF-16 on Windows and UTF-32 on Linux; paths cross as wide text either way.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
