// The logind lock watcher: its line and path parsing on captured `gdbus` output, the paths on
// which it reports "unavailable", and the whole run against a stand-in tool.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/system/Process.h"
#include "platform/system/SessionLock.h"
#include "FakeGdbus.h"

using namespace platform::system;

namespace {

constexpr const char* kPath = "/org/freedesktop/login1/session/_32";

TEST(SessionLockTest, ParsesMonitorLines) {
  struct Case {
    const char* line;
    std::optional<bool> expected;
  } cases[] = {
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.Lock ()", true},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.Unlock ()\n", false},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.Unlock ()\r\n", false},
      // Banners, another session, a longer path sharing the prefix, other signals and members.
      {"Monitoring signals on object /org/freedesktop/login1/session/_32 owned by org.freedesktop.login1",
       std::nullopt},
      {"The name org.freedesktop.login1 is owned by :1.4", std::nullopt},
      {"/org/freedesktop/login1/session/c7: org.freedesktop.login1.Session.Lock ()", std::nullopt},
      {"/org/freedesktop/login1/session/_321: org.freedesktop.login1.Session.Lock ()", std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.DBus.Properties.PropertiesChanged "
       "('org.freedesktop.login1.Session', {'LockedHint': <true>}, @as [])",
       std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.PauseDevice (uint32 13, "
       "uint32 64, 'pause')",
       std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.LockX ()", std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.Lock ('x',)", std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Session.Lock", std::nullopt},
      {"/org/freedesktop/login1/session/_32: org.freedesktop.login1.Sess", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSessionLockLine(c.line, kPath), c.expected) << c.line;
  EXPECT_EQ(ParseSessionLockLine(cases[0].line, ""), std::nullopt);
}

TEST(SessionLockTest, SessionPathsAndReplies) {
  struct PathCase {
    const char* id;
    const char* path;
  } paths[] = {{"2", "_32"}, {"12", "_312"}, {"c1", "c1"}, {"a-b.c", "a_2db_2ec"}, {"", "_"}};
  for (const auto& c : paths)
    EXPECT_EQ(SessionObjectPath(c.id), std::string("/org/freedesktop/login1/session/") + c.path) << c.id;

  EXPECT_EQ(ParseObjectPathReply("(objectpath '/org/freedesktop/login1/session/_32',)\n"),
            std::optional<std::string>(kPath));
  for (const char* bad : {"", "(objectpath '',)", "(objectpath 'x',)", "(objectpath '/a", "('/a',)"})
    EXPECT_EQ(ParseObjectPathReply(bad), std::nullopt) << bad;
}

struct Heard {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> events;

  void Add(bool locked) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(locked);
    changed.notify_all();
  }
  std::vector<bool> WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [&] { return events.size() >= count; });
    return events;
  }
};

bool IsRunning(ProcessId pid) {
  auto list = ListProcesses();
  if (!list) return false;
  for (const auto& p : *list)
    if (p.pid == pid) return true;
  return false;
}

TEST(SessionLockTest, UnavailableStartsNothing) {
  FakeTool noLogind(false);
  FakeTool logind(true);
  struct Case {
    const char* name;
    SessionLockOptions options;
  } cases[] = {
      {"no tool", {"/nonexistent/gdbus", "2", "", 3000}},
      {"no system bus", {"gdbus", "2", "unix:path=" + ::testing::TempDir() + "no-such-bus", 3000}},
      {"no logind", {noLogind.Path(), "", "", 3000}},
      {"no such session", {logind.Path(), "3", "", 3000}},
  };
  for (auto& c : cases) {
    SessionLockWatcher watcher(c.options);
    bool called = false;
    EXPECT_FALSE(watcher.Start([&](bool) { called = true; })) << c.name;
    EXPECT_FALSE(watcher.Running()) << c.name;
    EXPECT_EQ(watcher.ChildId(), 0) << c.name;
    EXPECT_FALSE(called) << c.name;
  }
}

TEST(SessionLockTest, FollowsTheSessionAndEndsItsChild) {
  FakeTool tool(true);
  // By $XDG_SESSION_ID, and by asking logind for this process's session.
  for (const char* sessionId : {"2", ""}) {
    SessionLockWatcher watcher({tool.Path(), sessionId, "", 3000});
    Heard heard;
    ASSERT_TRUE(watcher.Start([&](bool locked) { heard.Add(locked); })) << sessionId;
    EXPECT_TRUE(watcher.Start([](bool) {}));  // already running: nothing new
    EXPECT_EQ(heard.WaitFor(2), (std::vector<bool>{true, false})) << sessionId;
    ProcessId child = watcher.ChildId();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(IsRunning(child));
    watcher.Stop();
    EXPECT_FALSE(watcher.Running());
    EXPECT_FALSE(IsRunning(child));
    EXPECT_EQ(heard.WaitFor(2).size(), 2u);  // the second Start's callback was never used
  }
}

}  // namespace
