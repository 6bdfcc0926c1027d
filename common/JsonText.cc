#include "common/JsonText.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {
// Deepest bracket nesting outside strings; stops counting once past the limit.
int NestingDepth(const std::string& text) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > deepest) deepest = depth;
      if (deepest > kMaxJsonDepth) break;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}
}  // namespace

bool ParseJsonText(const std::string& text, rapidjson::Document& document) {
  if (NestingDepth(text) > kMaxJsonDepth) return false;
  document.Parse(text.data(), text.size());
  return !document.HasParseError();
}

std::string WriteCompactJson(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  if (!value.Accept(writer)) return {};
  return std::string(buffer.GetString(), buffer.GetSize());
}
