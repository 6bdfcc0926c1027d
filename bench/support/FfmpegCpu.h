#pragma once
// The reference every benchmark divides by: CPU seconds the ffmpeg tool reports for its own run.
#include <string>

// Runs `ffmpeg -nostdin -benchmark <arguments>` and returns utime + stime from its "bench:" line,
// or -1 when ffmpeg fails or prints no such line.
double FfmpegCpuSeconds(const std::string& arguments);
