// Keyword jobs: related-keyword look-up against local search pages, merging into the job's
// list, and the keyword content feed.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "collect/KeyWordThread.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"

namespace {

std::u16string U(const std::string& s) { return pcutil::Utf8ToUtf16(s); }

std::string ListSection(const std::string& url, const std::string& charset) {
  return "<ListUrlRex><Deep>1</Deep><Urls><Item><![CDATA[" + url +
         "]]></Item></Urls><CodeBegin><![CDATA[<div id=\"rs\">]]></CodeBegin><CodeEnd><![CDATA[</div>]]></CodeEnd>"
         "<RealUrl><![CDATA[" + charset + "]]></RealUrl></ListUrlRex>";
}

void WriteSources(const rztest::Sandbox& box, const rztest::HttpFixture& site) {
  const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg>";
  rztest::WriteFile(box / "System/KeyWord/KeyWords.xml",
                    head + "<Item>" + ListSection(site.Url("/zh") + "?wd=[澜岳参数]", "utf-8") + "</Item></Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyWords_en.xml",
                    head + "<Item>" + ListSection(site.Url("/en") + "?q=[澜岳参数]", "gb2312") + "</Item></Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyContent.xml",
                    head + "<Item>" + ListSection(site.Url("/search") + "?k=[澜岳参数]&p=<1,2,0,1>", "utf-8") +
                        "<ContentRex><LabelRex><Item><Id>1</Id><LabelName>标题</LabelName></Item></LabelRex></ContentRex>"
                        "</Item></Cfg>");
  rztest::WriteFile(box / "System/KeyWord/KeyContent_en.xml", head + "</Cfg>");
}

std::string Results(const std::vector<std::string>& texts) {
  std::string page = "<html><a href=/top>top</a><div id=\"rs\">";
  for (size_t i = 0; i < texts.size(); ++i)
    page += "<a href=\"/r" + std::to_string(i) + "\"> " + texts[i] + " </a>";
  return page + "</div></html>";
}

struct Collector : pcutil::SignalReceiver {
  std::mutex lock;
  std::vector<rz::ToData> results;
  void OnKeywords(rz::ToData& d) {
    std::lock_guard<std::mutex> hold(lock);
    results.push_back(d);
  }
};

void WaitIdle(const pcutil::CBaseThread& worker) {
  for (int i = 0; i < 1000 && worker.ThreadCount() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

TEST(KeywordFilters, MustAndNot) {
  const struct {
    const char* candidate;
    const char* must;
    const char* no;
    bool allowed;
  } cases[] = {
      {"手机价格", "", "", true},         {"手机价格", "手机", "", true},
      {"电脑价格", "手机|平板", "", false}, {"平板电脑", "手机|平板", "", true},
      {"手机价格", "", "价格", false},     {"iPhone Case", "iphone(*)case", "", true},
      {"a.b", "a.b", "", true},           {"axb", "a.b", "", false},
      {"手机 (新)", "(新)", "", true},     {"手机", "", "(*)", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rz::KeywordAllowed(U(c.candidate), U(c.must), U(c.no)), c.allowed) << c.candidate << " " << c.must;
}

TEST(KeywordMerge, RepeatsLimitAndLanguage) {
  rz::ToData found;
  found.Links = {U("甲"), U("新一"), U("新一"), U("新二")};
  std::vector<std::u16string> list = {U("甲")};
  auto m = rz::MergeFoundKeywords(list, found, 0, true);
  EXPECT_EQ(list, (std::vector<std::u16string>{U("甲"), U("新一"), U("新二")}));
  EXPECT_EQ(m.OkCount, 2);
  EXPECT_EQ(m.FailCount, 2);
  ASSERT_EQ(m.LogLines.size(), 4u);
  EXPECT_EQ(m.LogLines[0], U("关键词“甲”重复出现！已被排除！"));
  EXPECT_EQ(m.LogLines[1], U("关键词“新一”添加成功！\r\n"));

  std::vector<std::u16string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back(U("k" + std::to_string(i)));
  found.Links = {U("k1"), U("新"), U("另")};
  m = rz::MergeFoundKeywords(ten, found, 10, true);
  EXPECT_TRUE(m.LimitReached);
  EXPECT_EQ(ten.size(), 10u);
  EXPECT_EQ(m.LogLines.back(), U("关键词采集达到每次采集相关关键词数量上限10条！"));
  EXPECT_EQ(m.LogLines.size(), 2u) << "the candidates after the limit are ignored";

  std::vector<std::u16string> none;
  found.Links = {U("新")};
  m = rz::MergeFoundKeywords(none, found, 0, false);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(m.LogLines, (std::vector<std::u16string>{U("关键词“新”添加失败（您未选择采集中文源，过滤此关键词）！\r\n")}));

  EXPECT_EQ(rz::SplitKeywords(U("a\r\n\r\nb\r\n")), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(rz::JoinKeywords({u"a", u"b"}), u"a\r\nb");
}

TEST(KeywordWorker, LooksUpEveryKeywordOnTheSelectedSources) {
  rztest::Sandbox box;
  pcutil::SetFixedPauseMs(0);
  rztest::HttpFixture site;
  WriteSources(box, site);
  site.Serve("/zh", rztest::Page(Results({"手机价格", "手机壳", "电脑"}), "text/html; charset=utf-8"));
  site.Serve("/en", rztest::Page(pcutil::EncodeCharset(U(Results({"phone", "手机报价"})), "gbk"), "text/html"));

  rz::KeywordRex rex;
  rex.Keywords = U("手机\r\n\r\n平板");
  rex.MustKeyword = U("手机|phone");
  rex.NotKeyword = U("壳");
  rz::CKeyWordThread worker;
  Collector got;
  worker.OnKeywords.Connect(&got, &Collector::OnKeywords);
  EXPECT_EQ(worker.StartKeywords(true, true, rex), 2);
  WaitIdle(worker);
  ASSERT_EQ(got.results.size(), 4u);  // two keywords, two sources each
  EXPECT_EQ(got.results[0].Links, (std::vector<std::u16string>{U("手机价格")}));
  EXPECT_EQ(got.results[0].Text, U(site.Url("/zh") + "?wd=%E6%89%8B%E6%9C%BA"));
  EXPECT_EQ(got.results[1].Links, (std::vector<std::u16string>{u"phone", U("手机报价")}));
  EXPECT_EQ(got.results[1].Text, U(site.Url("/en") + "?q=%CA%D6%BB%FA"));

  // Only the English sources; a page that cannot be downloaded ends that keyword's look-up.
  site.Serve("/en", rztest::HttpReply{404, {}, ""});
  got.results.clear();
  worker.StartKeywords(false, true, rex);
  WaitIdle(worker);
  ASSERT_EQ(got.results.size(), 2u);
  for (const auto& r : got.results) {
    EXPECT_EQ(r.ResultCode, 0);
    EXPECT_EQ(r.Text, rz::kKeywordLookupFailed);
    EXPECT_TRUE(r.Links.empty());
  }
  pcutil::SetFixedPauseMs(300);
}

TEST(KeywordContentFeed, ResultLinksBecomeArticlesOnce) {
  rztest::Sandbox box;
  rztest::HttpFixture site;
  WriteSources(box, site);
  site.Handle("/search", [](const httplib::Request& req, httplib::Response& res) {
    const std::string p = req.get_param_value("p");
    std::string page = "<div id=\"rs\"><a href=\"/art" + p + "\">a</a><a href=\"/old\">o</a>";
    if (p == "1") page += "<a href=\"http://blogsearch.baidu.com/b?x=1&ad1=tail\">b</a>";
    res.set_content(page + "</div>", "text/html; charset=utf-8");
  });
  rz::JobRule job;
  job.Type = 2;
  job.Charset = u"utf-8";
  job.KeywordRex.Keywords = U("手机\r\n平板");
  job.EnableEnglishSrc = 0;
  const std::u16string oldKey = pcutil::UrlKey(U(site.Url("/old")));
  std::vector<rz::ListUrlData> units;
  const int n = rz::FeedKeywordContent(
      job, [&](const std::u16string& key) { return key == oldKey; },
      [&](rz::ListUrlData& unit) { units.push_back(unit); });
  EXPECT_EQ(n, 4);  // two keywords, two result pages each
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[0].Charset, u"utf-8");
  ASSERT_EQ(units[0].Content.LabelRex.size(), 1u);
  EXPECT_EQ(units[0].Content.LabelRex[0].LabelName, U("标题"));
  ASSERT_EQ(units[0].Pages.size(), 2u) << pcutil::Utf16ToUtf8(units[0].Pages[0].PageUrl);
  EXPECT_EQ(units[0].Pages[0].PageUrl, U(site.Url("/art1")));
  EXPECT_EQ(units[0].Pages[1].PageUrl, u"http://blogsearch.baidu.com/b?x=1");
  ASSERT_EQ(units[1].Pages.size(), 1u);
  EXPECT_EQ(units[1].Pages[0].PageUrl, U(site.Url("/art2")));
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].Target, "/search?k=%E6%89%8B%E6%9C%BA&p=1");
  EXPECT_EQ(requests[3].Target, "/search?k=%E5%B9%B3%E6%9D%BF&p=2");

  std::atomic<int32_t> running{0};
  EXPECT_EQ(rz::FeedKeywordContent(job, nullptr, [](rz::ListUrlData&) {}, &running), 0);
}

namespace {

struct StepLog {
  std::mutex lock;
  std::vector<std::u16string> lines;
  std::vector<rz::CKeywordStep::Counts> counts;
  std::atomic<bool> finished{false};
  void Attach(rz::CKeywordStep& step) {
    step.Report = [this](const std::u16string& line, const rz::CKeywordStep::Counts& c) {
      std::lock_guard<std::mutex> hold(lock);
      lines.push_back(line);
      counts.push_back(c);
    };
    step.Finished = [this] { finished = true; };
  }
  void Wait() {
    for (int i = 0; i < 1000 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
};

}  // namespace

TEST(KeywordStep, FoundKeywordsAreFilteredLimitedAndSavedInTheJob) {
  rztest::Sandbox box;
  pcutil::SetFixedPauseMs(0);
  rztest::HttpFixture site;
  WriteSources(box, site);
  site.Serve("/zh", rztest::Page(Results({"手机价格", "电脑", "手机壳", "手机", "手机报价", "手机膜"}),
                                 "text/html; charset=utf-8"));
  site.Serve("/en", rztest::Page(Results({"phone"}), "text/html"));

  auto job = std::make_shared<rz::JobRule>();
  job->Type = 2;
  job->JobId = u"kw1";
  job->KeywordRex.Keywords = U("手机");
  job->KeywordRex.MustKeyword = U("手机");
  job->KeywordRex.MaxKeyWord = u"4";
  ASSERT_TRUE(rz::SaveJobRule(*job));

  rz::CKeywordStep step;
  StepLog log;
  log.Attach(step);
  EXPECT_EQ(step.Start(job), 1);
  log.Wait();
  ASSERT_TRUE(log.finished);
  EXPECT_EQ(log.lines, (std::vector<std::u16string>{
                           U("当前进入采集关键词步骤..."), U("关键词“手机价格”添加成功！\r\n"),
                           U("关键词“手机壳”添加成功！\r\n"), U("关键词“手机”重复出现！已被排除！"),
                           U("关键词“手机报价”添加成功！\r\n"), U("关键词采集达到每次采集相关关键词数量上限4条！"),
                           U("采集相关关键词完成,总共采集到内容条数为3个！")}));
  EXPECT_EQ(log.counts.back().OkCount, 3);
  EXPECT_EQ(log.counts.back().FailCount, 1);
  EXPECT_EQ(log.counts.back().DoneCount, 2) << "the worker ends after the keyword it is on";
  EXPECT_EQ(log.counts.back().TotalCount, 1);

  const auto saved = rz::ReadJobRuleFile(rz::JobFilePath(u"kw1"));
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->KeywordRex.Keywords, U("手机\r\n手机价格\r\n手机壳\r\n手机报价"));
  EXPECT_EQ(job->KeywordRex.Keywords, saved->KeywordRex.Keywords);

  // Without the Chinese sources nothing is added and the file keeps its keywords.
  job->EnableChinaSrc = 0;
  job->KeywordRex.MustKeyword.clear();
  job->KeywordRex.MaxKeyWord = u"0";
  rz::CKeywordStep english;
  StepLog log2;
  log2.Attach(english);
  english.Start(job);
  log2.Wait();
  ASSERT_TRUE(log2.finished);
  EXPECT_EQ(log2.lines[1], U("关键词“phone”添加失败（您未选择采集中文源，过滤此关键词）！\r\n"));
  EXPECT_EQ(log2.lines.back(), U("采集相关关键词完成,总共采集到内容条数为0个！"));
  EXPECT_EQ(rz::ReadJobRuleFile(rz::JobFilePath(u"kw1"))->KeywordRex.Keywords,
            U("手机\r\n手机价格\r\n手机壳\r\n手机报价"));
  pcutil::SetFixedPauseMs(300);
}
