// rizede-cli combine on a job's own content database file.
#include <gtest/gtest.h>

#include <algorithm>

#include "CliRun.h"
#include "RewriteTestUtil.h"
#include "Sandbox.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"

using namespace rwtest;

namespace {

std::vector<std::u16string> Bodies(rz::ContentDatabase& db) {
  std::vector<std::u16string> out;
  EXPECT_TRUE(db.SelectContent(u""));
  for (long i = 0; i < db.RecordCount(); ++i) {
    rz::FieldMap row;
    EXPECT_TRUE(db.ReadRow(row, i));
    out.push_back(row[U("内容")]);
  }
  db.CloseQuery();
  return out;
}

}  // namespace

TEST(CliCombine, CombinesTheJobsItems) {
  rztest::Sandbox box;
  rz::JobRule job;
  job.JobId = u"j1";
  job.JobName = u"combine";
  for (const char* name : {"标题", "内容"}) {
    rz::LabelRule l;
    l.Id = U(name);
    l.LabelName = U(name);
    job.ContentRex.LabelRex.push_back(l);
  }
  ASSERT_TRUE(rz::SaveJobRule(job));

  rz::DbSettings file;
  file.Type = u"ACCESS";
  file.SqlDb.clear();
  const std::vector<std::string> bodies = {"一。二！", "三？四。", "五。", "六！七。八", "九。", "十。十一。", "十二"};
  std::u16string before;
  {
    rz::ContentDatabase db(file, u"j1");
    ASSERT_TRUE(db.Open(true, {U("标题"), U("内容")})) << S(db.LastError);
    for (const auto& b : bodies) {
      ASSERT_TRUE(db.InsertItem({{u"PageUrl", u"http://127.0.0.1/"}, {U("内容"), U(b)}}));
      before += U(b);
    }
  }
  const std::string root = box.Root().string();
  auto r = rztest::RunCli({"--root", root, "combine", "j1", "--count", "3", "--marks", "。|！|？", "--label",
                           "内容", "--engine", "ACCESS", "--seed", "5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("combined 7 of 7 rows"), std::string::npos) << r.out;

  rz::ContentDatabase db(file, u"j1");
  ASSERT_TRUE(db.Open(false));
  const auto first = Bodies(db);
  std::u16string after;
  for (const auto& b : first) after += b;
  std::u16string a = after, b = before;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);

  const struct {
    std::vector<std::string> args;
    int exit;
    const char* err;
  } cases[] = {
      {{"combine", "j1", "--label", "作者", "--engine", "ACCESS"}, 2, "不存在对应伪原创的标签！"},
      {{"combine", "j1", "--count", "0", "--engine", "ACCESS"}, 2, "一次打乱多少篇填写不正确！"},
      {{"combine", "j1", "--count", "x"}, 2, "一次打乱多少篇填写不正确！"},
      {{"combine", "j1", "--marks", "", "--label", "内容"}, 2, "分隔符填写不正确！"},
      {{"combine", "nojob", "--engine", "ACCESS"}, 1, "no job nojob"},
      {{"combine"}, 2, "usage"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--root", root};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto res = rztest::RunCli(args);
    EXPECT_EQ(res.exitCode, c.exit) << c.err;
    EXPECT_NE(res.err.find(c.err), std::string::npos) << res.err;
  }
  EXPECT_EQ(Bodies(db), first) << "refused runs change nothing";
}
