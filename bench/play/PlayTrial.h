#pragma once
// One trial: the whole service in this process on its headless display, a page over loopback
// WebSocket playing `panes` streams of nimbrel-source in one group, measured for `seconds`.
#include <string>

struct TrialPlan {
  int sourcePort = 0;
  std::string codec = "h264";
  int width = 640;
  int height = 360;
  int fps = 25;
  int panes = 16;
  double seconds = 30;
  int areaWidth = 1600;  // the page's video area the group covers
  int areaHeight = 900;
  std::string capturePath;  // where pane 0's stream (one loop of the source) is written
  // Nothing played: the service's CPU with no page, then with one page whose group shows
  // `panes` idle panes, each for `seconds`.
  bool idle = false;
  // After the window, pane 0 stopped and started again this many times; resident memory
  // before and after.
  int cycles = 0;
};

// Runs the trial and prints its figures as one line "RESULT key=value ..."; 0 when it ran.
int RunTrial(const TrialPlan& plan);
// The smallest square layout (1, 4, 9 ... 64) with room for `panes`.
int LayoutFor(int panes);
