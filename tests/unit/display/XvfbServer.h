#pragma once
// A private Xvfb for one test, on a display number the server picks itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/system/Process.h"

class XvfbServer {
 public:
  // `extraArgs` go to Xvfb as they are (for example "-maxclients 64").
  explicit XvfbServer(const std::string& extraArgs = "") {
    // Tests of one file run in parallel processes whose rand() starts alike.
    m_dir = std::string(::testing::TempDir()) + "xvfb-" +
            std::to_string(platform::system::CurrentProcessId()) + "-" + std::to_string(std::rand());
    std::system(("mkdir -p " + m_dir).c_str());
    // -displayfd picks a free display number and writes it once the server accepts clients.
    std::string cmd = "Xvfb -displayfd 3 " + extraArgs + " -screen 0 800x600x24 -nolisten tcp 3>" + m_dir +
                      "/display >/dev/null 2>&1 & echo $! >" + m_dir + "/pid";
    std::system(cmd.c_str());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_display.empty() && std::chrono::steady_clock::now() < deadline) {
      std::ifstream f(m_dir + "/display");
      std::string n;
      if (f >> n) m_display = ":" + n;
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~XvfbServer() {
    std::ifstream f(m_dir + "/pid");
    std::string pid;
    if (f >> pid) std::system(("kill " + pid).c_str());
    std::system(("rm -rf " + m_dir).c_str());
  }
  const std::string& Display() const { return m_display; }

 private:
  std::string m_dir;
  std::string m_display;
};
