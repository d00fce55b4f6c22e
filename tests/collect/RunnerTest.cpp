// The job runner end to end: a local site served in-process, a temporary program folder, the
// job's database as a local file and on the suite's MariaDB server; the same runs through
// rizede-cli run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../cli/CliRun.h"
#include "HttpFixture.h"
#include "MariaDbFixture.h"
#include "Sandbox.h"
#include "collect/Kite.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"
#include "store/Settings.h"

namespace fs = std::filesystem;

namespace {

std::u16string U(const std::string& s) { return pcutil::Utf8ToUtf16(s); }
std::string S(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

// Collects a runner's reports.
class Reports : public pcutil::SignalReceiver {
 public:
  std::function<void(const rz::LogData&)> OnEach;

  void Log(const rz::LogData& d) {
    std::function<void(const rz::LogData&)> each;
    {
      std::lock_guard lock(mutex_);
      logs_.push_back(d);
      each = OnEach;
    }
    if (each) each(d);
  }
  void Finished() {
    std::lock_guard lock(mutex_);
    ++finished_;
    cv_.notify_all();
  }
  bool WaitFinished(int count = 1) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(120), [&] { return finished_ >= count; });
  }
  std::vector<rz::LogData> Logs() {
    std::lock_guard lock(mutex_);
    return logs_;
  }
  int Count(const std::string& part) {
    int n = 0;
    for (const auto& d : Logs())
      if (S(d.LogText).find(part) != std::string::npos) ++n;
    return n;
  }
  bool Has(const std::string& part) { return Count(part) > 0; }
  int CountLine(const std::string& line) {
    int n = 0;
    for (const auto& d : Logs()) n += S(d.LogText) == line;
    return n;
  }
  std::string All() {
    std::string all;
    for (const auto& d : Logs()) all += S(d.LogText) + "\n";
    return all;
  }
  rz::LogData Last() {
    std::lock_guard lock(mutex_);
    return logs_.empty() ? rz::LogData() : logs_.back();
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    logs_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<rz::LogData> logs_;
  int finished_ = 0;
};

std::string Article(int n, bool withTitle = true) {
  std::string page = "<html><head><title>t</title></head><body>";
  if (withTitle) page += "<h1>Title " + std::to_string(n) + "</h1>";
  page += "<p class=\"by\">作者：Wang" + std::to_string(n) + "</p>";
  page += "<div id=\"body\"><p>Body " + std::to_string(n) +
          "</p>广告 buy now 结束<img src=\"/img/pic.jpg\"></div></body></html>";
  return page;
}

// The collected site: list pages by number and letter range and an address file, articles
// with a title, an author and a body with an image.
struct Site {
  rztest::HttpFixture http;

  Site() {
    const std::string area1 =
        "<a href=\"/news/99.html\">outside</a><!--list--><ul>"
        "<li><a href=\"/news/1.html\" target=_blank>One</a></li>"
        "<li><a href='/news/2.html'\n class=\"x\">Two</a></li>"
        "<li><a href=\"/news/pic.jpg\">Picture</a></li>"
        "<li><a href=\"/other/9.html\">Other</a></li>"
        "</ul><!--/list--><a href=\"/news/98.html\">outside</a>";
    // Pages that name their charset, as real sites do.
    auto Page = [](const std::string& body) { return rztest::Page(body, "text/html; charset=utf-8"); };
    http.Serve("/list/1.html", Page("<html><body>" + area1 + "</body></html>"));
    http.Serve("/list/2.html",
               Page("<html><head><base href=\"" + http.Url("/news/") +
                            "\"></head><body><!--list--><a href=\"/news/3.html\">3</a> "
                            "<a href=\"/news/4.html\">4</a> <a href=\"5.html\">5</a>"
                            "<!--/list--></body></html>"));
    http.Serve("/list/a.html", Page("<!--list--><a href=\"/news/1.html\">1</a>"
                                            "<a href=\"/news/6.html\">6</a><!--/list-->"));
    // /list/b.html is missing: a failed list page
    http.Serve("/list/c.html", Page("<!--list--><a href=\"/news/7.html\">7</a><!--/list-->"));
    for (int n = 1; n <= 40; ++n)
      http.Serve("/news/" + std::to_string(n) + ".html", Page(Article(n, n != 4)));
    http.Serve("/img/pic.jpg", rztest::Page("JPEGDATA", "image/jpeg"));
    // A page with two headings and a second page found in its pagination area.
    http.Serve("/multi.html",
               Page("<h1>First</h1><div id=\"body\">Part one</div><h1>Second</h1>"
                            "<div class=\"pages\"><a href=\"/multi_2.html\">2</a></div>"));
    http.Serve("/multi_2.html", Page("<div id=\"body\">Part two</div>"));
  }

  std::u16string Url(const std::string& target) const { return U(http.Url(target)); }
};

rz::LabelRule Label(const std::string& id, const std::string& name) {
  rz::LabelRule l;
  l.Id = U(id);
  l.LabelName = U(name);
  return l;
}

// The job of the site: three kinds of list items, the link area, the filters and three
// labels (markers, regular expression with ?<content>, parameter pattern).
rz::JobRulePtr SiteJob(const Site& site, const std::string& jobId, const rz::DbSettings& db) {
  auto rule = std::make_shared<rz::JobRule>();
  rule->JobId = U(jobId);
  rule->JobName = u"测试任务";
  rule->IsPublish = 0;
  rule->DbSettings = db;
  rule->GatherInterval = 0;
  rule->ListUrlRex.Urls = {U(site.http.Url("/list/<1,2,0,1>.html")),
                           U(site.http.Url("/list/<a,b,0>.html")), u"#FILE#urls.txt"};
  rztest::WriteFile(fs::path(S(pcutil::ProgramPath(u"urls.txt"))),
                    site.http.Url("/list/c.html") + "\r\n");
  rule->ListUrlRex.CodeBegin = u"<!--list-->";
  rule->ListUrlRex.CodeEnd = u"<!--/list-->";
  rule->ListUrlRex.MustUrls = u"/news/";
  rule->ListUrlRex.NotUrls = u"(*).jpg";
  rule->ContentRex.ThreadCount = 2;

  rz::LabelRule title = Label("1", "标题");
  title.StartStr = u"<h1>";
  title.EndStr = u"</h1>";
  title.LabelNotNull = 1;
  rz::LabelRule author = Label("2", "作者");
  author.ContentRizedeType = 2;
  author.ContentRexText = u"作者：[参数]<";
  author.ContentRexRet = u"[参数1]";
  rz::LabelRule body = Label("3", "内容");
  body.ContentRizedeType = 1;
  body.ContentByRex = u"<div id=\"body\">(?<content>.*?)</div>";
  body.RegexReplace = {u"广告(*)结束|"};
  body.HtmlTags = {u"<p.*?>|</p>"};
  body.DownImg = 1;
  body.SaveFileFormat = u"[原文件名][自增ID:局部]";
  rule->ContentRex.LabelRex = {title, author, body};
  return rule;
}

// Deep 0: the list items are the articles.
rz::JobRulePtr ArticleJob(const Site& site, const std::string& jobId, const rz::DbSettings& db,
                          int first, int last, const std::string& folder = "news") {
  auto rule = std::make_shared<rz::JobRule>();
  rule->JobId = U(jobId);
  rule->JobName = U(jobId);
  rule->IsPublish = 0;
  rule->DbSettings = db;
  rule->GatherInterval = 0;
  rule->ListUrlRex.Deep = 0;
  rule->ListUrlRex.Urls = {U(site.http.Url("/" + folder + "/<" + std::to_string(first) + "," +
                                           std::to_string(last) + ",0,1>.html"))};
  rz::LabelRule title = Label("1", "标题");
  title.StartStr = u"<h1>";
  title.EndStr = u"</h1>";
  rule->ContentRex.LabelRex = {title};
  rule->ContentRex.ThreadCount = 2;
  return rule;
}

rz::DbSettings AccessDb() {
  rz::DbSettings db;
  db.Type = u"ACCESS";
  db.SqlDb.clear();
  return db;
}

struct Row {
  std::map<std::u16string, std::u16string> f;
  std::string operator[](const std::string& name) const {
    auto it = f.find(U(name));
    return it == f.end() ? std::string() : S(it->second);
  }
};

std::vector<Row> Rows(const rz::JobRule& rule, const std::string& table = "Content") {
  rz::ContentDatabase db(rule.DbSettings, rule.JobId);
  EXPECT_TRUE(db.Open(false)) << S(db.LastError);
  std::vector<Row> rows;
  EXPECT_TRUE(db.QuerySql(pcutil::Format(u"select * from %s%s order by ID", db.Prefix(), U(table))));
  for (long i = 0; i < db.RecordCount(); ++i) {
    Row r;
    if (db.ReadRow(r.f, i)) rows.push_back(r);
  }
  db.Close();
  return rows;
}

std::map<std::string, Row> ByUrl(const std::vector<Row>& rows) {
  std::map<std::string, Row> out;
  for (const auto& r : rows) out[r["PageUrl"]] = r;
  return out;
}

int Collected(const std::vector<Row>& rows) {
  int n = 0;
  for (const auto& r : rows) n += r["已采"] == "1";
  return n;
}

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pcutil::SetFixedPauseMs(0);
    saved_ = rz::GlobalSettings();
  }
  void TearDown() override { rz::GlobalSettings() = saved_; }

  rztest::Sandbox box_;
  rz::AppSettings saved_;
};

void WaitIdle(rz::CKite& kite) {
  for (int i = 0; i < 6000 && kite.WorkersBusy(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// The whole run on one engine: links, repeat handling, content, clean-up, downloads, drops,
// counters and log lines; then a second run that meets only known links.
void EndToEnd(Site& site, const rz::JobRulePtr& rule) {
  rz::GlobalSettings().MaxRepeatCount = 20;
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1) << reports.All();
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  const std::string log = reports.All();

  const std::string base = site.http.Url("");
  for (int n : {1, 2, 3, 4, 5, 6, 7})
    EXPECT_EQ(reports.CountLine("采网址--成功采集到新网址：" + base + "/news/" + std::to_string(n) +
                                ".html"),
              1)
        << n << "\n" << log;
  EXPECT_FALSE(reports.Has("/news/99.html")) << log;  // outside the link area
  EXPECT_FALSE(reports.Has("/news/98.html")) << log;
  EXPECT_FALSE(reports.Has("/other/9.html")) << log;  // MustUrls
  EXPECT_FALSE(reports.Has("/news/pic.jpg")) << log;  // NotUrls
  EXPECT_EQ(reports.Count("采网址--网址已经采集过，跳过：" + base + "/news/1.html"), 1) << log;
  EXPECT_EQ(reports.Count("采网址--列表页下载失败，出错的网址：<a href=\"" + base +
                          "/list/b.html\""),
            1)
      << log;
  EXPECT_TRUE(reports.Has("网址采集完成,成功采集到新网址7个,失败1个")) << log;
  EXPECT_TRUE(reports.Has("当前进入采集内容步骤,找到要采集的内容7条...")) << log;
  EXPECT_EQ(reports.Count("采内容--成功采集内容<a href="), 6) << log;
  EXPECT_EQ(reports.Count("采集内容标签[标题]不得为空,自动过滤该文章。"), 1) << log;
  EXPECT_TRUE(reports.Has("内容采集完成,总共处理内容7条,失败内容1条")) << log;
  EXPECT_EQ(reports.Count("<strong>任务完成</strong>"), 1) << log;
  const rz::LogData last = reports.Last();
  EXPECT_EQ(S(rz::SummaryLine(last)),
            "当前任务：测试任务 状态：任务完成 进度：7/7 任务结果--成功：6条 失败：1条 重复：0条");
  EXPECT_EQ(kite.IsRunning.load(), 0);

  // The rows: six collected, the dropped article gone, values cleaned, images local.
  const std::vector<Row> rows = Rows(*rule);
  EXPECT_EQ(rows.size(), 6u);
  EXPECT_EQ(Collected(rows), 6);
  auto byUrl = ByUrl(rows);
  EXPECT_EQ(byUrl.count(base + "/news/4.html"), 0u);
  const Row& one = byUrl[base + "/news/1.html"];
  EXPECT_EQ(one["标题"], "Title 1");
  EXPECT_EQ(one["作者"], "Wang1");
  EXPECT_EQ(one["内容"], "Body 1<img src=\"/Image/pic1.jpg\">");
  const Row& five = byUrl[base + "/news/5.html"];  // relative link against the base element
  EXPECT_EQ(five["标题"], "Title 5");

  const fs::path image = fs::path(S(pcutil::ProgramPath(u"DB/" + rule->JobId + u"/Image/pic1.jpg")));
  EXPECT_EQ(rztest::ReadFile(image), "JPEGDATA");
  const std::vector<Row> files = Rows(*rule, "DownloadFile");
  ASSERT_EQ(files.size(), 7u);  // the dropped article's image was fetched as well
  EXPECT_EQ(files[0]["DownloadUrl"], base + "/img/pic.jpg");
  EXPECT_EQ(files[0]["ReplaceUrl"], "/Image/pic1.jpg");
  EXPECT_EQ(files[0]["State"], "1");
  EXPECT_EQ(files[0]["labelId"], "3");

  // Second run: every link is known; the repeat limit ends the URL step and the content
  // step finds nothing.
  rz::GlobalSettings().MaxRepeatCount = 3;
  reports.Clear();
  site.http.ClearRequests();
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished(2)) << reports.All();
  const std::string log2 = reports.All();
  EXPECT_EQ(reports.Count("采网址--成功采集到新网址"), 0) << log2;
  EXPECT_EQ(reports.Count("采集网址-达到最大重复数量，将进行下一步--采集内容"), 1) << log2;
  EXPECT_TRUE(reports.Has("当前进入采集内容步骤,找到要采集的内容0条...")) << log2;
  int listPages = 0;
  for (const auto& r : site.http.Requests()) listPages += r.Path.rfind("/list/", 0) == 0;
  EXPECT_EQ(listPages, 2);  // the third known link is on the second page
  EXPECT_EQ(Rows(*rule).size(), 6u);
}

TEST_F(RunnerTest, EndToEndOnLocalFile) {
  Site site;
  EndToEnd(site, SiteJob(site, "e2e-file", AccessDb()));
}

TEST_F(RunnerTest, EndToEndOnMariaDb) {
  Site site;
  EndToEnd(site, SiteJob(site, "e2e-maria", rztest::MariaDb::Settings()));
}

TEST_F(RunnerTest, StepSwitchesDecideWhatRuns) {
  Site site;
  auto rule = ArticleJob(site, "switches", AccessDb(), 1, 2);
  rule->IsGather = rule->IsOriginal = 0;
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished());
  EXPECT_EQ(S(reports.Last().StatusText), "任务完成");
  EXPECT_FALSE(reports.Has("当前进入")) << reports.All();

  // Only the content step: no links yet, so nothing to collect.
  rule->IsOriginal = 1;
  reports.Clear();
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished(2));
  EXPECT_FALSE(reports.Has("当前进入采集网址步骤")) << reports.All();
  EXPECT_TRUE(reports.Has("找到要采集的内容0条")) << reports.All();

  // The publish step without a publish worker ends the run with a clear line.
  rule->IsPublish = 1;
  reports.Clear();
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished(3));
  EXPECT_TRUE(reports.Has("跳过发布步骤")) << reports.All();

  // An empty rule does not start; neither does a database that does not open.
  EXPECT_EQ(kite.StartJob(nullptr), 0);
  auto broken = ArticleJob(site, "broken-db", rztest::MariaDb::Settings(), 1, 1);
  broken->DbSettings.Port = U(std::to_string(rztest::MariaDb::FreePort()));
  reports.Clear();
  EXPECT_EQ(kite.StartJob(broken), 0);
  EXPECT_TRUE(reports.Has("<font color=\"red\">")) << reports.All();
  kite.StopJob();
}

// A list page holding a link twice and a link stored before: each is reported in page order,
// as known from its second appearance on, and the repeat limit ends the page where it is met.
TEST_F(RunnerTest, LinksOfAPageInOrderWithRepeatsAndTheRepeatLimit) {
  Site site;
  site.http.Serve("/dups.html", rztest::Page("<!--list--><a href=\"/news/1.html\">A</a>"
                                             "<a href=\"/news/2.html\">B</a>"
                                             "<a href=\"/news/1.html\">A</a>"
                                             "<a href=\"/news/3.html\">C</a><!--/list-->"));
  const std::string base = site.http.Url("/news/");
  for (const auto& [db, limit] : {std::pair{AccessDb(), 0}, std::pair{AccessDb(), 2},
                                  std::pair{rztest::MariaDb::Settings(), 0}}) {
    static int serial = 0;
    auto rule = SiteJob(site, "dups-" + std::to_string(++serial), db);
    rule->ListUrlRex.Urls = {site.Url("/dups.html")};
    rule->ListUrlRex.NotUrls.clear();
    rule->IsOriginal = 0;  // the URL step only
    {
      rz::ContentDatabase stored(rule->DbSettings, rule->JobId);
      ASSERT_TRUE(stored.Open(true, {u"标题"})) << S(stored.LastError);
      ASSERT_TRUE(stored.InsertLink(pcutil::UrlKey(U(base + "2.html"))));
    }
    rz::GlobalSettings().MaxRepeatCount = limit;
    rz::CKite kite;
    Reports reports;
    kite.OnLog.Connect(&reports, &Reports::Log);
    kite.OnFinished.Connect(&reports, &Reports::Finished);
    ASSERT_EQ(kite.StartJob(rule), 1);
    ASSERT_TRUE(reports.WaitFinished()) << reports.All();
    std::vector<std::string> seen;
    for (const auto& d : reports.Logs()) {
      std::string line = S(d.LogText);
      line = line.substr(0, line.find("</font>"));
      if (line.find("成功采集到新网址：") != std::string::npos)
        seen.push_back("new " + line.substr(line.find(base) + base.size()));
      else if (line.find("已经采集过") != std::string::npos)
        seen.push_back("known " + line.substr(line.find(base) + base.size()));
      else if (line.find("达到最大重复数量") != std::string::npos)
        seen.push_back("limit");
    }
    // The link that reaches the limit is reported by the limit line.
    const std::vector<std::string> expected =
        limit == 0 ? std::vector<std::string>{"new 1.html", "known 2.html", "known 1.html", "new 3.html"}
                   : std::vector<std::string>{"new 1.html", "known 2.html", "limit"};
    EXPECT_EQ(seen, expected) << reports.All();
    std::vector<std::string> rows;
    for (const auto& row : Rows(*rule)) rows.push_back(row["PageUrl"]);
    std::vector<std::string> expectedRows = {base + "1.html"};
    if (limit == 0) expectedRows.push_back(base + "3.html");
    EXPECT_EQ(rows, expectedRows);
  }
}

TEST_F(RunnerTest, ContentLimitLabelLoopAndMultiPage) {
  Site site;
  // MaxConentCount 3 of five articles.
  {
    auto rule = ArticleJob(site, "limit", AccessDb(), 1, 5);
    rule->ContentRex.ThreadCount = 1;
    rule->ContentRex.MaxConentCount = 3;
    rz::CKite kite;
    Reports reports;
    kite.OnLog.Connect(&reports, &Reports::Log);
    kite.OnFinished.Connect(&reports, &Reports::Finished);
    ASSERT_EQ(kite.StartJob(rule), 1);
    ASSERT_TRUE(reports.WaitFinished());
    EXPECT_EQ(reports.Count("完成采集内容达到设置的上限，将跳过采集"), 1) << reports.All();
    const auto rows = Rows(*rule);
    EXPECT_EQ(rows.size(), 5u);
    EXPECT_EQ(Collected(rows), 3);
  }
  // Two headings give two items (the second a new row); the body joins both pages.
  {
    auto rule = std::make_shared<rz::JobRule>();
    rule->JobId = u"multi";
    rule->IsPublish = 0;
    rule->DbSettings = AccessDb();
    rule->GatherInterval = 0;
    rule->ListUrlRex.Deep = 0;
    rule->ListUrlRex.Urls = {site.Url("/multi.html")};
    rz::LabelRule title = Label("1", "标题");
    title.StartStr = u"<h1>";
    title.EndStr = u"</h1>";
    title.LabelLoop = 1;
    rz::LabelRule body = Label("2", "内容");
    body.StartStr = u"<div id=\"body\">";
    body.EndStr = u"</div>";
    body.LabelLoop = 2;
    rule->ContentRex.LabelRex = {title, body};
    rule->ContentRex.MultiPage.MultiPageType = 2;
    rule->ContentRex.MultiPage.Start = u"<div class=\"pages\">";
    rule->ContentRex.MultiPage.End = u"</div>";
    rz::CKite kite;
    Reports reports;
    kite.OnLog.Connect(&reports, &Reports::Log);
    kite.OnFinished.Connect(&reports, &Reports::Finished);
    ASSERT_EQ(kite.StartJob(rule), 1);
    ASSERT_TRUE(reports.WaitFinished());
    const auto rows = Rows(*rule);
    ASSERT_EQ(rows.size(), 2u) << reports.All();
    EXPECT_EQ(rows[0]["标题"], "First");
    EXPECT_EQ(rows[1]["标题"], "Second");
    EXPECT_EQ(rows[0]["内容"], "Part one|||Part two");
    EXPECT_EQ(rows[1]["内容"], "Part one|||Part two");
    EXPECT_EQ(Collected(rows), 2);
  }
}

// A manual link pattern, numbered further pages and links made absolute.
TEST_F(RunnerTest, ManualLinksNumberedPagesAndAbsoluteLinks) {
  Site site;
  auto Page = [](const std::string& body) { return rztest::Page(body, "text/html; charset=utf-8"); };
  site.http.Serve("/hand/list.html",
                  Page("<p><a href=\"show.asp?id=11\">a</a> <a href=\"show.asp?id=12\">b</a></p>"));
  site.http.Serve("/article_11.html",
                  Page("<div id=\"body\">Page one <a href=\"rel/x.html\">x</a></div>"));
  site.http.Serve("/article_11_2.html", Page("<div id=\"body\">Page two</div>"));
  site.http.Serve("/article_12.html", Page("<div id=\"body\">Only page</div>"));

  auto rule = std::make_shared<rz::JobRule>();
  rule->JobId = u"by-hand";
  rule->IsPublish = 0;
  rule->DbSettings = AccessDb();
  rule->GatherInterval = 0;
  rule->ListUrlRex.Urls = {site.Url("/hand/list.html")};
  rule->ListUrlRex.IsByHand = 1;
  rule->ListUrlRex.UrlJs = u"show.asp?id=[参数]\"";
  rule->ListUrlRex.RealUrl = site.Url("/article_[参数1].html");
  rz::LabelRule body = Label("1", "内容");
  body.StartStr = u"<div id=\"body\">";
  body.EndStr = u"</div>";
  body.LabelLoop = 2;
  body.ToAbsolute = 1;
  rule->ContentRex.LabelRex = {body};
  rz::MultiPageRule& multi = rule->ContentRex.MultiPage;
  multi.MultiPageType = 1;
  multi.GatherFormat = u"article_<%id%>.html";
  multi.UrlFormat = site.Url("/article_<%id%>_<%step%>.html");
  multi.StartId = u"2";
  multi.Step = u"1";
  multi.MustContent = u"<div id=\"body\">";

  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  auto rows = ByUrl(Rows(*rule));
  ASSERT_EQ(rows.size(), 2u) << reports.All();
  EXPECT_EQ(rows[site.http.Url("/article_11.html")]["内容"],
            "Page one <a href=\"" + site.http.Url("/rel/x.html") + "\">x</a>|||Page two");
  EXPECT_EQ(rows[site.http.Url("/article_12.html")]["内容"], "Only page");
}

// A file name format that climbs out of the folder still saves below the job's folder.
TEST_F(RunnerTest, DownloadedFilesStayInTheirFolder) {
  Site site;
  auto rule = SiteJob(site, "escape", AccessDb());
  rule->ListUrlRex.Deep = 0;
  rule->ListUrlRex.Urls = {site.Url("/news/1.html")};
  rule->ContentRex.LabelRex[2].SaveFileFormat = u"../../../../outside-[原文件名]";
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  const fs::path jobFolder = box_ / "DB" / "escape";
  int inside = 0;
  for (const auto& e : fs::recursive_directory_iterator(box_.Root())) {
    if (e.path().filename().string().find("outside-pic") == std::string::npos) continue;
    const std::string path = e.path().string();
    EXPECT_EQ(path.rfind(jobFolder.string(), 0), 0u) << path;
    ++inside;
  }
  EXPECT_EQ(inside, 1);
  EXPECT_FALSE(fs::exists(box_.Root().parent_path() / "outside-pic.jpg"));
  const auto rows = Rows(*rule);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["内容"].find(".."), std::string::npos) << rows[0]["内容"];
}

TEST_F(RunnerTest, BrokenLabelPatternFailsItsItemsOnly) {
  Site site;
  auto rule = ArticleJob(site, "broken-label", AccessDb(), 1, 3);
  rz::LabelRule bad = Label("2", "坏标签");
  bad.ContentRizedeType = 1;
  bad.ContentByRex = u"(unclosed";
  rule->ContentRex.LabelRex.push_back(bad);
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  int named = 0;
  for (const auto& d : reports.Logs()) {
    const std::string line = S(d.LogText);
    if (line.find("坏标签") != std::string::npos && line.find("color=\"red\"") != std::string::npos)
      ++named;
  }
  EXPECT_EQ(named, 3) << reports.All();
  EXPECT_TRUE(reports.Has("内容采集完成,总共处理内容3条,失败内容3条")) << reports.All();
  EXPECT_EQ(Collected(Rows(*rule)), 0);  // left for a run with a mended rule
}

// Without a rewrite step plugged in, labels with rewrite rules are stored as collected, with
// one line that says so. A list area pattern that does not compile fails its pages only.
TEST_F(RunnerTest, MissingRewriteAndBrokenListPattern) {
  Site site;
  rz::GlobalSettings().OrigType = 0;
  auto rule = ArticleJob(site, "no-rewrite", AccessDb(), 1, 2);
  rz::LabelOriginal cut;
  cut.Id = u"1007";
  cut.Param1 = u"3";
  rule->ContentRex.LabelRex[0].Original = {cut};
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  EXPECT_EQ(reports.Count("伪原创步骤不可用"), 1) << reports.All();
  auto rows = ByUrl(Rows(*rule));
  EXPECT_EQ(rows[site.http.Url("/news/1.html")]["标题"], "Title 1");

  // With a rewrite step, its result is stored; a failing one fails the item with the red line.
  kite.SetRewrite([](rz::ToData& item, const std::vector<rz::LabelRule>&) {
    if (item.Fields[u"PageUrl"].find(u"/news/4.html") != std::u16string::npos) return false;
    item.Fields[u"标题"] = u"rewritten";
    return true;
  });
  auto again = ArticleJob(site, "with-rewrite", AccessDb(), 3, 5);
  again->ContentRex.LabelRex[0].Original = {cut};
  reports.Clear();
  ASSERT_EQ(kite.StartJob(again), 1);
  ASSERT_TRUE(reports.WaitFinished(2)) << reports.All();
  EXPECT_EQ(reports.Count("采内容--采集内容成功，但伪原创失败,出错的网址：<a href=\"" +
                          site.http.Url("/news/4.html")),
            1)
      << reports.All();
  rows = ByUrl(Rows(*again));
  EXPECT_EQ(rows[site.http.Url("/news/3.html")]["标题"], "rewritten");
  EXPECT_EQ(rows[site.http.Url("/news/4.html")]["已采"], "0");

  auto broken = SiteJob(site, "broken-area", AccessDb());
  broken->ListUrlRex.CodeBegin = u"<!--list(";
  broken->IsOriginal = 0;
  reports.Clear();
  ASSERT_EQ(kite.StartJob(broken), 1);
  ASSERT_TRUE(reports.WaitFinished(3)) << reports.All();
  int red = 0;
  for (const auto& d : reports.Logs()) {
    const std::string line = S(d.LogText);
    red += line.find("color=\"red\"") != std::string::npos && line.find("/list/") != std::string::npos;
  }
  EXPECT_EQ(red, 5) << reports.All();  // four broken pages and the missing one
  EXPECT_TRUE(reports.Has("网址采集完成,成功采集到新网址0个,失败5个")) << reports.All();
}

// Starts the job and calls `act` (a stop or a pause) from inside the report of its n-th
// collected item; returns once that report has come.
void RunUntilItems(rz::CKite& kite, Reports& reports, const rz::JobRulePtr& rule, int n,
                   std::function<void()> act) {
  auto ok = std::make_shared<std::atomic<int>>(0);
  reports.OnEach = [ok, n, act](const rz::LogData& d) {
    if (S(d.LogText).find("采内容--成功采集内容") != std::string::npos && ++*ok == n) act();
  };
  ASSERT_EQ(kite.StartJob(rule), 1);
  for (int i = 0; i < 6000 && ok->load() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Stop from inside a report during the content step: the run ends after the current units,
// the written rows are collected, the rest wait for the next run, which completes them.
TEST_F(RunnerTest, StopKeepsEveryRowOnceAndTheNextRunContinues) {
  Site site;
  auto rule = ArticleJob(site, "stop", AccessDb(), 1, 30);
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  RunUntilItems(kite, reports, rule, 5, [&] { kite.StopJob(); });
  WaitIdle(kite);
  EXPECT_EQ(kite.IsRunning.load(), 0);
  auto rows = Rows(*rule);
  EXPECT_EQ(rows.size(), 30u);
  const int written = Collected(rows);
  EXPECT_GE(written, 5);
  EXPECT_LT(written, 30);
  EXPECT_EQ(reports.Count("<strong>任务完成</strong>"), 0);

  reports.Clear();
  rule->IsGather = 0;
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished());
  EXPECT_TRUE(reports.Has("找到要采集的内容" + std::to_string(30 - written) + "条")) << reports.All();
  rows = Rows(*rule);
  EXPECT_EQ(rows.size(), 30u);
  EXPECT_EQ(Collected(rows), 30);
}

// Pause from inside a report: no worker goes on until resumed; nothing is lost or doubled.
TEST_F(RunnerTest, PauseHoldsEveryWorkerUntilResumed) {
  Site site;
  auto rule = ArticleJob(site, "pause", AccessDb(), 1, 30);
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  RunUntilItems(kite, reports, rule, 3, [&] { kite.PauseJob(); });
  EXPECT_EQ(kite.IsPaused.load(), 1);
  // Workers in the middle of a unit reach their next safe point and park there.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const size_t held = reports.Logs().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(reports.Logs().size(), held);
  EXPECT_LT(Collected(Rows(*rule)), 30);
  kite.ResumeJob();
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  const auto rows = Rows(*rule);
  EXPECT_EQ(rows.size(), 30u);
  EXPECT_EQ(Collected(rows), 30);
  EXPECT_EQ(reports.Count("采内容--成功采集内容"), 30);
}

// A stop while paused still ends every worker.
TEST_F(RunnerTest, StopWhilePausedEndsTheWorkers) {
  Site site;
  auto rule = ArticleJob(site, "pause-stop", AccessDb(), 1, 30);
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  RunUntilItems(kite, reports, rule, 2, [&] { kite.PauseJob(); });
  kite.StopJob();
  WaitIdle(kite);
  EXPECT_FALSE(kite.WorkersBusy());
  EXPECT_EQ(kite.IsPaused.load(), 0);
}

// More rows than the content queue takes at once: the feed waits for the workers, every row
// is collected once, and a stop releases a waiting feed.
TEST_F(RunnerTest, LongJobsAreFedAsTheWorkersGoAndStopCleanly) {
  Site site;
  for (int n = 1; n <= 150; ++n)
    site.http.Serve("/many/" + std::to_string(n) + ".html",
                    rztest::Page(Article(n, true), "text/html; charset=utf-8"));
  auto rule = ArticleJob(site, "many", AccessDb(), 1, 150, "many");
  rz::CKite kite;
  Reports reports;
  kite.OnLog.Connect(&reports, &Reports::Log);
  kite.OnFinished.Connect(&reports, &Reports::Finished);
  ASSERT_EQ(kite.StartJob(rule), 1);
  ASSERT_TRUE(reports.WaitFinished()) << reports.All();
  EXPECT_EQ(reports.Count("采内容--成功采集内容"), 150) << reports.All();
  EXPECT_EQ(Collected(Rows(*rule)), 150);

  auto stopped = ArticleJob(site, "many-stop", AccessDb(), 1, 150, "many");
  stopped->ContentRex.ThreadCount = 1;
  reports.Clear();
  RunUntilItems(kite, reports, stopped, 3, [&] { kite.StopJob(); });
  WaitIdle(kite);
  EXPECT_FALSE(kite.WorkersBusy());
  EXPECT_LT(Collected(Rows(*stopped)), 150);
}

// ---- rizede-cli run ----

void SaveQuietSettings() {
  rz::AppSettings settings;
  settings.FixedPauseMs = 0;
  ASSERT_TRUE(rz::SaveSettings(settings));
}

TEST_F(RunnerTest, CliRunsTheJobThroughItsSteps) {
  Site site;
  SaveQuietSettings();
  auto rule = SiteJob(site, "cli-run", AccessDb());
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  const std::string root = box_.Root().string();

  auto r = rztest::RunCli({"--root", root, "run", "cli-run", "--engine", "ACCESS"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string base = site.http.Url("");
  EXPECT_NE(r.out.find("采网址--成功采集到新网址：" + base + "/news/7.html\n"), std::string::npos)
      << r.out;
  // Red lines are marked, tags are gone.
  EXPECT_NE(r.out.find("! 采网址--列表页下载失败，出错的网址：" + base + "/list/b.html\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("<font"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n当前任务：测试任务 状态：任务完成 进度：7/7 任务结果--成功：6条 失败：1条 "
                       "重复：0条\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Rows(*rule).size(), 6u);

  // --steps for this run only: the content step alone finds nothing left.
  r = rztest::RunCli({"--root", root, "run", "cli-run", "--steps", "content", "--engine", "ACCESS"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("当前进入采集网址步骤"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("找到要采集的内容0条"), std::string::npos) << r.out;

  EXPECT_EQ(rztest::RunCli({"--root", root, "run", "no-such-job", "--engine", "ACCESS"}).exitCode, 1);
  EXPECT_EQ(rztest::RunCli({"--root", root, "run", "cli-run", "--steps", "links"}).exitCode, 2);
  EXPECT_EQ(rztest::RunCli({"--root", root, "run"}).exitCode, 2);
}

// All three steps: the publish step drives the publish worker the cli plugs in (local text
// files here) and marks what it published.
TEST_F(RunnerTest, CliPublishesWhatItCollected) {
  Site site;
  SaveQuietSettings();
  auto rule = SiteJob(site, "cli-publish", AccessDb());
  rule->IsPublish = 1;
  rule->EnableWebPublish = 0;
  rule->EnableLocalFile = 1;
  rule->LocalFilePublish.ModuleName = u"txt";
  rule->LocalFilePublish.ModuleType = u"LocalFile";
  rule->LocalFilePublish.LocalPath = U((box_.Root() / "out").string());
  rule->LocalFilePublish.ContentTmpl = u"<h1>[DB:标题]</h1>[DB:内容]";
  rule->LocalFilePublish.FileNameTmpl = u"item-[DB:ID]";
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto r = rztest::RunCli({"--root", box_.Root().string(), "run", "cli-publish", "--engine", "ACCESS"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("当前进入发布内容步骤,找到要发布的内容6条..."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("内容发布完成,总共采集到内容条数为6个,失败内容0个"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("状态：任务完成 进度：6/6 任务结果--成功：6条 失败：0条"), std::string::npos)
      << r.out;
  int files = 0;
  for (const auto& e : fs::directory_iterator(box_.Root() / "out")) files += e.path().extension() == ".txt";
  EXPECT_EQ(files, 6);
  int published = 0;
  for (const auto& row : Rows(*rule)) published += row["已发"] == "1";
  EXPECT_EQ(published, 6);

  // Published rows are not selected again.
  r = rztest::RunCli({"--root", box_.Root().string(), "run", "cli-publish", "--steps", "publish",
                      "--engine", "ACCESS"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("找到要发布的内容0条"), std::string::npos) << r.out;
}

// The collector's rewrite step runs before an item is stored (OrigType 0).
TEST_F(RunnerTest, CliRewritesBeforeStoring) {
  Site site;
  SaveQuietSettings();
  auto rule = ArticleJob(site, "cli-rewrite", AccessDb(), 1, 2);
  rz::LabelOriginal cut;  // keep the first five characters
  cut.Id = u"1007";
  cut.Param1 = u"5";
  rule->ContentRex.LabelRex[0].Original = {cut};
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto r = rztest::RunCli({"--root", box_.Root().string(), "run", "cli-rewrite", "--engine", "ACCESS"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("伪原创步骤不可用"), std::string::npos) << r.out;
  const auto rows = Rows(*rule);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["标题"], "Title");
  EXPECT_EQ(Collected(rows), 2);
}

TEST_F(RunnerTest, CliRunsOnTheDatabaseServer) {
  Site site;
  SaveQuietSettings();
  const rz::DbSettings db = rztest::MariaDb::Settings();
  auto rule = SiteJob(site, "cli-maria", db);
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto r = rztest::RunCli({"--root", box_.Root().string(), "run", "cli-maria", "--host",
                           S(db.SqlHost), "--port", S(db.Port), "--user", S(db.SqlUser),
                           "--database", S(db.SqlDb)});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(Rows(*rule).size(), 6u);
  EXPECT_EQ(Collected(Rows(*rule)), 6);

  // A server that does not answer: the run cannot start.
  r = rztest::RunCli({"--root", box_.Root().string(), "run", "cli-maria", "--port",
                      std::to_string(rztest::MariaDb::FreePort())});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
}

// Runs rizede-cli, sends SIGINT `interrupts` times once `trigger` was printed, returns the
// exit status and the output.
std::pair<int, std::string> InterruptCli(const std::string& root, const std::string& jobId,
                                         const std::string& trigger, int interrupts) {
  int out[2];
  if (pipe(out) != 0) return {-1, ""};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(RZ_CLI_PATH, RZ_CLI_PATH, "--root", root.c_str(), "run", jobId.c_str(), "--engine",
          "ACCESS", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  bool signalled = false;
  char buf[4096];
  ssize_t got;
  while ((got = read(out[0], buf, sizeof buf)) > 0) {
    text.append(buf, static_cast<size_t>(got));
    if (!signalled && text.find(trigger) != std::string::npos) {
      signalled = true;
      for (int i = 0; i < interrupts; ++i) {
        kill(pid, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!signalled) return {-1, text};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

// Articles 1..count under /folder/ that answer only after `delay`.
void ServeSlowArticles(Site& site, const std::string& folder, int count,
                       std::chrono::milliseconds delay) {
  for (int n = 1; n <= count; ++n)
    site.http.Handle("/" + folder + "/" + std::to_string(n) + ".html",
                     [n, delay](const httplib::Request&, httplib::Response& res) {
                       std::this_thread::sleep_for(delay);
                       res.set_content(Article(n), "text/html; charset=utf-8");
                     });
}

// A second Ctrl-C does not wait for the workers.
TEST_F(RunnerTest, CliSecondInterruptExitsAtOnce) {
  Site site;
  SaveQuietSettings();
  ServeSlowArticles(site, "stuck", 3, std::chrono::seconds(3));
  auto rule = ArticleJob(site, "cli-exit", AccessDb(), 1, 3, "stuck");
  rule->ContentRex.ThreadCount = 1;
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto [code, text] = InterruptCli(box_.Root().string(), "cli-exit", "当前进入采集内容步骤", 2);
  EXPECT_EQ(code, 130) << text;
  EXPECT_EQ(text.find("采内容--成功采集内容"), std::string::npos) << text;
  EXPECT_NE(text.find("当前任务：cli-exit "), std::string::npos) << text;
}

// Ctrl-C stops the run cleanly: exit 130 with the summary, no row lost or doubled.
TEST_F(RunnerTest, CliInterruptStopsTheRun) {
  Site site;
  SaveQuietSettings();
  // Slow articles so that the run is surely still going when the signal comes.
  ServeSlowArticles(site, "slow", 40, std::chrono::milliseconds(50));
  auto rule = ArticleJob(site, "cli-stop", AccessDb(), 1, 40, "slow");
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto [code, text] = InterruptCli(box_.Root().string(), "cli-stop", "采内容--成功采集内容", 1);
  EXPECT_EQ(code, 130) << text;
  EXPECT_NE(text.find("当前任务：cli-stop "), std::string::npos) << text;
  EXPECT_EQ(text.find("任务完成\n"), std::string::npos) << text;
  const auto rows = Rows(*rule);
  EXPECT_EQ(rows.size(), 40u);
  const int written = Collected(rows);
  EXPECT_GE(written, 1);
  EXPECT_LT(written, 40);
}

}  // namespace
