// The program side of the page bridge, with a scripted shell on the other end of the link.
#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "app/MainFrame.h"
#include "foundation/Text.h"
#include "platform/HtmlCtrl.h"
#include "platform/PageHost.h"

using namespace rz;

namespace {

// A shell that records what the program sends and answers reads with canned results.
class FakeShell : public CShellLink {
 public:
  explicit FakeShell(CPageHost& host) : host_(host) {}
  std::shared_ptr<FakeShell> self;
  bool SendText(const std::string& text) override {
    Json m = Json::parse(text);
    {
      std::lock_guard<std::mutex> lock(mutex);
      sent.push_back(m);
    }
    if (m.value("t", "") == "call" && m.contains("id") && answer) {
      Json reply = answer(m);
      if (!reply.is_null()) {
        reply["t"] = "reply";
        reply["id"] = m["id"];
        // Answers come from the server's connection thread.
        std::thread([this, reply] { host_.OnShellMessage(self, reply.dump()); }).join();
      }
    }
    return true;
  }
  std::string Peer() const override { return "fake"; }
  std::vector<Json> Sent(const std::string& type) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Json> out;
    for (auto& m : sent)
      if (m.value("t", "") == type) out.push_back(m);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    sent.clear();
  }
  void Say(const Json& m) { host_.OnShellMessage(self, m.dump()); }

  std::function<Json(const Json&)> answer;
  std::mutex mutex;
  std::vector<Json> sent;

 private:
  CPageHost& host_;
};

class Page : public CRizedeHtmlCtrl {
 public:
  explicit Page(CPageHost& host) : CRizedeHtmlCtrl(host) {}
  void OnInitialUpdate() override { NavigatePage(u"Html\\Test.html"); }
  void OnDocumentComplete(const std::u16string&) override {
    ++completes;
    SetValue(u"a", u"1");
  }
  std::vector<EventEntry> EventTable() override {
    auto log = [this](const char* what) {
      return [this, what](const CElement& e) {
        calls.push_back(std::string(what) + ":" + pcutil::Utf16ToUtf8(e.id));
        return 7;
      };
    };
    return {{kEventById, kEvClick, u"btn", log("id")},
            {kEventByTag, kEvClick, u"TD", log("td")},
            {kEventSink, kEvChange, u"sel", log("sink")},
            {kEventMapEnd, 0, u"", nullptr},
            {kEventById, kEvClick, u"late", log("late")}};
  }
  int completes = 0;
  std::vector<std::string> calls;
};

struct Bridge : ::testing::Test {
  CUiLoop loop;
  std::unique_ptr<CPageHost> host;
  std::shared_ptr<FakeShell> shell;
  void SetUp() override {
    loop.Start();
    host = std::make_unique<CPageHost>(loop);
    host->SetReadTimeout(std::chrono::milliseconds(2000));
    shell = std::make_shared<FakeShell>(*host);
    shell->self = shell;
  }
  void TearDown() override {
    loop.Send([&] { host.reset(); });
    loop.Quit();
    loop.Join();
  }
  void Sync() { loop.Send([] {}); }
  void Connect() {
    host->OnShellConnected(shell);
    Sync();
  }
  void Ready(int page, const std::string& url = "/Html/Test.html") {
    shell->Say({{"t", "ready"}, {"page", page}, {"url", url}});
    Sync();
  }
};

}  // namespace

TEST_F(Bridge, WithoutAShellReadsAreEmptyAtOnceAndWritesAreKeptForLater) {
  std::unique_ptr<Page> page;
  loop.Send([&] {
    page = std::make_unique<Page>(*host);
    host->OpenPage(*page, {{"place", "tab"}});
    EXPECT_EQ(page->Url(), u"/Html/Test.html");  // "Html\" prefix resolves the same way
    EXPECT_EQ(page->GetValue(u"a"), u"");
    EXPECT_EQ(page->GetRadioIndex(u"g"), -1);
    EXPECT_EQ(page->FindRowIndex(u"t", u"r"), -1);
    OptionList list{{u"x", u"y"}};
    EXPECT_EQ(page->GetSelectOptions(u"s", list), -1);
    page->SetInnerHtml(u"box", u"first");
    page->SetInnerHtml(u"box", u"second");  // replaces the first in the journal
    page->RunScript(u"one();");
    page->RunScript(u"two();");
  });
  // A shell connects: it gets the state, the page loads, the journal is replayed in order
  // and the document-complete step runs once.
  Connect();
  auto states = shell->Sent("state");
  ASSERT_EQ(states.size(), 1u);
  ASSERT_EQ(states[0]["pages"].size(), 1u);
  EXPECT_EQ(states[0]["pages"][0]["url"], "/Html/Test.html");
  Ready(page->PageId());
  auto calls = shell->Sent("call");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0]["args"]["html"], "second");
  EXPECT_EQ(calls[1]["args"]["code"], "one();");
  EXPECT_EQ(calls[2]["args"]["code"], "two();");
  EXPECT_EQ(calls[3]["op"], "setValue");  // written by the document-complete step
  EXPECT_EQ(page->completes, 1);

  // A second shell takes over: the old one is told, the page reloads and shows the same
  // writes without running the document-complete step again.
  auto old = shell;
  shell = std::make_shared<FakeShell>(*host);
  shell->self = shell;
  Connect();
  EXPECT_EQ(old->Sent("takeover").size(), 1u);
  old->Say({{"t", "ready"}, {"page", page->PageId()}, {"url", "/Html/Test.html"}});  // ignored
  Sync();
  EXPECT_TRUE(shell->Sent("call").empty());
  Ready(page->PageId());
  EXPECT_EQ(shell->Sent("call").size(), 4u);
  EXPECT_EQ(page->completes, 1);
  loop.Send([&] { page.reset(); });
}

TEST_F(Bridge, ReadsWaitForTheShellsAnswer) {
  shell->answer = [](const Json& m) -> Json {
    std::string op = m["op"];
    if (op == "getValue") return {{"ok", true}, {"result", m["args"]["el"] == "n" ? Json(12) : Json("v")}};
    if (op == "getSelectOptions")
      return {{"ok", true}, {"result", {{"options", Json::array({Json::array({"红", "red"}), Json::array({"绿", "green"})})},
                                   {"selected", 1}}}};
    if (op == "getChecked") return {{"ok", true}, {"result", 3}};
    if (op == "elementAtPoint") return {{"ok", true}, {"result", {{"tag", "td"}, {"id", "c€"}}}};
    if (op == "getInnerHtml") return {{"ok", false}, {"error", "no-element"}};
    return nullptr;  // no answer: the read times out
  };
  Connect();
  std::unique_ptr<Page> page;
  loop.Send([&] {
    page = std::make_unique<Page>(*host);
    host->OpenPage(*page, {{"place", "tab"}});
  });
  Ready(page->PageId());
  loop.Send([&] {
    EXPECT_EQ(page->GetValue(u"x"), u"v");
    EXPECT_EQ(page->GetValue(u"n"), u"12");  // numbers are read as text
    EXPECT_EQ(page->GetChecked(u"c"), 3);
    OptionList list;
    EXPECT_EQ(page->GetSelectOptions(u"s", list), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, u"红");
    EXPECT_EQ(list[1].second, u"green");
    OptionList kept{{u"a", u"1"}, {u"b", u"2"}};
    EXPECT_EQ(page->GetSelectOptions(u"s", kept, true), 1);
    EXPECT_EQ(kept[0].first, u"a");  // same count: left as it was
    CElement at = page->ElementAtPoint(1, 2);
    EXPECT_EQ(at.tag, u"td");
    EXPECT_EQ(at.id, u"c€");
    EXPECT_EQ(page->GetInnerHtml(u"missing"), u"");
    host->SetReadTimeout(std::chrono::milliseconds(50));
    EXPECT_EQ(page->FindRowIndex(u"t", u"r"), -1);  // unanswered
    page.reset();
  });
}

TEST_F(Bridge, EventsFindTheirHandlerByMapOrder) {
  Connect();
  std::unique_ptr<Page> page;
  loop.Send([&] {
    page = std::make_unique<Page>(*host);
    host->OpenPage(*page, {{"place", "tab"}});
  });
  Ready(page->PageId());
  auto sinks = shell->Sent("page.sinks");
  ASSERT_EQ(sinks.size(), 1u);
  EXPECT_EQ(sinks[0]["map"].size(), 3u);  // entries after the end marker are not used
  auto event = [&](int e, const char* sink, int entry, const char* id, const char* name, const char* tag) {
    shell->Say({{"t", "event"}, {"page", page->PageId()}, {"e", e}, {"sink", sink}, {"entry", entry},
                {"src", {{"id", id}, {"name", name}, {"tag", tag}}}});
  };
  event(kEvClick, "doc", -1, "btn", "", "button");
  event(kEvClick, "doc", -1, "", "btn", "input");       // by name
  event(kEvClick, "doc", -1, "cell9", "", "td");        // by tag, any id
  event(kEvDblClick, "doc", -1, "btn", "", "button");   // no entry for this event
  event(kEvClick, "doc", -1, "late", "", "span");       // after the end marker
  event(kEvChange, "element", 2, "sel", "", "select");  // element sink
  event(kEvChange, "doc", -1, "sel", "", "select");     // change has no document entry
  event(kEvChange, "element", 0, "btn", "", "button");  // wrong entry for the event
  Sync();
  EXPECT_EQ(page->calls, (std::vector<std::string>{"id:btn", "id:", "td:cell9", "sink:sel"}));
  loop.Send([&] { page.reset(); });
}

TEST_F(Bridge, KeyFilterRunsThePagesKeydown) {
  Connect();
  std::unique_ptr<Page> page;
  loop.Send([&] {
    page = std::make_unique<Page>(*host);
    host->OpenPage(*page, {{"place", "tab"}});
  });
  Ready(page->PageId());
  shell->Clear();
  struct Case {
    int code;
    bool ctrl;
    bool taken;
  } cases[] = {{67, true, true}, {86, true, true}, {88, true, true}, {90, true, true},
               {65, true, false}, {67, false, false}};
  loop.Send([&] {
    for (const auto& c : cases) EXPECT_EQ(page->PreTranslateKey(c.code, c.ctrl), c.taken) << c.code;
  });
  auto calls = shell->Sent("call");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0]["args"]["code"], "keydown('67');");
  EXPECT_EQ(calls[3]["args"]["code"], "keydown('90');");
  loop.Send([&] { page.reset(); });
}

TEST(TabStrip, WidthIsSharedWhenCrowded) {
  struct Case {
    int width, count, expected;
  } cases[] = {{500, 6, 63}, {500, 2, 150}, {420, 2, 150}, {419, 2, 149},
               {100, 3, 0},  {1000, 0, 150}, {1920, 12, 150}, {1920, 13, 138}};
  for (const auto& c : cases) EXPECT_EQ(TabWidthFor(c.width, c.count), c.expected) << c.width << "/" << c.count;
}

TEST_F(Bridge, TabsOnePerKeyAndKindStartPageNeverCloses) {
  CMainFrame frame(*host);
  struct Closing : Page {
    Closing(CPageHost& h, CChidFrame& f) : Page(h), frame(f) {}
    long OnWindowMessage(int message, long long) override {
      if (message == kMsgCloseRequest) frame.ClosePage(this);
      return 0;
    }
    CChidFrame& frame;
  };
  for (int kind : {PageJobEditor, PageOptions})
    frame.Child().SetPageFactory(kind, [&frame](CPageHost& h, const std::u16string&) {
      return std::make_unique<Closing>(h, frame.Child());
    });
  loop.Send([&] {
    frame.Create();
    auto& child = frame.Child();
    ASSERT_EQ(child.Entries().size(), 1u);
    EXPECT_EQ(child.Entries()[0].title, u"最新动态");
    EXPECT_FALSE(child.Entries()[0].closable);

    CRizedeHtmlCtrl* options = child.OpenOptionsPage();
    EXPECT_EQ(child.OpenOptionsPage(), options);  // activated, not opened twice
    ASSERT_EQ(child.Entries().size(), 2u);
    EXPECT_EQ(child.Entries()[1].key, u"1000");
    EXPECT_EQ(child.Entries()[1].title, u"选项");

    CRizedeHtmlCtrl* job = child.OpenPage(u"J1", PageJobEditor, u"编辑规则---a", true, false);
    EXPECT_NE(child.OpenPage(u"J1", PageOptions, u"x", true, false), job);  // other kind
    EXPECT_EQ(child.FindPageByKey(u"", PageStart), nullptr);                // empty key finds nothing
    EXPECT_EQ(child.FindPageByKey(u"j1", PageJobEditor), nullptr);          // case-sensitive
    EXPECT_EQ(child.Entries().size(), 4u);
    EXPECT_EQ(child.OpenPage(u"J2", PageJob, u"x", true, false), nullptr);  // no factory

    // Closing the active tab activates the one to its left.
    child.CloseCurrentPage();
    EXPECT_EQ(child.Entries().size(), 3u);
    EXPECT_EQ(child.Active()->page.get(), job);
    // An inactive page closing itself leaves the active tab active.
    child.ClosePage(options);
    EXPECT_EQ(child.Entries().size(), 2u);
    EXPECT_EQ(child.Active()->page.get(), job);

    // The start page never closes, whether asked directly or by a close request.
    child.ActivatePage(*child.FindPageByWindow(child.Entries()[0].page.get()));
    child.CloseCurrentPage();
    child.OnTab(child.Entries()[0].page->PageId(), "close");
    EXPECT_EQ(child.Entries().size(), 2u);

    // A close request through the tab reaches the page, which closes itself.
    child.OnTab(job->PageId(), "click");
    EXPECT_EQ(child.Active()->page.get(), job);
    child.OnTab(job->PageId(), "dblclick");
    EXPECT_EQ(child.Entries().size(), 1u);
    EXPECT_EQ(child.Active()->kind, PageStart);
  });
  loop.Send([] {});  // closed pages are destroyed after their handler returned
}

TEST_F(Bridge, CommandsToggleStateAndDisabledTreeCommandsDoNotRun) {
  CMainFrame frame(*host);
  std::vector<int> ran;
  frame.leftCommand = [&](int id) { ran.push_back(id); };
  frame.leftCommandEnabled = [](int id) { return id == 9500; };
  Connect();
  loop.Send([&] {
    frame.Create();
    frame.OnCommand(32783);
    EXPECT_FALSE(frame.LeftVisible());
    EXPECT_EQ(host->Ui()["left"], false);
    EXPECT_EQ(host->Ui()["commands"]["32783"]["checked"], false);
    frame.OnCommand(32806);
    EXPECT_TRUE(frame.ShutdownAfterTasks());
    EXPECT_EQ(host->Ui()["commands"]["32806"]["checked"], true);
    EXPECT_EQ(host->Ui()["commands"]["9502"]["enabled"], false);
    EXPECT_EQ(host->Ui()["commands"]["10007"]["enabled"], true);
    for (int id : {9500, 9502, 9503, 10007}) frame.OnCommand(id);
  });
  EXPECT_EQ(ran, (std::vector<int>{9500, 10007}));
  auto hello = shell->Sent("hello");
  ASSERT_FALSE(hello.empty());
  EXPECT_EQ(hello.back()["v"], kUiBridgeVersion);
}

TEST_F(Bridge, ModalDialogsFromTheUiThreadAndFromWorkers) {
  struct Dialog : CRizedeHtmlCtrl {
    explicit Dialog(CPageHost& h) : CRizedeHtmlCtrl(h) {}
    void OnInitialUpdate() override { NavigatePage(u"Dlg.html"); }
    std::vector<EventEntry> EventTable() override {
      return {{kEventById, kEvClick, u"ok", [this](const CElement&) {
                 Host().EndDialog(PageId(), 7);
                 return 1;
               }}};
    }
    long OnWindowMessage(int message, long long) override {
      if (message == kMsgCloseRequest) Host().EndDialog(PageId(), 2);
      return 0;
    }
  };
  Connect();
  std::unique_ptr<Dialog> dialog;
  loop.Send([&] { dialog = std::make_unique<Dialog>(*host); });
  const int id = dialog->PageId();
  // The shell's side, played from another thread while the dialog waits.
  auto answer = [&](const Json& finish) {
    return std::thread([&, finish] {
      for (int i = 0; i < 400 && shell->Sent("page.open").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      shell->Say({{"t", "ready"}, {"page", id}, {"url", "/Html/Dlg.html"}});
      shell->Say(finish);
    });
  };

  // A worker shows the dialog through the UI thread and gets the code it ended with.
  std::thread shellSide = answer({{"t", "event"}, {"page", id}, {"e", kEvClick}, {"sink", "doc"},
                                  {"src", {{"id", "ok"}, {"name", ""}, {"tag", "button"}}}});
  int code = host->RunModal(*dialog, {{"title", "t"}});
  shellSide.join();
  EXPECT_EQ(code, 7);
  auto opened = shell->Sent("page.open");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0]["place"], "dialog");
  EXPECT_EQ(shell->Sent("page.close").size(), 1u);

  // On the UI thread the dialog runs a nested loop; the overlay's close button cancels.
  shell->Clear();
  shellSide = answer({{"t", "dialog.cancel"}, {"page", id}});
  loop.Send([&] { code = host->RunModal(*dialog, {{"title", "t"}}); });
  shellSide.join();
  EXPECT_EQ(code, 2);
  loop.Send([&] { dialog.reset(); });
}
