// Article combination on a job's content database (the "ACCESS" engine: an SQLite file).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "RewriteTestUtil.h"
#include "Sandbox.h"
#include "rewrite/Combine.h"
#include "rewrite/Rewrite.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"

using namespace rwtest;

namespace {

rz::DbSettings FileDb(const std::filesystem::path& file) {
  rz::DbSettings s;
  s.Type = u"ACCESS";
  s.SqlDb = U(file.string());
  return s;
}

void Fill(const rz::DbSettings& settings, const std::vector<std::string>& bodies) {
  rz::ContentDatabase db(settings, u"job");
  ASSERT_TRUE(db.Open(true, {u"标题", U("内容")})) << S(db.LastError);
  for (size_t i = 0; i < bodies.size(); ++i) {
    rz::FieldMap row{{u"PageUrl", U("http://127.0.0.1/" + std::to_string(i))},
                     {U("标题"), U("标题" + std::to_string(i))},
                     {U("内容"), U(bodies[i])}};
    ASSERT_TRUE(db.InsertItem(row));
  }
}

std::vector<std::u16string> Bodies(const rz::DbSettings& settings) {
  rz::ContentDatabase db(settings, u"job");
  EXPECT_TRUE(db.Open(false));
  EXPECT_TRUE(db.SelectContent(u""));
  std::vector<std::u16string> out;
  for (long i = 0; i < db.RecordCount(); ++i) {
    rz::FieldMap row;
    EXPECT_TRUE(db.ReadRow(row, i));
    out.push_back(row[U("内容")]);
  }
  return out;
}

std::u16string Sorted(std::u16string s) {
  std::sort(s.begin(), s.end());
  return s;
}

rz::JobRule JobWithLabels() {
  rz::JobRule job;
  job.JobId = u"job";
  for (const char* name : {"标题", "内容"}) {
    rz::LabelRule l;
    l.LabelName = U(name);
    job.ContentRex.LabelRex.push_back(l);
  }
  return job;
}

const std::vector<std::string> kSeven = {
    "一甲。一乙！一丙？", "二甲。二乙。", "三甲！", "四甲。四乙？四丙。四丁！", "五甲。无标点的结尾",
    "六甲？六乙。", "七甲。七乙！七丙。",
};

}  // namespace

TEST(ArticleCombination, Checks) {
  const rz::JobRule job = JobWithLabels();
  const struct {
    int num;
    const char* marks;
    const char* label;
    const char* message;
  } cases[] = {
      {0, "。", "内容", "一次打乱多少篇填写不正确！"},  {-2, "。", "内容", "一次打乱多少篇填写不正确！"},
      {3, "", "内容", "分隔符填写不正确！"},           {3, "。", "", "伪原创的标签不得为空！"},
      {3, "。", "作者", "不存在对应伪原创的标签！"},  {3, "。|！", "内容", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(S(rz::CheckCombineOptions({c.num, U(c.marks), U(c.label)}, job)), c.message) << c.num << c.label;
}

TEST(ArticleCombination, SentencesAndParts) {
  EXPECT_EQ(rz::CombineSentences(U("一。二！三"), U("。|！")),
            (std::vector<std::u16string>{U("一。"), U("二！"), U("三")}));
  EXPECT_EQ(rz::CombineSentences(U("a.b?c"), U(".|?")), (std::vector<std::u16string>{u"a.", u"b?", u"c"}));
  EXPECT_EQ(rz::DealParts(u"0123456789", 3), (std::vector<std::u16string>{u"012", u"345", u"6789"}));
  EXPECT_EQ(rz::DealParts(u"01", 3), (std::vector<std::u16string>{u"", u"", u"01"}));
  EXPECT_EQ(rz::DealParts(u"", 2), (std::vector<std::u16string>{u"", u""}));
}

TEST(ArticleCombination, SevenRowsInGroupsOfThree) {
  rztest::TempDir dir;
  const auto first = FileDb(dir.Path() / "a.mdb"), second = FileDb(dir.Path() / "b.mdb");
  Fill(first, kSeven);
  Fill(second, kSeven);
  const rz::CombineOptions options{3, U("。|！|？"), U("内容")};

  std::vector<std::u16string> captions, messages;
  std::vector<std::pair<int, int>> progress;
  rz::CombineReport report{[&](const std::u16string& m) { messages.push_back(m); },
                           [&](const std::u16string& c) { captions.push_back(c); },
                           [&](int done, int rows) { progress.emplace_back(done, rows); }};
  rz::SeedRewriteRandom(7);
  const auto result = rz::CombineArticles(first, u"job", options, report);
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.Rows, 7);
  EXPECT_EQ(result.Updated, 7);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(captions, (std::vector<std::u16string>{rz::kCombineStart}));
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{3, 3}, {6, 3}, {7, 1}}));

  const auto after = Bodies(first);
  ASSERT_EQ(after.size(), 7u);
  // No character is lost: each group's rows hold the group's characters, in a new order.
  for (size_t g = 0; g < 7; g += 3) {
    std::u16string before, now;
    for (size_t i = g; i < std::min<size_t>(7, g + 3); ++i) {
      before += U(kSeven[i]);
      now += after[i];
    }
    EXPECT_EQ(Sorted(now), Sorted(before)) << g;
    EXPECT_EQ(now.size(), before.size());
  }
  std::u16string all;
  for (const auto& b : after) all += b;
  EXPECT_NE(all.find(U("无标点的结尾")), std::u16string::npos) << "text after the last mark is kept";

  // The same seed gives the same result.
  rz::SeedRewriteRandom(7);
  EXPECT_TRUE(rz::CombineArticles(second, u"job", options, {}).Ok);
  EXPECT_EQ(Bodies(second), after);

  // The last group holds one row; its own sentences are shuffled.
  std::set<std::u16string> lastRow;
  for (unsigned seed = 1; seed < 12; ++seed) {
    rz::SeedRewriteRandom(seed);
    ASSERT_TRUE(rz::CombineArticles(first, u"job", options, {}).Ok);
    const auto round = Bodies(first);
    EXPECT_EQ(Sorted(round[6]), Sorted(U(kSeven[6])));
    lastRow.insert(round[6]);
  }
  EXPECT_GT(lastRow.size(), 1u);
}

TEST(ArticleCombination, FailuresAndTheDialogWorker) {
  rztest::Sandbox box;
  std::vector<std::u16string> captions, messages;
  rz::CombineReport report{[&](const std::u16string& m) { messages.push_back(m); },
                           [&](const std::u16string& c) { captions.push_back(c); }, nullptr};
  rz::DbSettings broken;
  broken.Type = u"SQL Server";
  const auto result = rz::CombineArticles(broken, u"job", {3, U("。"), U("内容")}, report);
  EXPECT_FALSE(result.Ok);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(S(messages[0]).find("SQL Server"), std::string::npos);
  EXPECT_EQ(captions, (std::vector<std::u16string>{rz::kCombineStart}));

  // The button: checks first, then a worker thread; the settings keep the values.
  const auto db = FileDb(box / "c.mdb");
  Fill(db, kSeven);
  const rz::JobRule job = JobWithLabels();
  rz::CArticleCombiner combiner;
  messages.clear();
  captions.clear();
  combiner.Press(db, job, {3, U("。"), U("作者")}, report);
  EXPECT_EQ(messages, (std::vector<std::u16string>{U("不存在对应伪原创的标签！")}));
  EXPECT_TRUE(captions.empty());
  messages.clear();
  combiner.Press(db, job, {2, U("。|！"), U("内容")}, report);
  combiner.Wait();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(captions, (std::vector<std::u16string>{rz::kCombinePause, rz::kCombineStart}));
  EXPECT_EQ(combiner.CaptionText(), rz::kCombineStart);
  EXPECT_EQ(rz::GlobalSettings().ArticleNumEx, 2);
  EXPECT_EQ(S(rz::GlobalSettings().ArticleSplit), "。|！");
  rz::AppSettings saved;
  ASSERT_TRUE(rz::LoadSettings(saved));
  EXPECT_EQ(saved.ArticleNumEx, 2);
}
