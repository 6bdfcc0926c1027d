#include "TrialResult.h"

#include <cstdlib>
#include <sstream>

namespace {
constexpr double kGrowthLimitMs = 20;      // half a frame interval at 25 fps
constexpr double kReceivedShare = 0.97;    // of what the source paces out
}  // namespace

TrialResult TrialResult::Parse(const std::string& line) {
  TrialResult r;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos) r.fields[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return r;
}

double TrialResult::Number(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? 0 : std::atof(it->second.c_str());
}

std::string TrialResult::Text(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? "" : it->second;
}

std::string TrialResult::Path() const {
  const double yuv = Number("yuvPresents"), bgra = Number("bgraPresents");
  if (yuv > 0) return bgra > 0 ? "mixed" : "yuv";
  return bgra > 0 ? "bgra" : "-";
}

double TrialResult::CpuPerFrameMs() const {
  const double presented = Number("presented");
  return presented > 0 ? Number("serviceCpu") / presented * 1e3 : 0;
}

std::string TrialResult::NotHeldBecause(int fps) const {
  if (!Ok()) return "did not run: " + Text("why");
  if (Number("dropped") > 0 || Number("queueDrops") > 0) return "frames dropped";
  if (Number("received") < kReceivedShare * Expected(fps) || Number("backlogBytes") > 0)
    return "the service did not read its streams in time";
  if (Number("lateP50") - Number("earlyP50") > kGrowthLimitMs) return "the delay grew";
  return "";
}
