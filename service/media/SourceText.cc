#include "service/media/SourceText.h"

#include <cstdlib>

#include "common/JsonText.h"
#include "service/media/MediaHeader.h"

namespace {

const rapidjson::Value* DataObject(const rapidjson::Document& document) {
  if (!document.IsObject()) return nullptr;
  auto it = document.FindMember("data");
  if (it == document.MemberEnd() || !it->value.IsObject()) return nullptr;
  return &it->value;
}

}  // namespace

std::optional<int> SourceCode(const std::uint8_t* data, std::size_t size) {
  if (!IsJsonText(data, size)) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(data), size);
  const auto last = text.rfind('}');
  if (last == std::string::npos) return std::nullopt;
  text.resize(last + 1);
  rapidjson::Document document;
  if (!ParseJsonText(text, document) || !document.IsObject()) return std::nullopt;
  auto it = document.FindMember("code");
  if (it == document.MemberEnd() || !it->value.IsInt()) return 0;
  return it->value.GetInt();
}

StartFields ReadStartFields(const std::string& requestJson) {
  StartFields fields;
  rapidjson::Document document;
  if (!ParseJsonText(requestJson, document)) return fields;
  const rapidjson::Value* data = DataObject(document);
  if (!data) return fields;
  fields.hasData = true;
  auto channel = data->FindMember("channel");
  if (channel != data->MemberEnd() && channel->value.IsInt()) fields.channel = channel->value.GetInt();
  auto endTime = data->FindMember("endTime");
  if (endTime != data->MemberEnd() && endTime->value.IsString()) {
    fields.endTime = std::string(endTime->value.GetString(), endTime->value.GetStringLength());
  }
  auto speed = data->FindMember("speed");
  if (speed != data->MemberEnd() && speed->value.IsInt()) fields.speed = speed->value.GetInt();
  return fields;
}

std::optional<int> SeekTimeOf(const std::string& message) {
  rapidjson::Document document;
  if (!ParseJsonText(message, document)) return std::nullopt;
  const rapidjson::Value* data = DataObject(document);
  if (!data) return std::nullopt;
  auto it = data->FindMember("seekTime");
  if (it == data->MemberEnd() || !it->value.IsString()) return std::nullopt;
  // Read as the C library reads a number, clamped to int: a page's text never overflows.
  const long long value = std::strtoll(it->value.GetString(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}
