// nimbrel-play's own parts: what a source's texts mean to it, latency percentiles.
#include <gtest/gtest.h>

#include "PlayStats.h"
#include "SourceReply.h"

namespace {

TEST(NimbrelPlayPartsTest, SourceTextsGoOnEndOrRefuse) {
  using play::SourceReply;
  struct Case {
    const char* text;
    int code;
    SourceReply reply;
  } cases[] = {
      {"{\"code\":0}", 0, SourceReply::kGoOn},
      {"{\"code\": 4004}", 4004, SourceReply::kGoOn},
      {"{\"action\":\"x\"}", 0, SourceReply::kGoOn},  // no code at all
      {"{\"code\":203}", 203, SourceReply::kNotice},
      {"{\"code\":4001,\"msg\":\"busy\"}", 4001, SourceReply::kNotice},
      {"{\"code\":302}", 302, SourceReply::kEndOfData},
      {"{\"code\":4002}", 4002, SourceReply::kEndOfData},
      {"{\"code\":4003}", 4003, SourceReply::kRefused},
      {"{\"code\":500}", 500, SourceReply::kRefused},
      {"{\"code\":-1}", -1, SourceReply::kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(play::ReplyCode(c.text), c.code) << c.text;
    EXPECT_EQ(play::ClassifyReply(play::ReplyCode(c.text)), c.reply) << c.text;
  }
}

TEST(NimbrelPlayPartsTest, PercentilesPickFromTheSortedValues) {
  EXPECT_EQ(play::Percentile({}, 0.5), 0);
  EXPECT_EQ(play::Percentile({5, 1, 3}, 0.5), 3);
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_EQ(play::Percentile(hundred, 0.99), 99);
  EXPECT_EQ(play::Percentile(hundred, 1.0), 100);
}

}  // namespace
