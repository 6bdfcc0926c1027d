#include "FrameLedger.h"

#include <algorithm>

#include "Percentile.h"

namespace {
double Ms(BenchClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
}  // namespace

FrameLedger::FrameLedger(int panes, int loopLength) : m_loopLength(loopLength) {
  for (int i = 0; i < panes; ++i) m_panes.push_back(std::make_unique<Pane>());
}

void FrameLedger::Received(int pane, BenchClock::time_point at) {
  if (m_stopped || pane < 0 || pane >= static_cast<int>(m_panes.size())) return;
  std::lock_guard<std::mutex> lock(m_panes[pane]->mutex);
  m_panes[pane]->received.push_back(at);
}

void FrameLedger::Presented(int pane, BenchClock::time_point at, int loopIndex) {
  if (m_stopped || pane < 0 || pane >= static_cast<int>(m_panes.size())) return;
  std::lock_guard<std::mutex> lock(m_panes[pane]->mutex);
  m_panes[pane]->presented.push_back(Presentation{at, loopIndex});
}

FrameLedger::PaneCounts FrameLedger::Counts() {
  PaneCounts counts;
  for (auto& pane : m_panes) {
    std::lock_guard<std::mutex> lock(pane->mutex);
    counts.receiving += pane->received.empty() ? 0 : 1;
    counts.presenting += pane->presented.empty() ? 0 : 1;
  }
  return counts;
}

std::vector<FrameLedger::Match> FrameLedger::MatchPane(const std::vector<BenchClock::time_point>& received,
                                                       const std::vector<Presentation>& presented, int loopLength,
                                                       long* unmatched) {
  std::vector<Match> matches;
  long last = -1;
  for (const Presentation& p : presented) {
    if (p.loopIndex < 0) {
      ++*unmatched;
      continue;
    }
    // The same picture again (a repaint) is not a new frame.
    if (last >= 0 && p.loopIndex == last % loopLength) continue;
    // The first frame after the last one shown whose loop position is the picture's: frames in
    // between were skipped (up to a whole loop can be told apart).
    const long next = last + 1;
    const long frame = next + ((p.loopIndex - next % loopLength) + loopLength) % loopLength;
    if (frame >= static_cast<long>(received.size()) || received[frame] > p.at) {
      ++*unmatched;  // a picture of a frame not received yet: not from this stream's order
      continue;
    }
    matches.push_back(Match{frame, p.at});
    last = frame;
  }
  return matches;
}

LatencyFigures FrameLedger::Figures(BenchClock::time_point from, BenchClock::time_point to) {
  LatencyFigures f;
  std::vector<std::pair<BenchClock::time_point, double>> latencies;  // by receipt time
  for (auto& pane : m_panes) {
    std::vector<BenchClock::time_point> received;
    std::vector<Presentation> presented;
    {
      std::lock_guard<std::mutex> lock(pane->mutex);
      received = pane->received;
      presented = pane->presented;
    }
    const auto matches = MatchPane(received, presented, m_loopLength, &f.unmatched);
    std::vector<bool> shown(received.size(), false);
    for (const Match& m : matches) {
      shown[m.frame] = true;
      if (m.at >= from && m.at < to) ++f.presented;
      if (received[m.frame] >= from && received[m.frame] < to)
        latencies.emplace_back(received[m.frame], Ms(m.at - received[m.frame]));
    }
    for (size_t i = 0; i < received.size(); ++i) {
      if (received[i] < from || received[i] >= to) continue;
      ++f.received;
      if (!shown[i]) ++f.dropped;
    }
  }
  f.presentedPerSecond = f.presented / std::chrono::duration<double>(to - from).count();
  std::vector<double> all;
  for (const auto& l : latencies) all.push_back(l.second);
  f.p50Ms = Percentile(all, 0.5);
  f.p99Ms = Percentile(all, 0.99);
  f.maxMs = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
  // Early against late in the window: a service that falls behind shows a growing delay.
  const auto fifth = (to - from) / 5;
  std::vector<double> early, late;
  for (const auto& l : latencies) {
    if (l.first < from + fifth) early.push_back(l.second);
    if (l.first >= to - fifth) late.push_back(l.second);
  }
  f.firstFifthP50Ms = Percentile(early, 0.5);
  f.lastFifthP50Ms = Percentile(late, 0.5);
  return f;
}
