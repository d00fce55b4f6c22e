// Hosts the collector's own pages (tree, job run pages, options, scheduler) on the real
// shell, in a sandbox program folder with a local fixture site to collect. Jobs use the
// "ACCESS" engine (one SQLite file per job) to stay light. The shutdown after tasks is a
// fake that only counts. Driven by collector.test.mjs over stdin/stdout like UiTestHost.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "app/Collector.h"
#include "app/MainFrame.h"
#include "foundation/Text.h"
#include "platform/UiServer.h"

#include "HostProtocol.h"
#include "store/Settings.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;
using pcutil::U16;
using pcutil::Utf16ToUtf8;
using rz::Json;

namespace {

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

std::string Article(const std::string& folder, int n) {
  return "<html><body><h1>" + folder + " 标题 " + std::to_string(n) + "</h1><div id=\"body\">正文 " +
         std::to_string(n) + "</div></body></html>";
}

// /news/: six quick articles; /slow/: forty that answer slowly, for pause and stop.
void ServeSite(rztest::HttpFixture& http) {
  for (const auto& [folder, count, delay] :
       {std::tuple<std::string, int, int>{"news", 6, 150}, {"slow", 40, 400}, {"plan", 2, 0}}) {
    std::string list = "<html><body><!--list--><ul>";
    for (int n = 1; n <= count; ++n) {
      const std::string path = "/" + folder + "/" + std::to_string(n) + ".html";
      list += "<li><a href=\"" + path + "\">" + std::to_string(n) + "</a></li>";
      rztest::HttpReply reply = rztest::Page(Article(folder, n), "text/html; charset=utf-8");
      reply.DelayMs = delay;
      http.Serve(path, reply);
    }
    list += "</ul><!--/list--></body></html>";
    http.Serve("/" + folder + "/list.html", rztest::Page(list, "text/html; charset=utf-8"));
  }
}

Json Tabs(rz::CChidFrame& frame) {
  Json tabs = Json::array();
  rz::TabEntry* active = frame.Active();
  for (const auto& e : frame.Entries())
    tabs.push_back({{"page", e.page->PageId()}, {"key", U8(e.key)}, {"kind", e.kind},
                    {"title", U8(e.title)}, {"active", active && active->page.get() == e.page.get()}});
  return tabs;
}

}  // namespace

int main() {
  rztest::Sandbox box;
  {
    rz::AppSettings settings;
    settings.DBTYPE = u"ACCESS";
    settings.SqlDb.clear();
    settings.MaxJobCount = 1;
    settings.FixedPauseMs = 0;
    rz::SaveSettings(settings);
  }
  rztest::HttpFixture site;
  ServeSite(site);

  rz::CUiLoop loop;
  rz::CUiLoop::SetCurrent(&loop);
  loop.Start();
  rz::CPageHost host(loop);
  rz::ShellOptions options;
  options.shellOpen = [](const std::string&, bool) {};
  rz::CMainFrame frame(host, options);
  loop.SetIdleHandler([&] { frame.UpdateCommandUi(); });
  rz::CCollectorUi collector(frame);
  int shutdowns = 0;
  collector.Scheduler.shutdown = [&shutdowns](const std::u16string&) {
    ++shutdowns;
    return true;
  };
  loop.Send([&] {
    frame.Create();
    collector.Create();
  });
  // Quicker ticks than the program's one and ten seconds keep the test short.
  collector.StartTimers(250, 1000);

  rz::CUiServer server(host);
  rz::UiServerOptions serverOptions;
  serverOptions.port = 0;
  serverOptions.log = [](const std::string&) {};
  const int served = rztest::ServeHostCommands(
      server, serverOptions, loop, nullptr,
      [&](const std::string& op, const Json& cmd, Json& result) {
        auto s = [&](size_t i) { return U16(cmd.at(i).get<std::string>().c_str()); };
        rz::CLeftView* left = collector.Left();
        if (op == "store-job") {
          // A job made from the fixture rule file: ids, names, site and folder filled in.
          std::u16string text;
          const std::u16string fixture = U16(RZ_FIXTURES_DIR "/app/NewsJob.xml");
          if (pcutil::ReadTextFile(fixture, text, pcutil::TextModeDetect) != 0)
            throw std::runtime_error("fixture missing");
          text = pcutil::ReplaceAll(text, u"{jobid}", s(1));
          text = pcutil::ReplaceAll(text, u"{jobname}", s(2));
          text = pcutil::ReplaceAll(text, u"{siteid}", s(3));
          text = pcutil::ReplaceAll(text, u"{sitename}", s(4));
          text = pcutil::ReplaceAll(text, u"{folder}", s(5));
          text = pcutil::ReplaceAll(text, u"{site}", U16(site.Url("").c_str()));
          auto rule = rz::ParseJobRule(text);
          if (!rule) throw std::runtime_error("fixture does not parse");
          result = left->StoreJob(rule);
        } else if (op == "sites") {
          result = Json::array();
          for (const auto& st : collector.Store.Sites) {
            Json jobs = Json::array();
            for (const auto& j : st->Jobs) jobs.push_back(U8(j->JobId));
            result.push_back({{"id", U8(st->SiteId)}, {"name", U8(st->SiteName)}, {"jobs", jobs}});
          }
        } else if (op == "job-flags") {
          auto job = collector.Store.FindJob(s(1));
          if (!job) throw std::runtime_error("no such job");
          result = {job->IsGather, job->IsOriginal, job->IsPublish};
        } else if (op == "tabs") {
          result = Tabs(frame.Child());
        } else if (op == "command") {
          frame.OnCommand(cmd.at(1).get<int>());
        } else if (op == "selection") {
          const auto& sel = left->Selection();
          Json jobs = Json::array();
          for (const auto& j : sel.jobIds) jobs.push_back(U8(j));
          result = {{"any", sel.any}, {"siteRow", sel.siteRow}, {"jobs", jobs},
                    {"active", sel.active}, {"paused", sel.paused}};
        } else if (op == "running") {
          result = left->RunningJobCount();
        } else if (op == "queue") {
          result = collector.Scheduler.Queue().Size();
        } else if (op == "plan") {
          // What the job editor's plan settings would store: every N minutes, due now.
          auto job = collector.Store.FindJob(s(1));
          if (!job) throw std::runtime_error("no such job");
          *job->PlanJob = rz::PlanJob{0, rz::PlanEveryMinutes, s(2), 0, rz::PlanNow()};
          collector.Store.SaveIndex();
          left->Rebuild();
        } else if (op == "plan-state") {
          auto job = collector.Store.FindJob(s(1));
          if (!job) throw std::runtime_error("no such job");
          result = {{"IsClose", job->PlanJob->IsClose}, {"LastTime", job->PlanJob->LastTime},
                    {"NextTime", job->PlanJob->NextTime}};
        } else if (op == "cfg") {
          std::u16string text;
          pcutil::ReadTextFile(rz::SettingsFilePath(), text, pcutil::TextModeDetect);
          result = U8(text);
        } else if (op == "index") {
          std::u16string text;
          pcutil::ReadTextFile(rz::IndexFilePath(), text, pcutil::TextModeDetect);
          result = U8(text);
        } else if (op == "ui") {
          result = host.Ui();
        } else if (op == "shutdowns") {
          result = shutdowns;
        } else if (op == "set-shutdown") {
          if (frame.ShutdownAfterTasks() != cmd.at(1).get<bool>()) frame.OnCommand(32806);
        } else {
          throw std::runtime_error("unknown command " + op);
        }
      });
  if (served != 0) return served;
  collector.Stop();
  server.Stop();
  loop.Quit();
  loop.Join();
  return 0;
}
