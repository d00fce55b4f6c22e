// A whole job through the runner: articles collected from a local site (images downloaded)
// and published in the same run to the fixture CMS, a MariaDB database, a CSV file and the
// FTP server, through the publish step the runner's owner plugs in.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>

#include "FixtureCms.h"
#include "FtpFixture.h"
#include "HttpFixture.h"
#include "MariaDbFixture.h"
#include "PublishFixtures.h"
#include "Sandbox.h"
#include "collect/Kite.h"
#include "foundation/Text.h"
#include "publish/RunnerStep.h"
#include "storage/Ado.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"

namespace fs = std::filesystem;

namespace {

using namespace rz;
using pcutil::Format;
using pcutil::U16;

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

const char kHostileTitle[] = "it's \"q\" \\ '; DROP TABLE x;-- 😀 标题";

class RunReports : public pcutil::SignalReceiver {
 public:
  void Log(const LogData& d) {
    std::lock_guard lock(m_);
    lines_.push_back(U8(d.LogText));
  }
  void Finished() {
    std::lock_guard lock(m_);
    done_ = true;
    cv_.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::minutes(3), [&] { return done_; });
  }
  std::string All() {
    std::lock_guard lock(m_);
    std::string s;
    for (const auto& l : lines_) s += l + "\n";
    return s;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
  bool done_ = false;
};

#ifdef RZ_HAVE_PUBLISH_STEP
TEST(PublishEndToEnd, CollectedItemsReachEveryDestination) {
  rztest::QuietPauses quiet;
  rztest::Sandbox sandbox;
  GlobalSettings().OrigType = 0;
  rztest::HttpFixture site;
  rztest::FixtureCms cms;
  rztest::FtpFixture ftp;
  rztest::TempDir out;
  auto page = [](const std::string& body) { return rztest::Page(body, "text/html; charset=utf-8"); };
  for (int n = 1; n <= 3; ++n) {
    const std::string title = n == 1 ? kHostileTitle : "Article " + std::to_string(n);
    site.Serve("/a/" + std::to_string(n) + ".html",
               page("<html><body><h1>" + title + "</h1><div id=\"body\">Body " + std::to_string(n) +
                    " <img src=\"/img/p" + std::to_string(n) + ".jpg\"></div></body></html>"));
    site.Serve("/img/p" + std::to_string(n) + ".jpg", rztest::Page("IMG" + std::to_string(n), "image/jpeg"));
  }

  // The publishing side: the CMS module, a MariaDB target database.
  ASSERT_TRUE(SaveModule(kModuleFolderPost, rztest::CmsModule()));
  PublishModule dbModule;
  dbModule.Name = u"articles";
  dbModule.SqlValue = {u"insert into 数据表前缀article(title,body) values('[DB:标题]','[DB:内容]')"};
  ASSERT_TRUE(SaveModule(kModuleFolderDb, dbModule));
  const DbSettings maria = rztest::MariaDb::Settings();
  rztest::ScratchSchema scratch(u"e2e_");
  ASSERT_TRUE(scratch.Ok());
  const std::u16string& schema = scratch.Name();
  DbSettings targetDb = maria;
  targetDb.SqlDb = schema;
  CAdo target;
  target.SetType(u"MySql");
  ASSERT_TRUE(target.Open(targetDb));
  ASSERT_TRUE(target.Execute(u"CREATE TABLE cms_article (id int auto_increment primary key, title longtext, body longtext) CHARSET=utf8mb4"));

  auto job = std::make_shared<JobRule>();
  job->JobId = u"e2e-job";
  job->JobName = u"端到端";
  job->DbSettings.Type = u"ACCESS";
  job->DbSettings.SqlDb.clear();
  job->GatherInterval = 0;
  job->PublishInterval = 0;
  job->ListUrlRex.Deep = 0;
  job->ListUrlRex.Urls = {U16(site.Url("/a/<1,3,0,1>.html").c_str())};
  LabelRule title;
  title.Id = u"1";
  title.LabelName = u"标题";
  title.StartStr = u"<h1>";
  title.EndStr = u"</h1>";
  LabelRule body;
  body.Id = u"2";
  body.LabelName = u"内容";
  body.StartStr = u"<div id=\"body\">";
  body.EndStr = u"</div>";
  body.DownImg = 1;
  job->ContentRex.LabelRex = {title, body};
  job->ContentRex.ThreadCount = 1;
  job->IsPublish = 1;
  job->EnableWebPublish = 1;
  job->WebPublish = {rztest::CmsTarget(cms)};
  job->EnableLocalFile = 1;
  job->LocalFilePublish.ModuleName = u"csv";
  job->LocalFilePublish.ModuleType = u"LocalFile";
  job->LocalFilePublish.LocalPath = U16(out.Path().string().c_str());
  job->LocalFilePublish.ContentTmpl = u"[DB:标题],[DB:内容]";
  job->EnableDB = 1;
  job->DBPublish = {rztest::MariaDbTarget(u"articles", schema, u"cms_")};
  job->EnableFtp = 1;
  job->FtpServer = U16(ftp.Host().c_str());
  job->FtpPort = Format(u"%d", ftp.Port());
  job->UsePassive = u"1";
  job->FtpUserName = U16(rztest::FtpFixture::kUser);
  job->FtpPassword = U16(rztest::FtpFixture::kPassword);
  job->FtpDir = u"/files";
  job->FileWebDir = u"http://img.example/";

  RunReports reports;
  {
    CKite kite;
    kite.SetPublishWorker(std::make_unique<CPublishRunnerStep>());
    kite.OnLog.Connect(&reports, &RunReports::Log);
    kite.OnFinished.Connect(&reports, &RunReports::Finished);
    ASSERT_EQ(kite.StartJob(job), 1);
    ASSERT_TRUE(reports.Wait()) << reports.All();
  }
  const std::string log = reports.All();
  EXPECT_NE(log.find("当前进入发布内容步骤,找到要发布的内容3条..."), std::string::npos) << log;
  EXPECT_NE(log.find("内容发布完成,总共采集到内容条数为9个,失败内容0个"), std::string::npos) << log;

  // The CMS: three articles, the hostile title intact, image addresses on the web folder.
  const auto accepted = cms.Accepted();
  ASSERT_EQ(accepted.size(), 3u) << log;
  int rewritten = 0;
  bool hostile = false;
  for (const auto& a : accepted) {
    hostile |= a.Form.at("title") == kHostileTitle;
    rewritten += a.Form.at("body").find("src=\"http://img.example/") != std::string::npos;
  }
  EXPECT_TRUE(hostile);
  EXPECT_EQ(rewritten, 3) << accepted[0].Form.at("body");
  // The images on the FTP server, below FtpDir.
  int uploaded = 0;
  for (const auto& e : fs::recursive_directory_iterator(ftp.Root() / "files"))
    uploaded += e.is_regular_file() && rztest::ReadFile(e.path()).rfind("IMG", 0) == 0;
  EXPECT_EQ(uploaded, 3);
  // MariaDB and the CSV file.
  ASSERT_TRUE(target.Query(u"select title from cms_article"));
  EXPECT_EQ(target.RecordCount(), 3);
  bool inDb = false;
  for (long i = 0; i < 3; ++i) {
    std::vector<std::u16string> names, values;
    target.GetRow(i, names, values);
    inDb |= U8(values[0]) == kHostileTitle;
  }
  EXPECT_TRUE(inDb);
  target.CloseQuery();
  const std::string csv = U8(pcutil::LocalToUtf16(rztest::ReadFile(out.Path() / "端到端.csv")));
  EXPECT_NE(csv.find("\"it's \"\"q\"\" \\ '; DROP TABLE x;-- 😀 标题\""), std::string::npos) << csv;
  // Every item is marked published.
  ContentDatabase db(job->DbSettings, job->JobId);
  ASSERT_TRUE(db.Open(false));
  ASSERT_TRUE(db.SelectForPublish(0, 0));
  EXPECT_EQ(db.RecordCount(), 0);
  db.Close();
}
#endif

}  // namespace
