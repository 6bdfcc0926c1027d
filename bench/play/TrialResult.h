#pragma once
// A trial's figures as its "RESULT key=value ..." line gives them, and what they mean together.
#include <map>
#include <string>

struct TrialResult {
  std::map<std::string, std::string> fields;

  static TrialResult Parse(const std::string& line);
  bool Ok() const { return Number("ok") == 1; }
  double Number(const std::string& key) const;
  std::string Text(const std::string& key) const;
  // Frames the source was to deliver in the window (panes x fps x seconds).
  double Expected(int fps) const { return Number("panes") * fps * Number("seconds"); }
  // How the pictures reached the display: "yuv", "bgra", "mixed" (some fell back), or "-".
  std::string Path() const;
  // Service CPU per presented frame, milliseconds.
  double CpuPerFrameMs() const;
  // Why the panes were not held ("" when they were): frames lost in the service or never
  // read from the source, or a delay that grew during the window.
  std::string NotHeldBecause(int fps) const;
};
