#pragma once
// A page on the real service: one WebSocket connection, commands with their replies, and the
// notices that arrive in between. One thread; texts are read when a wait asks for them and kept.
#include <chrono>
#include <string>
#include <vector>

#include "WsClient.h"

class PageClient {
 public:
  // Connects, upgrades and sends webconnect; false when any step fails.
  bool Open(int port);
  const std::string& Uuid() const { return m_uuid; }
  // Sends {"cmd":cmd,"data":data,"sequence":N}; the reply's text, "" when none came in time.
  std::string Command(const std::string& cmd, const std::string& data,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // The first text received so far (from the `from`th on) or until the time-out that contains
  // every part ("" if none).
  std::string Wait(const std::vector<std::string>& parts, std::chrono::milliseconds timeout = std::chrono::seconds(30),
                   size_t from = 0);
  // Every text received so far (after reading what is waiting, from the `from`th on) that
  // contains every part.
  std::vector<std::string> All(const std::vector<std::string>& parts, size_t from = 0);
  // How many texts were received so far: a `from` for what comes later.
  size_t Received() const { return m_texts.size(); }
  void Close() { m_ws.Close(); }

 private:
  // Reads one text into m_texts; false when nothing came within a short poll.
  bool ReadOne();
  WsClient m_ws;
  std::vector<std::string> m_texts;
  std::string m_uuid;
  int m_sequence = 0;
};

// Members of a reply's or notice's "data" (-12345 / "" when missing).
int DataInt(const std::string& text, const char* name);
std::string DataString(const std::string& text, const char* name);
// A JSON string literal of `text`.
std::string Quoted(const std::string& text);
