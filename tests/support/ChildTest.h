#pragma once
// Runs one test of this very test binary again in a child process, for cases that must end a
// process (a kill mid-way) or limit it (a file-size cap standing in for a full disk) without
// touching the parent. The child test skips itself unless its environment says it is the child.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/system/Process.h"

struct ChildRun {
  std::string output;  // everything the child printed
  int exitCode = -1;   // as the shell reports it: 137 after a kill -9
};

// `environment`: shell assignments for the child; `limitKiB` > 0 caps the size of files it
// writes (a write beyond fails with EFBIG instead of raising a signal); `killAt`: a line of the
// child's output at which it is killed with SIGKILL ("" never).
inline ChildRun RunChildTest(const std::string& test, const std::string& environment, int limitKiB,
                             const std::string& killAt) {
  const std::string self = "/proc/" + std::to_string(platform::system::CurrentProcessId()) + "/exe";
  const std::string limit = limitKiB > 0 ? "trap \"\" XFSZ; ulimit -f " + std::to_string(limitKiB) + "; " : "";
  const std::string script = limit + "\"$0\" --gtest_filter=" + test + " 2>&1 & echo pid:$!; wait $!; echo exit:$?";
  const std::string command = "export " + environment + "; bash -c '" + script + "' '" + self + "'";
  ChildRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  int pid = 0;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string text(line);
    if (std::sscanf(line, "pid:%d", &pid) == 1) continue;
    if (text.rfind("exit:", 0) == 0) {
      run.exitCode = std::atoi(line + 5);
      continue;
    }
    run.output += text;
    if (!killAt.empty() && text == killAt + "\n" && pid > 0) std::system(("kill -9 " + std::to_string(pid)).c_str());
  }
  ::pclose(pipe);
  return run;
}

// The child's last step when it is to be killed: says so and waits for the end.
[[noreturn]] inline void AnnounceAndWait(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
  while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
}
