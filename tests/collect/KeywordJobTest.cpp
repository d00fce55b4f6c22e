// A keyword job through the runner: keywords found, filtered, limited and saved in the job
// file; the search results collected as articles and stored once each.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "collect/Kite.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"

namespace {

std::u16string U(const std::string& s) { return pcutil::Utf8ToUtf16(s); }
std::string S(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

struct Log : pcutil::SignalReceiver {
  std::mutex lock;
  std::vector<rz::LogData> all;
  std::atomic<bool> finished{false};
  void OnLog(const rz::LogData& d) {
    std::lock_guard<std::mutex> hold(lock);
    all.push_back(d);
  }
  void OnFinished() { finished = true; }
  std::string Text() {
    std::lock_guard<std::mutex> hold(lock);
    std::string out;
    for (const auto& d : all) out += S(d.LogText) + "\n";
    return out;
  }
};

std::string Section(const std::string& url) {
  return "<ListUrlRex><Deep>1</Deep><Urls><Item><![CDATA[" + url +
         "]]></Item></Urls><CodeBegin><![CDATA[<div id=\"rs\">]]></CodeBegin><CodeEnd><![CDATA[</div>]]>"
         "</CodeEnd><RealUrl><![CDATA[utf-8]]></RealUrl></ListUrlRex>";
}

}  // namespace

TEST(KeywordJob, RunsEndToEnd) {
  rztest::Sandbox box;
  pcutil::SetFixedPauseMs(0);
  rz::GlobalSettings().OrigType = 1;  // no rewriting in the content step
  rztest::HttpFixture site;
  const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg>";
  rztest::WriteFile(box / "System/KeyWord/KeyWords.xml",
                    head + "<Item>" + Section(site.Url("/related") + "?wd=[澜岳参数]") + "</Item></Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyWords_en.xml", head + "</Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyContent.xml",
                    head + "<Item>" + Section(site.Url("/search") + "?k=[澜岳参数]") +
                        "<ContentRex><LabelRex><Item><Id>1</Id><LabelName>标题</LabelName><StartStr><![CDATA[<h1>]]>"
                        "</StartStr><EndStr><![CDATA[</h1>]]></EndStr></Item></LabelRex></ContentRex></Item></Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyContent_en.xml", head + "</Cfg>");

  site.Serve("/related", rztest::Page("<div id=\"rs\"><a href=/a>手机价格</a><a href=/b>平板</a>"
                                      "<a href=/c>手机壳</a><a href=/d>手机报价</a></div>",
                                      "text/html; charset=utf-8"));
  // Every keyword's results name /art1; the others are new for each keyword.
  site.Handle("/search", [](const httplib::Request& req, httplib::Response& res) {
    const std::string k = req.get_param_value("k");
    std::string page = "<div id=\"rs\"><a href=\"/art1\">one</a>";
    if (k == "手机") page += "<a href=\"/art2\">two</a>";
    if (k == "手机价格") page += "<a href=\"/art3\">three</a><a href=\"/art2\">two</a>";
    res.set_content(page + "</div>", "text/html; charset=utf-8");
  });
  for (int i = 1; i <= 3; ++i)
    site.Serve("/art" + std::to_string(i),
               rztest::Page("<html><h1>文章" + std::to_string(i) + "</h1></html>", "text/html; charset=utf-8"));

  auto job = std::make_shared<rz::JobRule>();
  job->Type = 2;
  job->JobId = u"kwjob";
  job->JobName = u"kwjob";
  job->IsPublish = 0;
  job->GatherInterval = 0;
  job->Charset = u"utf-8";
  job->DbSettings.Type = u"ACCESS";
  job->DbSettings.SqlDb.clear();
  job->KeywordRex.Keywords = U("手机");
  job->KeywordRex.MustKeyword = U("手机");
  job->KeywordRex.MaxKeyWord = u"2";
  rz::LabelRule title;
  title.Id = u"1";
  title.LabelName = U("标题");
  job->ContentRex.LabelRex = {title};
  ASSERT_TRUE(rz::SaveJobRule(*job));

  rz::CKite kite;
  Log log;
  kite.OnLog.Connect(&log, &Log::OnLog);
  kite.OnFinished.Connect(&log, &Log::OnFinished);
  ASSERT_EQ(kite.StartJob(job), 1);
  for (int i = 0; i < 3000 && !log.finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(log.finished) << log.Text();
  for (int i = 0; i < 500 && kite.WorkersBusy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const std::string text = log.Text();
  EXPECT_NE(text.find("当前进入采集关键词步骤..."), std::string::npos) << text;
  EXPECT_NE(text.find("关键词“手机价格”添加成功！"), std::string::npos) << text;
  EXPECT_NE(text.find("关键词采集达到每次采集相关关键词数量上限2条！"), std::string::npos) << text;
  EXPECT_NE(text.find("采集相关关键词完成,总共采集到内容条数为1个！"), std::string::npos) << text;
  EXPECT_NE(text.find("当前进入采集内容步骤,正在采集自动匹配的内容..."), std::string::npos) << text;
  EXPECT_EQ(text.find("平板"), std::string::npos) << "refused by MustKeyword";

  // Found keywords are written back to the job file, so the next run starts with them.
  const auto saved = rz::ReadJobRuleFile(rz::JobFilePath(u"kwjob"));
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->KeywordRex.Keywords, U("手机\r\n手机价格"));

  rz::ContentDatabase db(job->DbSettings, job->JobId);
  ASSERT_TRUE(db.Open(false)) << S(db.LastError);
  ASSERT_TRUE(db.QuerySql(u"select * from Content order by ID"));
  std::map<std::string, int> stored;
  for (long i = 0; i < db.RecordCount(); ++i) {
    rz::FieldMap row;
    ASSERT_TRUE(db.ReadRow(row, i));
    stored[S(row[U("标题")])] += 1;
    EXPECT_EQ(row[U("已采")], u"1");
  }
  db.CloseQuery();
  EXPECT_EQ(stored, (std::map<std::string, int>{{"文章1", 1}, {"文章2", 1}, {"文章3", 1}})) << text;
  EXPECT_EQ(db.CountLink(pcutil::UrlKey(U(site.Url("/art1")))), 1);
  pcutil::SetFixedPauseMs(300);
  rz::GlobalSettings().OrigType = 0;
}
