#pragma once
// What the hostile-page tests share: pages on a running service, and the service's own figures
// read from /proc.
#include <memory>
#include <string>

#include "ServiceProcess.h"
#include "tests/support/Sanitized.h"
#include "WsClient.h"

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
