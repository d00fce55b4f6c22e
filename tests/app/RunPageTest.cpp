// The job run page with the real runner and no browser at all: a queued job still runs to
// its end (a closed browser must not hold a run up), and its runner stays listed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "app/Collector.h"
#include "foundation/Text.h"
#include "platform/UiLoop.h"
#include "store/Settings.h"
#include "xml/XmlFile.h"

namespace {

using pcutil::U16;

rz::JobRulePtr FixtureJob(const std::string& siteUrl) {
  std::u16string text;
  EXPECT_EQ(pcutil::ReadTextFile(U16(RZ_FIXTURES_DIR "/app/NewsJob.xml"), text, pcutil::TextModeDetect), 0);
  for (auto [key, value] : {std::pair<const char16_t*, std::u16string>{u"{jobid}", u"j1"},
                            {u"{jobname}", u"任务"}, {u"{siteid}", u"s1"}, {u"{sitename}", u"站"},
                            {u"{folder}", u"news"}, {u"{site}", U16(siteUrl.c_str())}})
    text = pcutil::ReplaceAll(text, key, value);
  return rz::ParseJobRule(text);
}

TEST(JobRunPage, RunsToTheEndWithoutABrowser) {
  rztest::Sandbox box;
  rz::AppSettings settings;
  settings.DBTYPE = u"ACCESS";
  settings.SqlDb.clear();
  settings.FixedPauseMs = 0;
  settings.MaxJobCount = 0;
  ASSERT_TRUE(rz::SaveSettings(settings));
  rztest::HttpFixture http;
  http.Serve("/news/list.html",
             rztest::Page("<!--list--><a href=\"/news/1.html\">1</a><a href=\"/news/2.html\">2</a>"
                          "<a href=\"/news/3.html\">3</a><!--/list-->"));
  for (int n = 1; n <= 3; ++n)
    http.Serve("/news/" + std::to_string(n) + ".html",
               rztest::Page("<h1>标题" + std::to_string(n) + "</h1><div id=\"body\">正文</div>",
                            "text/html; charset=utf-8"));

  rz::CUiLoop loop;
  loop.Start();
  {
    rz::CPageHost host(loop);
    rz::CMainFrame frame(host);
    rz::CCollectorUi ui(frame);
    loop.Send([&] {
      frame.Create();
      ui.Create();
      ASSERT_TRUE(ui.Left()->StoreJob(FixtureJob(http.Url(""))));
      ui.Scheduler.QueueJobs({u"j1", u"j1"});
      ui.Scheduler.QueueTick();
      // Queued twice: the second take-out finds the page and opens no other.
      int pages = 0;
      for (const auto& e : frame.Child().Entries()) pages += e.kind == rz::PageJob;
      EXPECT_EQ(pages, 1);
    });
    std::u16string title;
    int running = 1;
    for (int i = 0; i < 300 && (title != u"[停止]任务" || running != 0); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      loop.Send([&] {
        if (auto* entry = frame.Child().FindPageByKey(u"j1", rz::PageJob)) title = entry->title;
        running = ui.Left()->RunningJobCount();
      });
    }
    EXPECT_EQ(title, u"[停止]任务");
    EXPECT_EQ(running, 0);
    loop.Send([&] {
      ASSERT_EQ(rz::RunnerList().size(), 1u);
      rz::LogData log = rz::RunnerList()[0]->Snapshot();
      EXPECT_EQ(log.OkCount, 3);
      EXPECT_EQ(log.FailCount, 0);
    });
    ui.Stop();
    loop.Quit();
    loop.Join();
  }
}

}  // namespace
