#include "PageClient.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {
constexpr int kPollMs = 100;
constexpr int kHandshakeMs = 10000;

bool ContainsAll(const std::string& text, const std::vector<std::string>& parts) {
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) return false;
  }
  return true;
}

const rapidjson::Value* DataMember(rapidjson::Document& doc, const std::string& text, const char* name) {
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("data") || !doc["data"].IsObject()) return nullptr;
  auto it = doc["data"].FindMember(name);
  return it == doc["data"].MemberEnd() ? nullptr : &it->value;
}
}  // namespace

bool PageClient::Open(int port) {
  // The upgrade's answer may take long on a loaded machine; only later reads poll briefly.
  if (!m_ws.Connect(platform::net::Family::kIPv4, port, false, kHandshakeMs) || !m_ws.Upgrade()) return false;
  m_ws.SetReadTimeout(kPollMs);
  const std::string reply = Command("webconnect", R"({"webVersion":"1.0"})");
  rapidjson::Document doc;
  doc.Parse(reply.c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("uuid") || !doc["uuid"].IsString()) return false;
  m_uuid = doc["uuid"].GetString();
  return true;
}

bool PageClient::ReadOne() {
  auto text = m_ws.ReadText();
  if (!text) return false;
  m_texts.push_back(*text);
  return true;
}

std::string PageClient::Command(const std::string& cmd, const std::string& data, std::chrono::milliseconds timeout) {
  const std::string sequence = "s" + std::to_string(++m_sequence);
  if (!m_ws.SendText("{\"cmd\":\"" + cmd + "\",\"data\":" + data + ",\"sequence\":\"" + sequence + "\"}")) return {};
  return Wait({"\"cmd\":\"" + cmd + "\"", "\"sequence\":\"" + sequence + "\""}, timeout);
}

std::string PageClient::Wait(const std::vector<std::string>& parts, std::chrono::milliseconds timeout, size_t from) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t seen = from;
  while (true) {
    for (; seen < m_texts.size(); ++seen) {
      if (ContainsAll(m_texts[seen], parts)) return m_texts[seen];
    }
    if (std::chrono::steady_clock::now() >= deadline) return {};
    ReadOne();
  }
}

std::vector<std::string> PageClient::All(const std::vector<std::string>& parts, size_t from) {
  while (ReadOne()) {
  }
  std::vector<std::string> found;
  for (size_t i = from; i < m_texts.size(); ++i) {
    if (ContainsAll(m_texts[i], parts)) found.push_back(m_texts[i]);
  }
  return found;
}

int DataInt(const std::string& text, const char* name) {
  rapidjson::Document doc;
  const rapidjson::Value* v = DataMember(doc, text, name);
  return v && v->IsInt() ? v->GetInt() : -12345;
}

std::string DataString(const std::string& text, const char* name) {
  rapidjson::Document doc;
  const rapidjson::Value* v = DataMember(doc, text, name);
  return v && v->IsString() ? v->GetString() : std::string();
}

std::string Quoted(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
  return buffer.GetString();
}
