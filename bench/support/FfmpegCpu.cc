#include "FfmpegCpu.h"

#include <cstdio>

double FfmpegCpuSeconds(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -benchmark " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  double seconds = -1;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    double user = 0, system = 0;
    if (std::sscanf(line, "bench: utime=%lfs stime=%lfs", &user, &system) == 2) seconds = user + system;
  }
  return pclose(pipe) == 0 ? seconds : -1;
}
