// The forced upgrade: a job's "ACCESS" file moved to the suite's MariaDB server.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "MariaDbFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "storage/Conversion.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace fs = std::filesystem;

namespace {

using pcutil::Format;
using rz::ContentDatabase;
using rz::FieldMap;

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = rztest::MariaDb::Settings();
    access_.Type = u"ACCESS";
    access_.SqlDb.clear();
    site_ = store_.AddSite(u"s1", u"站点");
  }

  // A job file with labels 标题 and 内容, entered in the index under site s1.
  void AddJob(const std::u16string& id, const std::u16string& name) {
    rz::JobRule rule;
    rule.JobId = id;
    rule.JobName = name;
    rule.SiteId = u"s1";
    rule.SiteName = u"站点";
    for (const char16_t* label : {u"标题", u"内容"}) {
      rz::LabelRule l;
      l.Id = label;
      l.LabelName = label;
      rule.ContentRex.LabelRex.push_back(l);
    }
    ASSERT_TRUE(rz::SaveJobRule(rule));
    site_->AddJob(id)->JobName = name;
  }

  // Fills a job's Access database: items and downloaded files.
  void FillAccess(const std::u16string& id, int items, int downloads) {
    ContentDatabase db(access_, id);
    ASSERT_TRUE(db.Open(true, {u"标题", u"内容"})) << U8(db.LastError);
    for (int i = 1; i <= items; ++i)
      ASSERT_TRUE(db.InsertItem({{u"PageUrl", Format(u"http://a.example/%d", i)},
                                 {u"已采", u"1"},
                                 {u"已发", i == 1 ? u"1" : u"0"},
                                 {u"标题", Format(u"标题%d", i)},
                                 {u"内容", Format(u"it's 内容 %d \\", i)}}));
    for (int i = 1; i <= downloads; ++i)
      ASSERT_TRUE(db.AddDownload({Format(u"http://a.example/%d.jpg", i), u"http://a.example/1",
                                  Format(u"/srv/%d.jpg", i), u"/Image/x.jpg", 1, i % 2, u"内容"}));
    // Rows that were deleted leave gaps: the copies get new ids anyway.
    ASSERT_TRUE(db.InsertItem({{u"PageUrl", u"gone"}}));
    ASSERT_TRUE(db.DeleteByPageUrl(u"gone"));
  }

  // Every job read from its file names its Access database, except the listed ones.
  rz::ConversionHooks Hooks(std::vector<std::u16string>* statuses,
                            std::vector<std::u16string> onServer = {}) {
    rz::ConversionHooks hooks;
    hooks.Status = [statuses](const std::u16string& s) { statuses->push_back(s); };
    hooks.AfterRead = [this, onServer](rz::JobRule& rule) {
      if (std::find(onServer.begin(), onServer.end(), rule.JobId) == onServer.end())
        rule.DbSettings = access_;
      else
        rule.DbSettings = target_;
    };
    return hooks;
  }

  std::vector<FieldMap> TargetRows(const std::u16string& id, bool downloads = false) {
    ContentDatabase db(target_, id);
    EXPECT_TRUE(db.Open(false));
    EXPECT_TRUE(downloads ? db.SelectDownloads(u"order by ID") : db.SelectContent(u"order by ID"));
    std::vector<FieldMap> rows;
    for (long i = 0, n = db.RecordCount(); i < n; ++i) {
      FieldMap r;
      if (db.ReadRow(r)) rows.push_back(r);
      db.NextRow();
    }
    return rows;
  }

  rztest::Sandbox sandbox_;
  rz::SiteStore store_;
  std::shared_ptr<rz::SiteEntry> site_;
  rz::DbSettings target_, access_;
};

TEST_F(Conversion, MovesAccessJobsToTheServerAndNamesItInTheSettings) {
  static int counter = 0;
  const std::u16string a = Format(u"conv-a-%d-%d", static_cast<int>(getpid()), ++counter);
  const std::u16string same = Format(u"conv-s-%d-%d", static_cast<int>(getpid()), counter);
  const std::u16string empty = Format(u"conv-e-%d-%d", static_cast<int>(getpid()), counter);
  AddJob(a, u"任务A");
  AddJob(same, u"任务S");
  AddJob(empty, u"任务E");
  site_->AddJob(u"no-file")->JobName = u"没有文件";
  FillAccess(a, 3, 2);
  FillAccess(empty, 0, 1);

  // The target already holds a row of job A: copies are appended with new ids.
  {
    ContentDatabase pre(target_, a);
    ASSERT_TRUE(pre.Open(true, {u"标题", u"内容"})) << U8(pre.LastError);
    ASSERT_TRUE(pre.InsertItem({{u"PageUrl", u"before"}, {u"标题", u"早先"}}));
  }
  const std::string sameFileBefore = rztest::ReadFile(sandbox_ / ("Data/Job/" + U8(same) + ".xml"));

  std::vector<std::u16string> statuses;
  rz::AppSettings settings;
  settings.DBTYPE = u"ACCESS";
  ASSERT_TRUE(rz::ConvertDatabases(store_, settings, target_, Hooks(&statuses, {same})));

  const std::vector<std::u16string> expected = {
      u"转移任务AContent表数据,完成数:1/3",
      u"转移任务AContent表数据,完成数:2/3",
      u"转移任务AContent表数据,完成数:3/3",
      u"转移DownloadFile表数据,完成数:1/2",
      u"转移DownloadFile表数据,完成数:2/2",
      u"任务A转换已完成",
      u"任务S转换已完成",
      // No rows: no progress line for Content; its download row is still copied.
      u"转移DownloadFile表数据,完成数:1/1",
      u"任务E转换已完成",
      u"升级数据库成功！",
  };
  EXPECT_EQ(statuses, expected);

  auto rows = TargetRows(a);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][u"标题"], u"早先");
  for (int i = 1; i <= 3; ++i) {
    FieldMap& r = rows[static_cast<size_t>(i)];
    EXPECT_EQ(r[u"标题"], Format(u"标题%d", i));
    EXPECT_EQ(r[u"内容"], Format(u"it's 内容 %d \\", i));
    EXPECT_EQ(r[u"PageUrl"], Format(u"http://a.example/%d", i));
    EXPECT_EQ(r[u"已采"], u"1");
    EXPECT_EQ(r[u"已发"], i == 1 ? u"1" : u"0");
    EXPECT_GT(std::stoi(U8(r[u"ID"])), std::stoi(U8(rows[0][u"ID"])));
  }
  auto files = TargetRows(a, true);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0][u"SaveUrl"], u"/srv/1.jpg");
  EXPECT_EQ(files[0][u"Upload"], u"1");
  EXPECT_EQ(files[1][u"Upload"], u"0");
  EXPECT_EQ(files[1][u"labelId"], u"内容");
  EXPECT_EQ(TargetRows(empty, true).size(), 1u);

  // The old files are gone, the rule files name the target, the settings too.
  EXPECT_FALSE(fs::exists(sandbox_ / ("DB/" + U8(a) + "/Default.mdb")));
  EXPECT_FALSE(fs::exists(sandbox_ / ("DB/" + U8(empty) + "/Default.mdb")));
  const std::string ruleFile = rztest::ReadFile(sandbox_ / ("Data/Job/" + U8(a) + ".xml"));
  const std::string from = ruleFile.substr(ruleFile.find("<From>"));
  EXPECT_NE(from.find(U8(target_.Port)), std::string::npos) << from.substr(0, 300);
  EXPECT_EQ(rztest::ReadFile(sandbox_ / ("Data/Job/" + U8(same) + ".xml")), sameFileBefore);
  rz::AppSettings saved;
  ASSERT_TRUE(rz::LoadSettings(saved));
  EXPECT_EQ(saved.Database(), target_);
  EXPECT_EQ(settings.Database(), target_);
}

TEST_F(Conversion, FailureCases) {
  static int counter = 0;
  const std::u16string noDb = Format(u"conv-n-%d-%d", static_cast<int>(getpid()), ++counter);
  const std::u16string noTables = Format(u"conv-t-%d-%d", static_cast<int>(getpid()), counter);
  const std::u16string last = Format(u"conv-l-%d-%d", static_cast<int>(getpid()), counter);
  AddJob(noDb, u"无库");
  AddJob(noTables, u"无表");
  AddJob(last, u"最后");
  FillAccess(last, 1, 0);
  // An old database without tables (an empty database file of ours).
  {
    rz::CAdo ado;
    fs::create_directories(sandbox_ / ("DB/" + U8(noTables)));
    ASSERT_TRUE(ado.CreateAccessDatabase(
        pcutil::U16((sandbox_ / ("DB/" + U8(noTables) + "/Default.mdb")).string().c_str())));
    ado.SetType(u"ACCESS");
    rz::DbSettings s = access_;
    s.SqlDb = pcutil::U16((sandbox_ / ("DB/" + U8(noTables) + "/Default.mdb")).string().c_str());
    ASSERT_TRUE(ado.Open(s));
    ASSERT_TRUE(ado.Execute(u"CREATE TABLE Other (X TEXT)"));
  }

  // A target that cannot be reached ends the worker at the first job to move.
  {
    std::vector<std::u16string> statuses;
    rz::AppSettings settings;
    rz::DbSettings unreachable = target_;
    unreachable.Port = pcutil::U16(std::to_string(rztest::MariaDb::FreePort()).c_str());
    EXPECT_FALSE(rz::ConvertDatabases(store_, settings, unreachable, Hooks(&statuses)));
    EXPECT_EQ(statuses, std::vector<std::u16string>{u"创建无库的数据库失败"});
    EXPECT_FALSE(fs::exists(sandbox_ / "User/Cfg.xml"));
  }

  // A job without an old database goes by silently; one whose tables cannot be read says so;
  // the rest is converted.
  std::vector<std::u16string> statuses;
  rz::AppSettings settings;
  ASSERT_TRUE(rz::ConvertDatabases(store_, settings, target_, Hooks(&statuses)));
  EXPECT_EQ(statuses, (std::vector<std::u16string>{u"打开无表的旧数据库表失败",
                                                   u"转移最后Content表数据,完成数:1/1",
                                                   u"最后转换已完成", u"升级数据库成功！"}));
  // Both had their rule files rewritten, and the unreadable old database stays.
  EXPECT_NE(rztest::ReadFile(sandbox_ / ("Data/Job/" + U8(noDb) + ".xml")).find(U8(target_.Port)),
            std::string::npos);
  EXPECT_TRUE(fs::exists(sandbox_ / ("DB/" + U8(noTables) + "/Default.mdb")));
  EXPECT_EQ(TargetRows(last).size(), 1u);

  // An abort ends the worker before the next job; the settings stay.
  statuses.clear();
  rz::AppSettings untouched;
  rz::ConversionHooks hooks = Hooks(&statuses);
  hooks.KeepGoing = [] { return false; };
  EXPECT_FALSE(rz::ConvertDatabases(store_, untouched, target_, hooks));
  EXPECT_TRUE(statuses.empty());
  EXPECT_EQ(untouched, rz::AppSettings());
}

}  // namespace
