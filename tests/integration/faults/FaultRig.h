#pragma once
// What the fault tests share: a private X server, a stand-in browser window titled with the
// page's session id, the real service on that display (or started by the real watchdog), a real
// nimbrel-source, and pages that open a window group.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "HostileSupport.h"
#include "PageClient.h"
#include "ServiceProcess.h"
#include "tests/integration/source/SourceProcess.h"

// An Xvfb on a display number it picks itself; killed with the object.
class PrivateXServer {
 public:
  PrivateXServer();
  ~PrivateXServer();
  const std::string& Display() const { return m_display; }
  int Pid() const { return m_pid; }
  // Sends `signal` ("KILL", "STOP", "CONT") to the server.
  void Signal(const std::string& signal);

 private:
  std::string m_dir;
  std::string m_display;
  int m_pid = 0;
};

// An xmessage window whose caption names the page, as a browser tab's would.
class BrowserWindow {
 public:
  BrowserWindow(const std::string& display, const std::string& uuid);
  ~BrowserWindow();
  bool Shown() const { return m_shown; }

 private:
  int m_pid = 0;
  bool m_shown = false;
};

// Polls `condition` every 20 ms; false when it did not hold within `limit`.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// A page with a window group of `panes` over its browser window.
struct GroupPage {
  PageClient page;
  std::unique_ptr<BrowserWindow> browser;
};
std::unique_ptr<GroupPage> OpenGroupPage(int port, const std::string& display, int panes);

// startPlay data for `pane`, camera channel `pane + 1`.
std::string PlayData(const std::string& url, int pane);
std::string StopData(int pane);
// Two snapshots of `pane` taken a little apart (into `folder`) differ: it decodes and shows new
// pictures.
bool PaneShowsNewPictures(PageClient& page, int pane, const std::string& folder);

// The source's event lines named `event` whose target or fields contain `part`.
int CountSourceEvents(sourcetest::SourceProcess& source, const std::string& event, const std::string& part = "");
// The "conn" number of every connect whose target contains `part`.
std::vector<long> SourceConnections(sourcetest::SourceProcess& source, const std::string& part);
// Whether connection `conn` has ended at the source (closed, dropped or reset).
bool SourceConnectionEnded(sourcetest::SourceProcess& source, long conn);
// The integer `key` of the source's close line of `conn`, -1 when none.
long SourceCloseField(sourcetest::SourceProcess& source, long conn, const char* key);

// Resident size and open descriptors of a process, from /proc.
long ResidentKiB(int pid);
int OpenDescriptors(int pid);
// What each open descriptor of a process names, one a line (for failure messages).
std::string DescriptorList(int pid);
bool ProcessRuns(int pid);
// Video frames ffprobe decodes from a file.
int ProbeFrames(const std::string& path);
// The files under `folder` (recursively) whose names end with `suffix`.
std::vector<std::string> FilesUnder(const std::string& folder, const std::string& suffix = "");

// The service as a desktop runs it: the real watchdog in the run directory of `service` (made,
// not started), checking every `periodMs` and starting the service whenever it is not running.
class WatchedService {
 public:
  WatchedService(ServiceProcess& service, const std::string& environment, int periodMs);
  ~WatchedService();
  bool Started() const { return m_watchdog > 0; }
  // What the watchdog and the services it started wrote.
  std::string Output() const;
  // Process ids of the services it started, in order.
  std::vector<int> ServicePids() const;
  // Waits for the `n`th service start; its pid, 0 at the time-out.
  int WaitForStart(size_t n, std::chrono::milliseconds limit);

 private:
  ServiceProcess& m_service;
  int m_watchdog = 0;
};

// A private X server, a nimbrel-source and a service run directory for each test.
class ServiceOnXTest : public ::testing::Test {
 protected:
  // Checks the display and the source; then starts the service on the display (after
  // `shellSetup`) unless `start` is false.
  void SetUpRig(bool start, const std::string& shellSetup = "");
  // The source's URL with `query`.
  std::string Url(const std::string& query) const;
  // What the service starts with: the private display, no sound server.
  std::string Environment() const { return "DISPLAY=" + m_x.Display() + " NIMBREL_NO_PULSE=1"; }

  PrivateXServer m_x;
  sourcetest::SourceProcess m_source{"--port 0"};
  ServiceProcess m_service;
};
