// The chain: dispatch, undo on failure, the item-level pass, the counter, rules 1007 and 1013.
#include <gtest/gtest.h>

#include <thread>

#include "HttpFixture.h"
#include "RewriteTestUtil.h"
#include "rewrite/Rewrite.h"

using namespace rwtest;

TEST(RewritePipeline, CounterCountsEveryItemAcrossThreads) {
  const int before = rz::CurrentRewriteCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) rz::NextRewriteCount();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(rz::CurrentRewriteCount(), before + 16000);
  EXPECT_EQ(rz::NextRewriteCount(), before + 16001);
}

TEST(RewritePipeline, RuleNumbers) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"", 0}, {"abc", 0}, {"12", 12}, {"-3", -3}, {" 7", 7}, {"5x", 5}, {"99999999999", 0}};
  for (const auto& c : cases) EXPECT_EQ(rz::RuleNumber(U(c.text)), c.value) << c.text;
}

TEST(RewritePipeline, CutToLengthAndNofollow) {
  const struct {
    const char* id;
    const char* param;
    const char* text;
    const char* expected;
  } cases[] = {
      {"1007", "5", "0123456789", "01234"},
      {"1007", "0", "0123456789", "0123456789"},
      {"1007", "10", "0123456789", "0123456789"},
      {"1007", "11", "0123456789", "0123456789"},
      {"1007", "", "中文内容也一样", "中文内容也一样"},
      {"1007", "2", "中文内容", "中文"},
      {"1013", "", "<a href=x>y</a>", "<a href=x ref=\"nofollow\">y</a>"},
      {"1013", "", "<a href=\"1\">一</a><b>二</b><a href=2>三</a>",
       "<a href=\"1\" ref=\"nofollow\">一</a><b>二</b><a href=2 ref=\"nofollow\">三</a>"},
      {"1013", "", "no links here", "no links here"},
      {"997", "1", "ignored rule", "ignored rule"},
      {"", "", "empty id", "empty id"},
  };
  for (const auto& c : cases) {
    std::u16string text = U(c.text);
    EXPECT_TRUE(rz::ApplyRewriteRules(text, {Rule(c.id, c.param)}, nullptr, 1)) << c.id << " " << c.text;
    EXPECT_EQ(S(text), c.expected) << c.id << " " << c.text;
  }
}

TEST(RewritePipeline, FailingRuleInTheMiddleRestoresTheLabel) {
  rztest::HttpFixture site;
  site.Serve("/broken", rztest::HttpReply{500, {}, "no"});
  const std::string broken = site.Url("/broken");

  std::u16string text = U("第一句。第二句。第三句。");
  const std::u16string before = text;
  const std::vector<rz::LabelOriginal> chain = {Rule("1007", "4"), Rule("1004", broken.c_str(), "x", "post"),
                                                Rule("1013")};
  EXPECT_FALSE(rz::ApplyRewriteRules(text, chain, nullptr, 1));
  EXPECT_EQ(text, before);

  rz::ToData item;
  item.Fields[u"标题"] = U("标题文字很长");
  item.Fields[u"内容"] = before;
  item.Fields[u"PageUrl"] = u"http://127.0.0.1/a.html";
  const std::vector<rz::LabelRule> labels = {
      Label("作者", {}),                // absent, empty chain: added empty
      Label("标题", {Rule("1007", "2")}),  // rewritten before the failure: keeps its new value
      Label("内容", chain),             // fails: back to what it was
      Label("来源", {Rule("1007", "1")}),  // never reached
  };
  EXPECT_FALSE(rz::RewriteItemLabels(item, labels));
  EXPECT_EQ(item.Text, rz::kRewriteFailedMessage);
  EXPECT_EQ(item.Fields[u"作者"], u"");
  EXPECT_EQ(S(item.Fields[u"标题"]), "标题");
  EXPECT_EQ(item.Fields[u"内容"], before);
  EXPECT_EQ(item.Fields.count(u"来源"), 0u);
}

TEST(RewritePipeline, ItemLabelsRunInOrderAndShareTheCounter) {
  rz::RewriteFields fields;
  fields[u"内容"] = U("<a href=1>甲</a>乙丙丁");
  std::u16string message = u"untouched";
  const int before = rz::CurrentRewriteCount();
  ASSERT_TRUE(rz::RewriteItemLabels(fields, {Label("内容", {Rule("1013"), Rule("1007", "20")}),
                                             Label("空", {Rule("1007", "3")})},
                                    &message));
  EXPECT_EQ(S(fields[u"内容"]), "<a href=1 ref=\"nofol");
  EXPECT_EQ(fields[u"空"], u"");
  EXPECT_EQ(message, u"untouched");
  EXPECT_EQ(rz::CurrentRewriteCount(), before + 1);

  // Rule 1009 picks its snippet by the counter: all labels of one item see the same value.
  rz::RewriteFields item;
  item[u"a"] = u"x";
  item[u"b"] = u"y";
  ASSERT_TRUE(rz::RewriteItemLabels(item, {Label("a", {Rule("1009", "A|B|C", "1")}),
                                           Label("b", {Rule("1009", "A|B|C", "1")})}));
  const int counter = rz::CurrentRewriteCount();
  const char16_t expected = u"ABC"[counter % 3];
  EXPECT_EQ(item[u"a"], std::u16string(1, expected) + u"x");
  EXPECT_EQ(item[u"b"], std::u16string(1, expected) + u"y");
}
