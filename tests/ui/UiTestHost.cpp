// Hosts the UI server with the real shell and a test page whose C++ handlers exercise the
// page bridge. Driven by the browser test over stdin/stdout: one JSON array per line in,
// one "OK <json>" or "ERR <text>" line out.
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/MainFrame.h"
#include "foundation/Text.h"
#include "platform/HtmlCtrl.h"
#include "platform/PageHost.h"
#include "platform/UiLoop.h"
#include "platform/UiServer.h"

#include "HostProtocol.h"

namespace fs = std::filesystem;
using pcutil::U16;
using pcutil::Utf16ToUtf8;
using rz::Json;

namespace {

std::vector<std::string> g_events;  // handler calls, read by the test
std::mutex g_logMutex;
std::vector<std::string> g_log;     // server log lines
rz::CChidFrame* g_frame = nullptr;

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

class CTestPage : public rz::CRizedeHtmlCtrl {
 public:
  explicit CTestPage(rz::CPageHost& host) : CRizedeHtmlCtrl(host) {}
  void OnInitialUpdate() override { NavigatePage(u"TestPage.html"); }
  void OnDocumentComplete(const std::u16string& url) override {
    g_events.push_back("complete " + U8(url));
    SetValue(u"txtName", u"filled by C++");
  }
  std::vector<rz::EventEntry> EventTable() override {
    return {
        {rz::kEventById, rz::kEvClick, u"btnHello", [](const rz::CElement& e) {
           g_events.push_back("click " + U8(e.id));
           return 1;
         }},
        {rz::kEventByTag, rz::kEvClick, u"td", [](const rz::CElement& e) {
           g_events.push_back("click td " + U8(e.id));
           return 1;
         }},
        {rz::kEventById, rz::kEvClick, u"otherName", [](const rz::CElement& e) {
           g_events.push_back("click by name " + U8(e.name));
           return 1;
         }},
        {rz::kEventSink, rz::kEvChange, u"selColor", [this](const rz::CElement& e) {
           // Reading the page from inside a handler must work (the answer comes on
           // another thread while the UI thread waits).
           g_events.push_back("change " + U8(e.id) + " value=" + U8(GetValue(u"selColor")));
           return 1;
         }},
        {rz::kEventById, rz::kEvDblClick, u"dbl", [](const rz::CElement& e) {
           g_events.push_back("dblclick " + U8(e.id));
           return 1;
         }},
        {rz::kEventById, rz::kEvMouseOver, u"hoverMe", [](const rz::CElement& e) {
           g_events.push_back("mouseover " + U8(e.id));
           return 1;
         }},
        {rz::kEventMapEnd, 0, u"", nullptr},
        {rz::kEventById, rz::kEvClick, u"plain", [](const rz::CElement&) {
           g_events.push_back("after end marker");
           return 1;
         }},
    };
  }
  long OnWindowMessage(int message, long long) override {
    if (message == rz::kMsgTabActivated) g_events.push_back("activated " + std::to_string(PageId()));
    if (message == rz::kMsgCloseRequest) {
      g_events.push_back("close request " + std::to_string(PageId()));
      g_frame->ClosePage(this);
    }
    return 0;
  }
};

Json Tabs(rz::CChidFrame& frame) {
  Json tabs = Json::array();
  rz::TabEntry* active = frame.Active();
  for (const auto& e : frame.Entries())
    tabs.push_back({{"page", e.page->PageId()}, {"key", U8(e.key)}, {"kind", e.kind},
                    {"title", U8(e.title)}, {"closable", e.closable},
                    {"active", active && active->page.get() == e.page.get()}});
  return tabs;
}

rz::CRizedeHtmlCtrl* Page(rz::CPageHost& host, const Json& cmd) {
  return host.FindPage(cmd.at(1).get<int>());
}

}  // namespace

int main(int argc, char** argv) {
  // A temporary program folder with the built skin and the test page.
  fs::path root = fs::temp_directory_path() / ("rz-ui-" + std::to_string(::getpid()));
  fs::create_directories(root);
  fs::copy(fs::path(RZ_PROGRAM_DIR) / "skin", root / "skin", fs::copy_options::recursive);
  fs::copy_file(fs::path(RZ_SOURCE_DIR) / "tests/ui/pages/TestPage.html",
                root / "skin/Default/Html/TestPage.html");
  fs::create_symlink("../../theme.ini", root / "skin/Default/Html/escape-link.txt");
  pcutil::SetProgramFolder(U16(root.string().c_str()));

  rz::CUiLoop loop;
  rz::CUiLoop::SetCurrent(&loop);
  loop.Start();
  rz::CPageHost host(loop);
  host.SetReadTimeout(std::chrono::milliseconds(3000));
  std::vector<std::string> opened;  // outside addresses the shell was asked to open
  rz::ShellOptions options;
  options.shellOpen = [&opened](const std::string& target, bool) { opened.push_back(target); };
  rz::CMainFrame frame(host, options);
  g_frame = &frame.Child();
  loop.SetIdleHandler([&] { frame.UpdateCommandUi(); });
  for (int kind : {rz::PageJobEditor, rz::PageOptions, rz::PageDataManager})
    frame.Child().SetPageFactory(kind, [](rz::CPageHost& h, const std::u16string&) {
      return std::make_unique<CTestPage>(h);
    });
  loop.Send([&] { frame.Create(); });

  rz::CUiServer server(host);
  rz::UiServerOptions serverOptions;
  serverOptions.port = 0;
  serverOptions.log = [](const std::string& line) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back(line);
  };
  const int served = rztest::ServeHostCommands(
      server, serverOptions, loop,
      // Waiting for a page polls the UI thread from here, so the page can load meanwhile.
      [&](const std::string& op, const Json& cmd) {
        if (op != "wait-ready") return false;
        bool ready = false;
        for (int i = 0; i < 200 && !ready; ++i) {
          loop.Send([&] {
            auto* page = Page(host, cmd);
            ready = page && page->IsDocumentReady();
          });
          if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::cout << "OK " << Json(ready).dump() << std::endl;
        return true;
      },
      [&](const std::string& op, const Json& cmd, Json& result) {
        auto s = [&](size_t i) { return U16(cmd.at(i).get<std::string>().c_str()); };
        if (op == "open") {
          auto* page = frame.Child().OpenPage(s(2), cmd.at(1).get<int>(), s(3), true, cmd.size() > 4);
          result = page ? page->PageId() : 0;
        } else if (op == "options") {
          result = frame.Child().OpenOptionsPage()->PageId();
        } else if (op == "tabs") {
          result = Tabs(frame.Child());
        } else if (op == "close-current") {
          frame.Child().CloseCurrentPage();
        } else if (op == "set-page-title") {
          frame.Child().SetPageTitle(Page(host, cmd), s(2));
        } else if (op == "command") {
          frame.OnCommand(cmd.at(1).get<int>());
        } else if (op == "ui") {
          result = host.Ui();
        } else if (op == "opened") {
          result = opened;
        } else if (op == "events") {
          result = g_events;
          g_events.clear();
        } else if (op == "log") {
          std::lock_guard<std::mutex> lock(g_logMutex);
          result = g_log;
        } else if (op == "get-value") {
          result = U8(Page(host, cmd)->GetValue(s(2)));
        } else if (op == "set-value") {
          Page(host, cmd)->SetValue(s(2), s(3));
        } else if (op == "get-checked") {
          result = Page(host, cmd)->GetChecked(s(2));
        } else if (op == "set-checked") {
          Page(host, cmd)->SetChecked(s(2), cmd.at(3).get<int>());
        } else if (op == "get-radio") {
          result = Page(host, cmd)->GetRadioIndex(s(2));
        } else if (op == "set-radio") {
          Page(host, cmd)->SetRadioIndex(s(2), cmd.at(3).get<int>());
        } else if (op == "get-options") {
          rz::OptionList list;
          int selected = Page(host, cmd)->GetSelectOptions(s(2), list);
          Json options = Json::array();
          for (auto& [text, value] : list) options.push_back({U8(text), U8(value)});
          result = {{"options", options}, {"selected", selected}};
        } else if (op == "set-options") {
          rz::OptionList list;
          for (auto& pair : cmd.at(3))
            list.emplace_back(U16(pair[0].get<std::string>().c_str()), U16(pair[1].get<std::string>().c_str()));
          Page(host, cmd)->SetSelectOptions(s(2), list, cmd.at(4).get<int>());
        } else if (op == "get-attr") {
          result = U8(Page(host, cmd)->GetAttribute(s(2), s(3)));
        } else if (op == "set-title") {
          Page(host, cmd)->SetTitle(s(2), s(3));
        } else if (op == "get-inner") {
          result = U8(Page(host, cmd)->GetInnerHtml(s(2)));
        } else if (op == "set-inner") {
          Page(host, cmd)->SetInnerHtml(s(2), s(3));
        } else if (op == "doc-html") {
          result = U8(Page(host, cmd)->GetDocumentHtml());
        } else if (op == "row-index") {
          result = Page(host, cmd)->FindRowIndex(s(2), s(3));
        } else if (op == "at-point") {
          rz::CElement e = Page(host, cmd)->ElementAtPoint(cmd.at(2).get<int>(), cmd.at(3).get<int>());
          result = {{"tag", U8(e.tag)}, {"id", U8(e.id)}};
        } else if (op == "script") {
          Page(host, cmd)->RunScript(s(2));
        } else {
          throw std::runtime_error("unknown command " + op);
        }
      });
  if (served != 0) return served;
  server.Stop();
  loop.Quit();
  loop.Join();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
