#pragma once
// What the hostile-page tests share: pages on a running service, and the service's own figures
// read from /proc.
#include <memory>
#include <string>

#include "ServiceProcess.h"
#include "WsClient.h"

// A sanitizer build runs the service many times slower and with memory of its own: time and
// memory figures are then only checked for gross faults.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A connected, upgraded page; null when either step failed.
std::unique_ptr<WsClient> OpenPage(int port, bool tls, platform::net::Family family = platform::net::Family::kIPv4,
                                   int timeoutMs = 10000);
// One webconnect round trip in milliseconds, notices skipped; negative when no matching reply
// came.
double RoundTripMs(WsClient& page, const std::string& sequence = "rt");
// A fresh page on `port` answers a webconnect.
bool Answers(int port, bool tls, platform::net::Family family = platform::net::Family::kIPv4);

// A "Vm..." figure of /proc/<pid>/status in KiB, -1 when unreadable.
long StatusKb(int pid, const std::string& key);
// User plus system CPU time the process has used, in seconds.
double CpuSeconds(int pid);
