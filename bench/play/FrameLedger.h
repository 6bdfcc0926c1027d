#pragma once
// When each pane's video frames reached the service and when each was presented, and the figures
// they add up to. The source plays a loop of `loopLength` frames from its start, so the n-th frame
// a pane receives shows loop picture n % loopLength; a presented picture names its loop position
// (PresentTap reads it), which ties it to the frame it came from even when frames go missing.
//
// Threads: Received on the relay thread, Presented on the AV library's threads, the rest on the
// trial's main thread; one mutex per pane.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

using BenchClock = std::chrono::steady_clock;

struct LatencyFigures {
  long received = 0;         // video frames that reached the service inside the window
  long presented = 0;        // distinct pictures presented inside the window
  long dropped = 0;          // frames received inside the window and never presented
  long unmatched = 0;        // presentations tied to no received frame (unreadable picture)
  double presentedPerSecond = 0;
  double p50Ms = 0, p99Ms = 0, maxMs = 0;
  double firstFifthP50Ms = 0, lastFifthP50Ms = 0;  // latency early and late in the window
};

class FrameLedger {
 public:
  FrameLedger(int panes, int loopLength);

  // The pane's next video frame has been handed to the service's socket.
  void Received(int pane, BenchClock::time_point at);
  // The pane presented the picture of loop position `loopIndex` (-1: not readable).
  void Presented(int pane, BenchClock::time_point at, int loopIndex);
  // Panes that have received at least one video frame, and that have presented a picture.
  struct PaneCounts {
    int receiving = 0;
    int presenting = 0;
  };
  PaneCounts Counts();
  // Records nothing more (the figures are taken): the ledger's growth stays out of later
  // memory figures.
  void StopRecording() { m_stopped = true; }

  // Figures of frames received between `from` and `to`, counting presentations recorded so far.
  LatencyFigures Figures(BenchClock::time_point from, BenchClock::time_point to);

 private:
  struct Presentation {
    BenchClock::time_point at;
    int loopIndex;
  };
  struct Pane {
    std::mutex mutex;
    std::vector<BenchClock::time_point> received;  // by frame number
    std::vector<Presentation> presented;           // in order
  };
  // A matched presentation: frame number and when it was presented.
  struct Match {
    long frame;
    BenchClock::time_point at;
  };
  static std::vector<Match> MatchPane(const std::vector<BenchClock::time_point>& received,
                                      const std::vector<Presentation>& presented, int loopLength, long* unmatched);

  const int m_loopLength;
  std::atomic<bool> m_stopped{false};
  std::vector<std::unique_ptr<Pane>> m_panes;
};
