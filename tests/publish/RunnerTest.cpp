// The publish runner end to end: items of a content database (SQLite and MariaDB) sent to the
// fixture CMS, to MariaDB and SQLite targets through database modules, to CSV/TXT/HTML files,
// with their downloaded files uploaded by FTP; every result code and its log line; selection
// by PublishMaxCount and PublishOrder; stopping; the delivery journal.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "FixtureCms.h"
#include "FtpFixture.h"
#include "MariaDbFixture.h"
#include "PublishDriver.h"
#include "PublishFixtures.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "publish/RunnerStep.h"
#include "storage/Ado.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;

namespace {

using namespace rz;
using pcutil::Format;
using pcutil::U16;
using rztest::FixtureCms;

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

// Text that must arrive unchanged everywhere.
const std::u16string kHostile = u"it's \\ back\\' \"q\" '; DROP TABLE x;-- 😀 中文\r\n第二行";
const std::u16string kCollected = u"已采", kPublished = u"已发";

std::vector<FieldMap> Rows(CAdo& db, const std::u16string& sql) {
  std::vector<FieldMap> rows;
  if (!db.Query(sql)) return rows;
  const long n = db.RecordCount();
  for (long i = 0; i < n; ++i) {
    std::vector<std::u16string> names, values;
    if (!db.GetRow(i, names, values)) break;
    FieldMap row;
    for (size_t c = 0; c < names.size(); ++c) row[names[c]] = values[c];
    rows.push_back(row);
  }
  db.CloseQuery();
  return rows;
}

class PublishRunner : public ::testing::TestWithParam<std::u16string> {
 protected:
  void SetUp() override {
    static int counter = 0;
    jobId_ = Format(u"2026-12-11-%d-%d", static_cast<int>(getpid()), ++counter);
    if (GetParam() == u"MySql") {
      content_ = rztest::MariaDb::Settings();
    } else {
      content_.Type = u"ACCESS";
      content_.SqlDb.clear();
    }
    GlobalSettings().OrigType = 0;
    db_ = std::make_unique<ContentDatabase>(content_, jobId_);
    ASSERT_TRUE(db_->Open(true, {u"标题", u"内容"})) << U8(db_->LastError);
  }
  void TearDown() override {
    if (db_ && db_->IsMySql()) db_->DropTables();
  }

  // Inserts collected, unpublished items; returns their ids in insertion order.
  std::vector<std::u16string> AddItems(int n, const std::u16string& title = u"标题%d") {
    std::vector<std::u16string> ids;
    for (int i = 0; i < n; ++i) {
      const std::u16string page = Format(u"http://src.example/%d/%d", ++pages_, i);
      EXPECT_TRUE(db_->InsertItem({{u"PageUrl", page},
                                   {u"标题", Format(title, i)},
                                   {u"内容", Format(u"<p>正文%d /Image/a%d.jpg</p>", i, i)},
                                   {kCollected, u"1"},
                                   {kPublished, u"0"}}))
          << U8(db_->LastError);
      EXPECT_TRUE(db_->SelectContent(Format(u"where PageUrl='%s'", page)));
      FieldMap row;
      db_->ReadRow(row);
      db_->CloseQuery();
      ids.push_back(row[u"ID"]);
    }
    return ids;
  }
  int Unpublished() {
    EXPECT_TRUE(db_->SelectForPublish(0, 0));
    const int n = static_cast<int>(db_->RecordCount());
    db_->CloseQuery();
    return n;
  }
  JobRulePtr Job() { return rztest::BasicJob(jobId_); }
  rztest::PublishRun Run(const JobRulePtr& job,
                         const std::function<void(CPublishThread&, int)>& onFed = {}) {
    rztest::PublishDriver driver;
    return driver.Run(job, content_, onFed);
  }
  PublishTarget LocalTarget(const std::u16string& format) {
    PublishTarget t;
    t.ModuleName = format;
    t.ModuleType = u"LocalFile";
    t.LocalPath = U16(out_.Path().string().c_str());
    t.ContentTmpl = format == u"csv" ? u"[DB:标题],[DB:内容]" : u"<h1>[DB:标题]</h1>[DB:内容]";
    t.FileNameTmpl = u"item-[DB:ID]";
    return t;
  }

  rztest::QuietPauses quiet_;
  rztest::Sandbox sandbox_;
  // A new SQLite target file in the output folder, made with `statements`; `lite` is left
  // closed and set to the file's engine. Returns the settings that open it.
  DbSettings SqliteTarget(const std::string& file, CAdo& lite,
                          const std::vector<std::u16string>& statements) {
    DbSettings settings;
    settings.Type = u"ACCESS";
    settings.SqlDb = U16((out_.Path() / file).string().c_str());
    lite.SetType(settings.Type);
    EXPECT_TRUE(lite.CreateAccessDatabase(settings.SqlDb));
    EXPECT_TRUE(lite.Open(settings));
    for (const auto& sql : statements) EXPECT_TRUE(lite.Query(sql)) << U8(sql);
    lite.Close();
    return settings;
  }

  rztest::TempDir out_;
  std::u16string jobId_;
  DbSettings content_;
  std::unique_ptr<ContentDatabase> db_;
  int pages_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Engines, PublishRunner, ::testing::Values(u"ACCESS", u"MySql"),
                         [](const auto& info) { return U8(info.param); });

TEST_P(PublishRunner, EveryDestinationGetsHostileTextByteExact) {
  FixtureCms cms;
  rztest::FtpFixture ftp;
  ASSERT_TRUE(SaveModule(kModuleFolderPost, rztest::CmsModule()));

  // Database targets: a MariaDB database and an SQLite file, each with a bystander table x.
  const DbSettings maria = rztest::MariaDb::Settings();
  rztest::ScratchSchema scratch(u"pubt_");
  ASSERT_TRUE(scratch.Ok());
  const std::u16string& schema = scratch.Name();
  DbSettings target = maria;
  target.SqlDb = schema;
  CAdo mdb;
  mdb.SetType(u"MySql");
  ASSERT_TRUE(mdb.Open(target));
  ASSERT_TRUE(mdb.Execute(u"CREATE TABLE x (a int)"));
  ASSERT_TRUE(mdb.Execute(
      u"CREATE TABLE t_article (id int auto_increment primary key, title longtext, body longtext, "
      u"url text) CHARSET=utf8mb4"));
  ASSERT_TRUE(mdb.Execute(u"CREATE TABLE t_body (aid int, body longtext) CHARSET=utf8mb4"));
  CAdo lite;
  const DbSettings liteSettings = SqliteTarget(
      "target.db", lite,
      {u"CREATE TABLE x (a int)",
       u"CREATE TABLE t_article (id autoincrement(1,1) primary key, title text, body text, url text)"});
  const std::u16string& litePath = liteSettings.SqlDb;

  PublishModule dbModule;
  dbModule.Name = u"generic-test";
  dbModule.Type = u"MySql";
  dbModule.SqlValue = {
      u"insert into 数据表前缀article(title,body,url) values('[DB:标题]','[DB:内容]','[采集页面地址]')",
      u"",
      u"insert into 数据表前缀body(aid,body) values([文章编号:数据表前缀article],'[DB:标题]')"};
  ASSERT_TRUE(SaveModule(kModuleFolderDb, dbModule));
  PublishModule liteModule = dbModule;
  liteModule.Name = u"generic-lite";
  liteModule.SqlValue.resize(1);
  ASSERT_TRUE(SaveModule(kModuleFolderDb, liteModule));

  const auto ids = AddItems(1, kHostile);
  AddItems(2);
  // One downloaded image of the first item.
  const fs::path image = out_.Path() / "img.jpg";
  rztest::WriteFile(image, "JPEGDATA");
  DownloadRow row;
  row.DownloadUrl = u"http://src.example/a0.jpg";
  row.PageUrl = u"http://src.example/1/0";
  row.SaveUrl = U16(image.string().c_str());
  row.ReplaceUrl = u"/Image/a0.jpg";
  row.State = 1;
  ASSERT_TRUE(db_->AddDownload(row));

  JobRulePtr job = Job();
  job->EnableWebPublish = 1;
  job->WebPublish = {rztest::CmsTarget(cms)};
  job->EnableLocalFile = 1;
  job->LocalFilePublish = LocalTarget(u"csv");
  job->EnableDB = 1;
  const PublishTarget mt = rztest::MariaDbTarget(u"generic-test", schema, u"t_");
  PublishTarget lt;
  lt.ModuleName = u"generic-lite";
  lt.ModuleType = u"ACCESS";
  lt.SqlDb = litePath;
  lt.TablePre = u"t_";
  job->DBPublish = {mt, lt};
  job->EnableFtp = 1;
  job->FtpServer = U16(ftp.Host().c_str());
  job->FtpPort = Format(u"%d", ftp.Port());
  job->FtpUserName = U16(rztest::FtpFixture::kUser);
  job->FtpPassword = U16(rztest::FtpFixture::kPassword);
  job->FtpDir = u"/site";
  job->UsePassive = u"1";
  job->FileWebDir = u"http://img.example/up/";

  const rztest::PublishRun run = Run(job);
  ASSERT_TRUE(run.Started) << U8(run.StartMessage);
  EXPECT_EQ(run.Selected, 3);
  ASSERT_EQ(run.Results.size(), 12u);  // 3 items x 4 destinations
  for (const ToData& r : run.Results)
    EXPECT_TRUE(r.ResultCode == kPublishWebOk || r.ResultCode == kPublishFileSaved ||
                r.ResultCode == kPublishDbDone)
        << r.ResultCode << " " << U8(r.Text);
  EXPECT_EQ(run.Tally.Processed, 12);
  EXPECT_EQ(run.Tally.Failed, 0);
  EXPECT_EQ(Unpublished(), 0);

  // The web site got the text as it was, with the image address rewritten.
  const std::string hostile = U8(kHostile);
  const auto accepted = cms.Accepted();
  ASSERT_EQ(accepted.size(), 3u);
  bool seen = false;
  for (const auto& a : accepted)
    if (a.Form.at("title") == hostile) {
      seen = true;
      EXPECT_EQ(a.Form.at("body"), "<p>正文0 http://img.example/up/Image/a0.jpg</p>");
    }
  EXPECT_TRUE(seen);
  // The image went to FtpDir + its folder, once, and is recorded as uploaded.
  EXPECT_EQ(rztest::ReadFile(ftp.Root() / "site" / "Image" / "a0.jpg"), "JPEGDATA");
  ASSERT_TRUE(db_->SelectDownloads(u""));
  FieldMap d;
  db_->ReadRow(d);
  db_->CloseQuery();
  EXPECT_EQ(U8(d[u"Upload"]), "1");

  // MariaDB: the article and its second table linked by the new key.
  auto articles = Rows(mdb, u"select a.id, a.title, a.url, b.aid, b.body from t_article a join t_body b on b.aid=a.id order by a.id");
  ASSERT_EQ(articles.size(), 3u);
  std::set<std::string> titles;
  for (auto& a : articles) {
    titles.insert(U8(a[u"title"]));
    EXPECT_EQ(a[u"title"], a[u"body"]);
  }
  EXPECT_TRUE(titles.count(hostile));
  EXPECT_EQ(Rows(mdb, u"show tables").size(), 3u);  // x still there, nothing added
  // SQLite target.
  ASSERT_TRUE(lite.Open(liteSettings));
  auto liteRows = Rows(lite, u"select title from t_article");
  ASSERT_EQ(liteRows.size(), 3u);
  titles.clear();
  for (auto& a : liteRows) titles.insert(U8(a[u"title"]));
  EXPECT_TRUE(titles.count(hostile));
  EXPECT_EQ(Rows(lite, u"select name from sqlite_master where type='table' and name='x'").size(), 1u);
  lite.Close();

  // CSV: GBK text, the hostile title in one quoted field with its quotes doubled.
  const std::string csv = rztest::ReadFile(out_.Path() / "发布测试.csv");
  const std::string text = U8(pcutil::LocalToUtf16(csv));
  std::string quoted = U8(pcutil::ReplaceAll(pcutil::ReplaceAll(kHostile, u"\r\n", u"\n"), u"\"", u"\"\""));
  quoted = U8(pcutil::ReplaceAll(U16(quoted.c_str()), u"\n", u"\"\r\n\""));
  EXPECT_NE(text.find("\"" + quoted + "\""), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);  // 3 rows, one with a line break

  // Published items are not selected again.
  const rztest::PublishRun again = Run(job);
  EXPECT_EQ(again.Selected, 0);
}

TEST_P(PublishRunner, ResultCodesAndLogLines) {
  FixtureCms cms;
  ASSERT_TRUE(SaveModule(kModuleFolderPost, rztest::CmsModule()));
  auto ids = AddItems(1, u"UNKNOWN %d");     // 5
  auto fail = AddItems(1, u"FAIL %d");       // 4
  auto good = AddItems(1, u"");              // 1 with an empty title: the address is logged
  JobRulePtr job = Job();
  job->EnableWebPublish = 1;
  job->WebPublish = {rztest::CmsTarget(cms)};
  job->PublishThreadCount = 1;
  rztest::PublishRun run = Run(job);
  ASSERT_EQ(run.Results.size(), 3u);
  std::map<int, std::u16string> lines;
  for (size_t i = 0; i < run.Results.size(); ++i) lines[run.Results[i].ResultCode] = run.Log[i];
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(U8(lines[kPublishWebOk]),
            "发布内容--成功发布内容：<a href=\"http://src.example/3/0\" target=\"_blank\">http://src.example/3/0</a>");
  for (int code : {kPublishUnknown, kPublishPostFailed}) {
    const std::string line = U8(lines[code]);
    const std::string head = code == kPublishUnknown ? "<font color=\"red\">发布内容--发布内容是否成功未知：<a href=\"file:///"
                                                     : "<font color=\"red\">发布内容--发布内容失败：<a href=\"file:///";
    ASSERT_EQ(line.rfind(head, 0), 0u) << line;
    const std::string path = "/" + line.substr(head.size(), line.find('"', head.size()) - head.size());
    EXPECT_NE(path.find("/DB/" + U8(jobId_) + "/WebPostLog/"), std::string::npos);
    EXPECT_TRUE(fs::exists(path)) << path;  // the detail file with the server's answer
  }
  EXPECT_EQ(run.Tally.Processed, 3);
  EXPECT_EQ(run.Tally.Published, 1);
  EXPECT_EQ(run.Tally.Failed, 2);
  // 4 and 5 stay for the next run.
  EXPECT_EQ(Unpublished(), 2);

  // Login failure (2) and a broken random value (11) write detail files too.
  job->WebPublish[0].SqlPsw = u"wrong";
  run = Run(job);
  ASSERT_EQ(run.Results.size(), 2u);
  for (const ToData& r : run.Results) EXPECT_EQ(r.ResultCode, kPublishLoginFailed);
  EXPECT_NE(U8(run.Log[0]).find("发布内容--发布内容失败"), std::string::npos);
  PublishModule broken = rztest::CmsModule(u"broken");
  broken.RandValue[0].Url = u"broken.php";
  ASSERT_TRUE(SaveModule(kModuleFolderPost, broken));
  job->WebPublish[0] = rztest::CmsTarget(cms, u"broken");
  run = Run(job);
  ASSERT_EQ(run.Results.size(), 2u);
  for (const ToData& r : run.Results) EXPECT_EQ(r.ResultCode, kPublishRandFailed);

  // Local files: an unknown format (0) and txt (8) side by side on the same item.
  job->EnableWebPublish = 0;
  job->EnableLocalFile = 1;
  job->LocalFilePublish = LocalTarget(u"doc");
  run = Run(job);
  ASSERT_EQ(run.Results.size(), 2u);
  EXPECT_EQ(run.Results[0].ResultCode, kPublishSaveFailed);
  EXPECT_EQ(U8(run.Results[0].Text), "保存为本地文件时失败原因:保存格式不支持[doc]");
  job->LocalFilePublish = LocalTarget(u"txt");
  run = Run(job);
  ASSERT_EQ(run.Results.size(), 2u);
  EXPECT_EQ(run.Results[0].ResultCode, kPublishFileSaved);
  EXPECT_EQ(U8(run.Log[0]).rfind("发布内容--成功保存为本地文件：item-", 0), 0u) << U8(run.Log[0]);
  EXPECT_EQ(Unpublished(), 0);

  // Code 7: the message only, nothing counted.
  ToData message;
  message.ResultCode = kPublishMessage;
  message.Text = u"note#竖线转义符#";
  PublishTally tally;
  LogData log;
  EXPECT_FALSE(RecordPublishResult(message, db_.get(), jobId_, tally, log));
  EXPECT_EQ(U8(log.LogText), "note");
  EXPECT_EQ(tally.Processed, 0);
  // Long titles and messages are cut to 200 characters in the log line.
  const auto longItem = AddItems(1);
  ToData big;
  big.ResultCode = kPublishWebOk;
  big.Fields = {{u"ID", longItem[0]}, {u"标题", std::u16string(250, u'长')}};
  EXPECT_TRUE(RecordPublishResult(big, db_.get(), jobId_, tally, log));
  EXPECT_EQ(log.LogText, u"发布内容--成功发布内容：" + std::u16string(200, u'长') + u"……</br>");
  ToData dbDone;
  dbDone.ResultCode = kPublishDbDone;
  dbDone.Fields = {{u"ID", longItem[0]}};
  dbDone.Text = std::u16string(300, u'x');
  EXPECT_TRUE(RecordPublishResult(dbDone, db_.get(), jobId_, tally, log));
  EXPECT_EQ(log.LogText, std::u16string(200, u'x') + u"……</br>");
  // The detail file holds the server's answer.
  ToData unknown;
  unknown.ResultCode = kPublishUnknown;
  unknown.Text = u"<html>服务器的回答</html>";
  EXPECT_TRUE(RecordPublishResult(unknown, db_.get(), jobId_, tally, log));
  const std::string line = U8(log.LogText);
  const size_t at = line.find("file:///") + 8;
  std::u16string detail;
  ASSERT_EQ(pcutil::ReadTextFile(U16(("/" + line.substr(at, line.find('"', at) - at)).c_str()), detail,
                                 pcutil::TextModeDetect), 0);
  EXPECT_EQ(U8(detail), "<html>服务器的回答</html>");
  // A published flag that cannot be set counts as failed with the red database line.
  ToData lost;
  lost.ResultCode = kPublishWebOk;
  lost.Fields = {{u"ID", u"abc"}, {u"PageUrl", u"http://p"}};
  EXPECT_TRUE(RecordPublishResult(lost, nullptr, jobId_, tally, log));
  EXPECT_EQ(tally.Failed, 2);  // the unknown result above and this one
  EXPECT_EQ(U8(log.LogText),
            "<font color=\"red\">发布内容--发布内容错误,错误位置：插入数据库出错<a href=\"http://p\" target=\"_blank\">http://p</a></font>");
}

TEST_P(PublishRunner, DatabaseFailuresRollBackAndStayUnpublished) {
  CAdo lite;
  const DbSettings ls = SqliteTarget(
      "t.db", lite,
      {u"CREATE TABLE a (id autoincrement(1,1) primary key, title text)", u"CREATE TABLE b (aid int, body text)"});
  const std::u16string& litePath = ls.SqlDb;
  PublishModule m;
  m.Name = u"two-tables";
  m.SqlValue = {u"insert into a(title) values('[DB:标题]')",
                u"insert into b(aid,body) values([文章编号:a],'[DB:内容]')"};
  ASSERT_TRUE(SaveModule(kModuleFolderDb, m));
  AddItems(2);
  JobRulePtr job = Job();
  job->EnableDB = 1;
  PublishTarget t;
  t.ModuleName = u"two-tables";
  t.ModuleType = u"ACCESS";
  t.SqlDb = litePath;
  PublishTarget missing = t;
  missing.SqlDb = U16((out_.Path() / "no" / "such" / "dir.db").string().c_str());
  missing.SqlHost = u"h";
  PublishTarget sqlServer = t;
  sqlServer.ModuleType = u"SQL Server";
  sqlServer.SqlHost = u"srv";
  sqlServer.SqlDb = u"cms";
  job->DBPublish = {t, missing, sqlServer};
  const rztest::PublishRun run = Run(job);
  ASSERT_EQ(run.Results.size(), 6u);
  for (size_t i = 0; i < run.Results.size(); ++i) {
    EXPECT_EQ(run.Results[i].ResultCode, kPublishDbFailed) << U8(run.Results[i].Text);
    EXPECT_EQ(run.Log[i], CutForLog(run.Results[i].Text));
  }
  // On an SQLite target the last-insert tag is empty: the second statement fails and the
  // first one is rolled back.
  EXPECT_EQ(U8(run.Results[0].Text).rfind("<font color=\"red\">数据库入库--执行语句出错:", 0), 0u)
      << U8(run.Results[0].Text);
  std::u16string missingLine, serverLine;
  for (const auto& r : run.Results) {
    if (U8(r.Text).find("主机:h 数据库:") != std::string::npos) missingLine = r.Text;
    if (U8(r.Text).find("主机:srv 数据库:cms") != std::string::npos) serverLine = r.Text;
  }
  EXPECT_NE(U8(missingLine).find("<font color=\"red\">数据库入库--连接数据库失败 主机:h 数据库:"), std::string::npos);
  EXPECT_NE(U8(serverLine).find("SQL Server"), std::string::npos) << U8(serverLine);
  ASSERT_TRUE(lite.Open(ls));
  EXPECT_EQ(Rows(lite, u"select * from a").size(), 0u);
  EXPECT_EQ(Rows(lite, u"select * from b").size(), 0u);
  lite.Close();
  EXPECT_EQ(Unpublished(), 2);
  EXPECT_EQ(run.Tally.Failed, 6);
}

TEST_P(PublishRunner, SameDatabaseTarget) {
  // "SAMEDB" runs the module on the job's own content database.
  PublishModule m;
  m.Name = u"same";
  m.SqlValue = {db_->IsMySql()
                    ? Format(u"update %sContent set 内容=concat(内容,'!') where ID=[DB:ID]", db_->Prefix())
                    : u"update Content set 内容=内容 || '!' where ID=[DB:ID]"};
  ASSERT_TRUE(SaveModule(kModuleFolderDb, m));
  const auto ids = AddItems(2);
  JobRulePtr job = Job();
  job->EnableDB = 1;
  PublishTarget t;
  t.ModuleName = u"same";
  t.ModuleType = u"SAMEDB";
  job->DBPublish = {t};
  const rztest::PublishRun run = Run(job);
  ASSERT_EQ(run.Results.size(), 2u);
  for (const auto& r : run.Results) EXPECT_EQ(r.ResultCode, kPublishDbDone) << U8(r.Text);
  ASSERT_TRUE(db_->SelectContent(Format(u"where ID=%s", ids[0])));
  FieldMap row;
  db_->ReadRow(row);
  db_->CloseQuery();
  EXPECT_EQ(U8(row[u"内容"]), "<p>正文0 /Image/a0.jpg</p>!");
  EXPECT_EQ(U8(row[kPublished]), "1");
}

TEST_P(PublishRunner, MaxCountOrderAndNoDestination) {
  const auto ids = AddItems(12);
  JobRulePtr job = Job();
  job->EnableLocalFile = 1;
  job->LocalFilePublish = LocalTarget(u"txt");
  job->PublishThreadCount = 1;
  job->PublishMaxCount = u"3";
  job->PublishOrder = 1;
  rztest::PublishRun run = Run(job);
  ASSERT_EQ(run.Results.size(), 3u);
  // Newest first, one worker: the results come in id order, highest first.
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(run.Results[i].Fields.at(u"ID"), ids[11 - i]);
  job->PublishMaxCount = u"5-7";
  job->PublishOrder = 2;
  run = Run(job);
  EXPECT_TRUE(run.Results.size() == 5u || run.Results.size() == 6u) << run.Results.size();
  const int left = Unpublished();
  job->PublishMaxCount = u"5-5";
  run = Run(job);
  EXPECT_EQ(static_cast<int>(run.Results.size()), left);
  EXPECT_EQ(Unpublished(), 0);

  // No destination whose module loads: the message, completion, nothing touched.
  AddItems(1);
  JobRulePtr none = Job();
  none->EnableWebPublish = 1;
  PublishTarget gone;
  gone.ModuleName = u"gone";
  gone.ModuleType = u"POST";
  none->WebPublish = {gone};
  run = Run(none);
  EXPECT_FALSE(run.Started);
  EXPECT_EQ(run.StartMessage, kNoPublishTargetMessage);
  EXPECT_TRUE(run.Results.empty());
  EXPECT_EQ(Unpublished(), 1);
}

// The adapter the job runner drives: journal replay before the selection, one completion
// per step even when the runner drops its connections between steps, and results added to
// the counts the run's record already holds.
TEST_P(PublishRunner, RunnerStepAdapter) {
  struct Steps : pcutil::SignalReceiver {
    int Done = 0;
    void OnDone() { ++Done; }
  } steps;
  const auto ids = AddItems(3);
  JobRulePtr job = Job();
  CPublishRunnerStep step;

  ASSERT_TRUE(AppendPublishJournal(jobId_, ids[0]));
  step.BeforeSelect(*db_, *job);
  EXPECT_EQ(Unpublished(), 2);

  job->EnableWebPublish = 1;
  PublishTarget gone;
  gone.ModuleName = u"gone";
  gone.ModuleType = u"POST";
  job->WebPublish = {gone};
  for (int run = 1; run <= 2; ++run) {
    step.OnStepDone.Connect(&steps, &Steps::OnDone);
    std::u16string message;
    EXPECT_FALSE(step.Start(job, content_, message));
    EXPECT_EQ(message, kNoPublishTargetMessage);
    EXPECT_EQ(steps.Done, run);
    // As the runner does after each step: its own connections and the step's go.
    steps.DisconnectAll();
    step.DisconnectAll();
  }

  LogData log;
  log.DoneCount = 5;
  log.OkCount = 2;
  log.FailCount = 1;
  struct Case {
    int Code;
    std::u16string Id;
    bool WithDb, Counted;
    int Done, Ok, Fail;
  };
  const Case cases[] = {
      {kPublishMessage, u"", true, false, 5, 2, 1},   // message only: nothing counted
      {kPublishFileSaved, ids[1], true, true, 6, 3, 1},
      {kPublishPostFailed, ids[2], true, true, 7, 3, 2},
      {kPublishWebOk, ids[2], false, true, 8, 3, 3},  // the flag could not be set
  };
  for (const Case& c : cases) {
    ToData item;
    item.ResultCode = c.Code;
    item.Text = u"note";
    item.Fields = {{u"ID", c.Id}, {u"PageUrl", u"http://p"}};
    EXPECT_EQ(step.Record(item, c.WithDb ? db_.get() : nullptr, log), c.Counted) << c.Code;
    EXPECT_EQ(log.DoneCount, c.Done) << c.Code;
    EXPECT_EQ(log.OkCount, c.Ok) << c.Code;
    EXPECT_EQ(log.FailCount, c.Fail) << c.Code;
    EXPECT_FALSE(log.LogText.empty()) << c.Code;
  }
  EXPECT_EQ(Unpublished(), 1);  // ids[2]: failed, then not marked
}

TEST_P(PublishRunner, StoppingPublishesNothingTwice) {
  // A target that counts what it received: an SQLite table with a unique item id.
  CAdo lite;
  const DbSettings ls = SqliteTarget("count.db", lite, {u"CREATE TABLE got (item int)"});
  const std::u16string& litePath = ls.SqlDb;
  PublishModule m;
  m.Name = u"count";
  m.SqlValue = {u"insert into got(item) values([DB:ID])"};
  ASSERT_TRUE(SaveModule(kModuleFolderDb, m));
  AddItems(15);
  JobRulePtr job = Job();
  job->EnableDB = 1;
  PublishTarget t;
  t.ModuleName = u"count";
  t.ModuleType = u"ACCESS";
  t.SqlDb = litePath;
  job->DBPublish = {t};
  job->PublishThreadCount = 2;
  job->PublishInterval = 20;
  pcutil::SetFixedPauseMs(5);
  rztest::PublishRun run = Run(job, [](CPublishThread& runner, int fed) {
    if (fed == 4) runner.Stop();
  });
  pcutil::SetFixedPauseMs(0);
  const int first = static_cast<int>(run.Results.size());
  EXPECT_LE(first, 4);
  EXPECT_EQ(Unpublished(), 15 - first);
  // An item a destination took whose flag was never set (a crash in between) is journalled:
  // the next run marks it and does not send it again.
  ASSERT_TRUE(db_->SelectForPublish(1, 0));
  FieldMap row;
  db_->ReadRow(row);
  db_->CloseQuery();
  ASSERT_TRUE(lite.Open(ls));
  ASSERT_TRUE(lite.Query(Format(u"insert into got(item) values(%s)", row[u"ID"])));
  lite.Close();
  ASSERT_TRUE(AppendPublishJournal(jobId_, row[u"ID"]));

  run = Run(job);
  EXPECT_EQ(static_cast<int>(run.Results.size()), 15 - first - 1);
  EXPECT_EQ(Unpublished(), 0);
  ASSERT_TRUE(lite.Open(ls));
  EXPECT_EQ(Rows(lite, u"select item from got").size(), 15u);
  EXPECT_EQ(Rows(lite, u"select distinct item from got").size(), 15u);
  lite.Close();
}

TEST_P(PublishRunner, RewriteFailureAtPublishTime) {
  AddItems(1);
  JobRulePtr job = Job();
  job->EnableLocalFile = 1;
  job->LocalFilePublish = LocalTarget(u"txt");
  LabelRule label;
  label.Id = u"1";
  label.LabelName = u"内容";
  LabelOriginal rule;
  rule.Id = u"1004";  // an outside rewriting service that does not answer
  rule.Param1 = u"http://127.0.0.1:9/none";
  label.Original = {rule};
  job->ContentRex.LabelRex = {label};
  GlobalSettings().OrigType = 1;
  const rztest::PublishRun run = Run(job);
  GlobalSettings().OrigType = 0;
  ASSERT_EQ(run.Results.size(), 1u);
  EXPECT_EQ(run.Results[0].ResultCode, kPublishRewriteFailed);
  EXPECT_EQ(U8(run.Results[0].Text), "伪原创失败，请检查伪原创规则是否设置正确！");
  EXPECT_EQ(U8(run.Log[0]), "");
  EXPECT_EQ(run.Tally.Failed, 1);
  EXPECT_TRUE(fs::is_empty(out_.Path()));  // nothing was sent
  EXPECT_EQ(Unpublished(), 1);
}

}  // namespace
