#include "service/protocol/JsonKeys.h"

#include <cmath>
#include <limits>

KeyReader::KeyReader(const rapidjson::Value* object) : m_object(object) {
  if (m_object && !m_object->IsObject()) throw KeyError{};
}

const rapidjson::Value* KeyReader::Find(const char* key) const {
  if (!m_object) return nullptr;
  auto it = m_object->FindMember(key);
  return it == m_object->MemberEnd() ? nullptr : &it->value;
}

const rapidjson::Value& KeyReader::Value(const char* key) const {
  const rapidjson::Value* v = Find(key);
  if (!v) throw KeyError{};
  return *v;
}

int32_t KeyReader::Int(const char* key) const {
  const rapidjson::Value& v = Value(key);
  if (!v.IsInt()) throw KeyError{};
  return v.GetInt();
}

bool KeyReader::Bool(const char* key) const {
  const rapidjson::Value& v = Value(key);
  if (!v.IsBool()) throw KeyError{};
  return v.GetBool();
}

std::string KeyReader::String(const char* key) const {
  const rapidjson::Value& v = Value(key);
  if (!v.IsString()) throw KeyError{};
  return std::string(v.GetString(), v.GetStringLength());
}

// Integer literals count too: a page's JSON.stringify writes 25.0 as 25, and refusing it would
// leave the command without any reply.
float KeyReader::Float(const char* key) const {
  const rapidjson::Value& v = Value(key);
  if (!v.IsNumber()) throw KeyError{};
  const double d = v.GetDouble();
  if (!(std::fabs(d) <= std::numeric_limits<float>::max())) throw KeyError{};
  return static_cast<float>(d);
}

KeyReader KeyReader::Object(const char* key) const { return KeyReader(&Value(key)); }

std::optional<int32_t> KeyReader::OptInt(const char* key) const {
  if (!Has(key)) return std::nullopt;
  return Int(key);
}

std::optional<bool> KeyReader::OptBool(const char* key) const {
  if (!Has(key)) return std::nullopt;
  return Bool(key);
}

std::optional<std::string> KeyReader::OptString(const char* key) const {
  if (!Has(key)) return std::nullopt;
  return String(key);
}

KeyReader KeyReader::OptObject(const char* key) const { return KeyReader(Find(key)); }

std::optional<int32_t> KeyReader::IntIfTyped(const char* key) const {
  const rapidjson::Value* v = Find(key);
  if (!v || !v->IsInt()) return std::nullopt;
  return v->GetInt();
}

std::optional<std::string> KeyReader::StringIfTyped(const char* key) const {
  const rapidjson::Value* v = Find(key);
  if (!v || !v->IsString()) return std::nullopt;
  return std::string(v->GetString(), v->GetStringLength());
}
