// Synonyms, paragraphs, random lines and sentences.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "RewriteTestUtil.h"
#include "Sandbox.h"
#include "rewrite/Rewrite.h"
#include "rewrite/Rules.h"

using namespace rwtest;

namespace {

rz::SynonymList Groups(std::initializer_list<const char*> lines) {
  rz::SynonymList list;
  for (const char* line : lines) {
    std::vector<std::u16string> words;
    pcutil::Split(U(line), u"|", words);
    list.push_back(words);
  }
  return list;
}

// Runs `rule` over `text` with many seeds and collects the distinct results.
template <typename F>
std::set<std::string> Outcomes(const std::u16string& text, F rule, int runs = 60) {
  std::set<std::string> seen;
  for (int seed = 1; seed <= runs; ++seed) {
    rz::SeedRewriteRandom(static_cast<unsigned>(seed));
    std::u16string t = text;
    EXPECT_TRUE(rule(t));
    seen.insert(S(t));
  }
  return seen;
}

}  // namespace

TEST(SynonymRules, ReplacementTable) {
  const auto happy = Groups({"快乐|高兴|开心"});
  const struct {
    const char* text;
    bool oneWay;
    std::set<std::string> expected;
  } cases[] = {
      // 高兴 occurs, 快乐 does not: every 高兴 becomes one other word of the group.
      {"今天高兴，明天也高兴", false, {"今天快乐，明天也快乐", "今天开心，明天也开心"}},
      // 快乐 comes first in the group: only it is replaced.
      {"快乐又高兴", false, {"高兴又高兴", "开心又高兴"}},
      // One-way lists use only a group's first word.
      {"只是高兴", true, {"只是高兴"}},
      {"很快乐", true, {"很高兴", "很开心"}},
      {"没有同义词", false, {"没有同义词"}},
  };
  for (const auto& c : cases) {
    auto seen = Outcomes(U(c.text), [&](std::u16string& t) {
      rz::ReplaceSynonyms(t, happy, c.oneWay);
      return true;
    });
    EXPECT_EQ(seen, c.expected) << c.text;
  }

  // Later groups see what earlier ones put in; single-word groups change nothing.
  std::u16string text = u"a b";
  rz::ReplaceSynonyms(text, Groups({"a|x", "x|y", "b"}), false);
  EXPECT_EQ(text, u"y b");
  text = u"glad";
  rz::ReplaceSynonyms(text, Groups({"happy|glad"}), true);
  EXPECT_EQ(text, u"glad");
  rz::ReplaceSynonyms(text, Groups({"happy|glad"}), false);
  EXPECT_EQ(text, u"happy");
}

TEST(SynonymRules, ListsAreReadOnceAndAFailedReadIsRetried) {
  rztest::Sandbox box;
  rz::ResetSynonymCaches();
  std::filesystem::remove(box / "System/中文同义词库.txt");
  std::filesystem::remove(box / "System/英文同义词库.txt");

  std::u16string text = U("高兴");
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("999")}, nullptr, 1));  // no list: the rule fails
  EXPECT_EQ(S(text), "高兴");
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("998")}, nullptr, 1));

  rztest::WriteFile(box / "User/中文同义词库.txt", pcutil::EncodeCharset(U("快乐|高兴\r\n"), "gbk"));
  rztest::WriteFile(box / "User/英文同义词库.txt", "happy|glad\r\n");
  // Several workers asking at once get the one list.
  std::vector<std::shared_ptr<const rz::SynonymList>> got(6);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < got.size(); ++i) threads.emplace_back([&, i] { got[i] = rz::SynonymCache(0); });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(got[0]);
  for (const auto& g : got) EXPECT_EQ(g.get(), got[0].get());

  EXPECT_TRUE(rz::ApplyRewriteRules(text, {Rule("999")}, nullptr, 1));
  EXPECT_EQ(S(text), "快乐");
  std::u16string english = u"so glad";
  EXPECT_TRUE(rz::ApplyRewriteRules(english, {Rule("998", "", "1")}, nullptr, 1));
  EXPECT_EQ(english, u"so glad");
  EXPECT_TRUE(rz::ApplyRewriteRules(english, {Rule("998", "", "0")}, nullptr, 1));
  EXPECT_EQ(english, u"so happy");

  // Loaded once per run: a changed file is not read again.
  rztest::WriteFile(box / "User/中文同义词库.txt", pcutil::EncodeCharset(U("快乐|愉快\r\n"), "gbk"));
  text = U("快乐");
  EXPECT_TRUE(rz::ChineseSynonymRule(text));
  EXPECT_EQ(S(text), "高兴");
  rz::ResetSynonymCaches();
}

TEST(ParagraphRules, SplitShuffleDeleteInsert) {
  std::vector<std::u16string> parts;
  ASSERT_TRUE(rz::SplitParagraphs(u"a</P>b</p>c", u"", true, parts));
  EXPECT_EQ(parts, (std::vector<std::u16string>{u"a</P>", u"b</P>", u"c</P>"}));
  ASSERT_TRUE(rz::SplitParagraphs(U("一<br>二<BR>三"), u"<br>", false, parts));
  EXPECT_EQ(parts, (std::vector<std::u16string>{U("一"), U("二"), U("三")}));
  ASSERT_TRUE(rz::SplitParagraphs(u"", u"", true, parts));
  EXPECT_TRUE(parts.empty());

  auto shuffled = Outcomes(u"a</P>b</p>c", [](std::u16string& t) { return rz::ShuffleParagraphs(t, u""); });
  EXPECT_EQ(shuffled.size(), 6u);  // every order turns up
  for (const auto& s : shuffled) {
    std::string sorted = s;
    std::sort(sorted.begin(), sorted.end());
    std::string expected = "a</P>b</P>c</P>";
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected) << s;
  }
  std::u16string empty;
  EXPECT_TRUE(rz::ApplyRewriteRules(empty, {Rule("1000")}, nullptr, 1));
  EXPECT_EQ(empty, u"");

  const std::u16string three = U("<p>一</p><p>二</p><p>三</p>");
  for (const char* n : {"3", "4"}) {
    std::u16string t = three;
    EXPECT_TRUE(rz::ApplyRewriteRules(t, {Rule("1001", "</p>", n)}, nullptr, 1));
    EXPECT_EQ(t, three) << n;
  }
  auto deleted = Outcomes(three, [](std::u16string& t) { return rz::DeleteParagraphs(t, u"</p>", 2); });
  EXPECT_EQ(deleted, (std::set<std::string>{"<p>一</P>", "<p>二</P>", "<p>三</P>"}));

  std::u16string many;
  for (int i = 0; i < 25; ++i) many += U("<p>段</p>");
  size_t most = 0;
  for (int seed = 1; seed <= 80; ++seed) {
    rz::SeedRewriteRandom(static_cast<unsigned>(seed));
    std::u16string t = many;
    ASSERT_TRUE(rz::ApplyRewriteRules(t, {Rule("1002", "[插入]")}, nullptr, 1));
    most = std::max(most, Count(t, U("[插入]")));
    EXPECT_EQ(Count(t, u"</P>"), 25u);
  }
  EXPECT_EQ(most, 2u);  // a tenth of 25 paragraphs, reached by some seed
  auto small = Outcomes(U("<p>一</p><p>二</p>"), [](std::u16string& t) { return rz::InsertAfterParagraphs(t, u"#"); });
  EXPECT_EQ(small, (std::set<std::string>{"<p>一</P><p>二</P>", "<p>一</P>#<p>二</P>", "<p>一</P><p>二</P>#"}));
}

TEST(LineAndSentenceRules, RandomLineAndSentence) {
  EXPECT_EQ(Outcomes(u"x", [](std::u16string& t) { return rz::RandomLine(t, U("只有一行\r\n")); }),
            (std::set<std::string>{"只有一行\r\n"}));
  EXPECT_EQ(Outcomes(u"x", [](std::u16string& t) { return rz::RandomLine(t, U("甲\r\n\r\n乙")); }),
            (std::set<std::string>{"甲", "乙"}));
  EXPECT_EQ(Outcomes(u"x", [](std::u16string& t) { return rz::RandomLine(t, u"\r\n"); }),
            (std::set<std::string>{""}));

  rz::RewriteFields item;
  item[U("内容")] = U("第一句。 <b>第二句</b>！第三句。尾巴");
  const struct {
    const char* label;
    const char* limit;
    const char* marks;
    std::set<std::string> expected;
  } cases[] = {
      {"内容", "0", "。|！", {"第一句。", "第二句！", "第三句。", "尾巴"}},
      {"[DB:内容]", "", "。|！", {"第一句。", "第二句！", "第三句。", "尾巴"}},
      {"[DB:内容]", "2", "。|！", {"第一", "第二", "第三", "尾巴"}},
      {"内容", "0", "", {"第一句。 第二句！第三句。尾巴"}},
      {"没有", "0", "。", {""}},
  };
  for (const auto& c : cases) {
    auto seen = Outcomes(U("原来的文字"), [&](std::u16string& t) {
      return rz::ApplyRewriteRules(t, {Rule("1010", c.label, c.limit, c.marks)}, &item, 1);
    });
    EXPECT_EQ(seen, c.expected) << c.label << " " << c.marks;
  }
  EXPECT_EQ(S(rz::SentenceMarkPattern(U("。|！|.|"))), "(。)|(！)|(\\.)");
}
