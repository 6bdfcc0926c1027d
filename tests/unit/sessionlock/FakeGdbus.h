#pragma once
// A stand-in for gdbus, written where tests can run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/system/Process.h"

// Answers the session calls for session "2" (path _32) only, and monitors
// by printing a captured exchange, then stays until it is ended.
class FakeTool {
 public:
  explicit FakeTool(bool logindAnswers) {
    m_path = std::filesystem::path(::testing::TempDir()) /
             ("fake-gdbus-" + std::to_string(platform::system::CurrentProcessId()) + (logindAnswers ? "-a" : "-b"));
    std::ofstream(m_path) << "#!/bin/sh\n"
                          << (logindAnswers ? "" : "[ \"$1\" = call ] && exit 1\n") <<
        R"SH(case "$1" in
call)
  case "$*" in
    *GetSessionByPID*) echo "(objectpath '/org/freedesktop/login1/session/_32',)";;
    *) [ "$6" = /org/freedesktop/login1/session/_32 ] || exit 1; echo "(<'2'>,)";;
  esac;;
monitor)
  p=$6
  echo "Monitoring signals on object $p owned by org.freedesktop.login1"
  echo "The name org.freedesktop.login1 is owned by :1.4"
  echo "/org/freedesktop/login1/session/c7: org.freedesktop.login1.Session.Unlock ()"
  echo "$p: org.freedesktop.DBus.Properties.PropertiesChanged ('org.freedesktop.login1.Session', {'LockedHint': <true>}, @as [])"
  echo "$p: org.freedesktop.login1.Session.Lock ()"
  echo "$p: org.freedesktop.login1.Session.Unlock ()"
  exec sleep 600;;
*) exit 1;;
esac
)SH";
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all);
  }
  ~FakeTool() { std::filesystem::remove(m_path); }
  std::string Path() const { return m_path.string(); }

 private:
  std::filesystem::path m_path;
};
