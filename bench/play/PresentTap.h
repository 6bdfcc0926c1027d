#pragma once
// Stands between the AV library and the headless display: every picture still goes to the
// display, and its presentation time and loop position are written down for the pane it went to.
#include <atomic>
#include <map>
#include <mutex>

#include "FrameLedger.h"
#include "platform/display/VideoOutput.h"

// The loop position shown by a picture of nimbrel-source's pattern (a white bar that sweeps from
// left to right once per loop of `loopLength` frames), read from one row below the middle of
// the picture, whatever size it was scaled to; -1 when no bar is found. A YUV picture is read
// from its Y plane, in its visible part.
int ReadLoopIndex(const platform::display::VideoFrameView& frame, int loopLength);
int ReadLoopIndex(const platform::display::YuvFrameView& frame, int loopLength);

class PresentTap : public platform::display::IVideoOutput {
 public:
  PresentTap(platform::display::IVideoOutput& display, FrameLedger& ledger, int loopLength);

  // Which pane each window is (set before the streams start; windows not named are passed on only).
  void SetPanes(std::map<platform::display::WindowId, int> panes);

  bool GetClientSize(platform::display::WindowId window, int* width, int* height) override;
  bool Present(platform::display::WindowId window, const platform::display::VideoFrameView& frame,
               const std::function<void(void* canvas)>& overlay) override;
  platform::display::PresentResult PresentYuv(platform::display::WindowId window,
                                              const platform::display::YuvFrameView& frame,
                                              const std::function<void(void* canvas)>& overlay) override;
  // Pictures presented into windows that are no pane of the trial.
  int OtherPresentations() const { return m_other.load(); }
  // Pictures the display took as YUV, and as BGRA.
  long YuvPresentations() const { return m_yuv.load(); }
  long BgraPresentations() const { return m_bgra.load(); }

 private:
  platform::display::IVideoOutput& m_display;
  FrameLedger& m_ledger;
  const int m_loopLength;
  std::mutex m_mutex;
  std::map<platform::display::WindowId, int> m_panes;  // m_mutex
  std::atomic<int> m_other{0};
  std::atomic<long> m_yuv{0}, m_bgra{0};

  void Note(platform::display::WindowId window, int index);
};
