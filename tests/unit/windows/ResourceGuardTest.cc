#include <gtest/gtest.h>

#include <deque>

#include "NoWaits.h"
#include "platform/display/headless/HeadlessDisplay.h"
#include "platform/system/ResourceUsage.h"
#include "service/protocol/ResourceGuard.h"
#include "service/windows/CPlayWnd.h"
#include "tests/unit/protocol/ProtocolFixture.h"

namespace {

class ResourceGuardTest : public ::testing::Test {
 protected:
  ResourceGuardTest()
      : m_router(m_sessions.m_table, m_writer),
        m_guard(m_sessions.m_table, m_router,
                {[this] { return Next(m_cpu); }, [this]() -> std::optional<int> {
                   auto v = Next(m_mem);
                   return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
                 }}) {
    UseNoWaits();
    m_sessions.Add(3, "{A}");
    CSession& b = m_sessions.Add(5, "{B}");
    // A group never attached still keeps its pane marks.
    b.m_pWnd = std::make_unique<CPlayWnd>(m_display, "", "", "", 0, 0);
    b.m_pWnd->Arrange(4, "");
    m_group = b.m_pWnd.get();
  }

  static std::optional<double> Next(std::deque<std::optional<double>>& q) {
    if (q.empty()) return 0.0;
    auto v = q.front();
    q.pop_front();
    return v;
  }
  void Run(int times) {
    for (int i = 0; i < times; ++i) m_guard.CheckResource();
  }
  bool Marked(int state) {
    for (auto& [pane, value] : m_group->PaneStates())
      if (value != state) return false;
    return true;
  }

  platform::display::HeadlessDisplay m_display;
  SessionsHolder m_sessions;
  RecordingWriter m_writer;
  EventRouter m_router;
  std::deque<std::optional<double>> m_cpu, m_mem;
  ResourceGuard m_guard;
  CPlayWnd* m_group = nullptr;
};

TEST_F(ResourceGuardTest, TenHighSamplesInARowNotifyEveryPageAndMarkPanes) {
  m_mem.assign(20, 85.0);
  Run(9);
  EXPECT_TRUE(m_writer.m_sent.empty());
  EXPECT_EQ(m_guard.LowResourceCount(), 9);
  Run(1);
  ASSERT_EQ(m_writer.m_sent.size(), 2u);
  EXPECT_EQ(m_writer.m_sent[0].text,
            R"({"cmd":"notice","data":{"errorCode":1,"wndIndex":-1,"channel":-1},"sequence":"","uuid":"{A}"})");
  EXPECT_EQ(m_writer.m_sent[1].uuid, "{B}");
  EXPECT_TRUE(Marked(1));
  EXPECT_EQ(m_guard.LowResourceCount(), 0);
  Run(10);
  EXPECT_EQ(m_writer.m_sent.size(), 4u);
  // One sample below both limits clears the marks at once.
  m_cpu.assign({79.9});
  m_mem.assign({50.0});
  Run(1);
  EXPECT_TRUE(Marked(0));
  EXPECT_EQ(m_guard.LowResourceCount(), 0);
}

TEST_F(ResourceGuardTest, NineHighThenLowResetsAndUnreadableCountsAsLow) {
  m_cpu.assign(9, 85.0);
  m_cpu.push_back(50.0);
  Run(10);
  EXPECT_TRUE(m_writer.m_sent.empty());
  EXPECT_EQ(m_guard.LowResourceCount(), 0);
  m_cpu.assign(5, 95.0);
  m_cpu.push_back(std::nullopt);
  Run(6);
  EXPECT_EQ(m_guard.LowResourceCount(), 0);
}

TEST(ResourceUsage, ParsesTheKernelCounters) {
  using platform::system::ProcessorSampler;
  auto before = ProcessorSampler::ParseCounters("cpu  100 0 100 700 100 0 0 0 0 0\ncpu0 1 2 3 4\n");
  auto after = ProcessorSampler::ParseCounters("cpu  250 0 150 750 150 0 0 0 0 0\n");
  ASSERT_TRUE(before && after);
  EXPECT_DOUBLE_EQ(*ProcessorSampler::BusyPercent(*before, *after), 200.0 / 300.0 * 100.0);
  EXPECT_FALSE(ProcessorSampler::BusyPercent(*after, *after));
  EXPECT_FALSE(ProcessorSampler::ParseCounters("intr 1 2 3"));
  EXPECT_EQ(platform::system::MemoryLoadFromText("MemTotal: 1000 kB\nMemFree: 10 kB\nMemAvailable: 199 kB\n"), 80);
  EXPECT_EQ(platform::system::MemoryLoadFromText("MemTotal: 1000 kB\nMemAvailable: 201 kB\n"), 79);
  EXPECT_FALSE(platform::system::MemoryLoadFromText("MemTotal: 1000 kB\n"));
  ProcessorSampler live;
  EXPECT_TRUE(platform::system::MemoryLoadPercent().has_value());
}

}  // namespace
