#pragma once
// Typed reading of the members of one JSON object for the command parser. A missing required
// key or a key of the wrong type throws KeyError, which ParseCommand turns into its failure
// answer; nothing else catches it.
#include <cstdint>
#include <optional>
#include <string>

#include <rapidjson/document.h>

struct KeyError {};

class KeyReader {
 public:
  // `object` may be null: the object is absent, required reads fail and optional ones are empty.
  // A value that is not an object is refused (KeyError).
  explicit KeyReader(const rapidjson::Value* object);

  bool Exists() const { return m_object != nullptr; }
  bool Has(const char* key) const { return Find(key) != nullptr; }
  const rapidjson::Value* Find(const char* key) const;
  const rapidjson::Value& Value(const char* key) const;  // any type, required

  // Required keys.
  int32_t Int(const char* key) const;
  bool Bool(const char* key) const;
  std::string String(const char* key) const;
  float Float(const char* key) const;  // written with a fraction or exponent, float range
  KeyReader Object(const char* key) const;

  // Optional keys: empty when absent, KeyError when present with another type.
  std::optional<int32_t> OptInt(const char* key) const;
  std::optional<bool> OptBool(const char* key) const;
  std::optional<std::string> OptString(const char* key) const;
  KeyReader OptObject(const char* key) const;

  // Taken only when present and of that type; anything else is ignored.
  std::optional<int32_t> IntIfTyped(const char* key) const;
  std::optional<std::string> StringIfTyped(const char* key) const;

 private:
  const rapidjson::Value* m_object;
};
