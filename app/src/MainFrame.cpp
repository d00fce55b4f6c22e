#include "app/MainFrame.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "foundation/Text.h"
#include "platform/Theme.h"

extern char** environ;

namespace rz {

const char16_t* const kProductName = u"澜岳伪原创采集器";
const char16_t* const kProductVersion = u"2011.11.11";

using pcutil::Utf16ToUtf8;

int TabWidthFor(int stripClientWidth, int tabCount) {
  if (tabCount <= 0) return kTabWidth;
  int free = stripClientWidth - kTabStripFreeRight;
  if (kTabWidth * tabCount > free) return std::max(0, free) / tabCount;
  return kTabWidth;
}

namespace {

Json Item(int id, const char* text) { return {{"id", id}, {"text", text}}; }
Json Separator() { return {{"sep", true}}; }

// A modal dialog page with OK / Cancel buttons (the message box and the About box).
class CDialogView : public CRizedeHtmlCtrl {
 public:
  CDialogView(CPageHost& host, std::u16string file,
              std::vector<std::pair<std::u16string, std::u16string>> fill, std::u16string script = {})
      : CRizedeHtmlCtrl(host), file_(std::move(file)), fill_(std::move(fill)), script_(std::move(script)) {}
  void OnInitialUpdate() override { NavigatePage(file_); }
  void OnDocumentComplete(const std::u16string&) override {
    for (const auto& [id, html] : fill_) SetInnerHtml(id, html);
    if (!script_.empty()) RunScript(script_);
  }
  std::vector<EventEntry> EventTable() override {
    return {{kEventById, kEvClick, u"btnOk", [this](const CElement&) { return End(1); }},
            {kEventById, kEvClick, u"btnCancel", [this](const CElement&) { return End(2); }}};
  }
  long OnWindowMessage(int message, long long) override {
    if (message == kMsgCloseRequest) End(2);
    return 0;
  }

 private:
  int End(int code) {
    Host().EndDialog(PageId(), code);
    return 1;
  }
  std::u16string file_;
  std::vector<std::pair<std::u16string, std::u16string>> fill_;
  std::u16string script_;
};

// The tab strip pictures named in the theme file; a missing key or file leaves the picture
// out and the strip draws without it.
Json TabImages() {
  Json images = Json::object();
  for (const char* name : {"background", "btnbackground", "close", "icon"}) {
    std::u16string file = ReadThemeValue(u"tabbar_" + pcutil::Utf8ToUtf16(name));
    std::error_code ec;
    if (!file.empty() && std::filesystem::is_regular_file(
                             pcutil::ToFsPath(SkinFolder() + u"TabBar/" + file), ec))
      images[name] = "/TabBar/" + Utf16ToUtf8(file);
    else
      images[name] = "";
  }
  return images;
}

}  // namespace

// New/edit job (10002, 10001) come with the job editor, import/export job (10012, 10013) with
// the import and export dialogs, and the web publishing and database module managers
// (32796, 32803) with the module managers, and the HTTP request tool and link extractor
// (32795, 32799) with their tool pages; until then they are left out, not shown dead.
Json MenuBar() {
  return Json::array({
      {{"text", "文件(&F)"},
       {"items", {Item(10007, "新建站点"), Separator(), Item(9500, "开始采集"),
                  Item(9503, "暂停采集"), Item(9502, "停止采集"), Separator(),
                  Item(57665, "退出(&X)")}}},
      {{"text", "视图(&V)"},
       {"items", {Item(32783, "左边任务列表栏"), Item(32784, "工具栏"), Item(59393, "状态栏(&S)")}}},
      {{"text", "工具&T)"},
       {"items", {Item(32800, "中文分词效果测试"), Item(32802, "编辑同义词库"), Separator(),
                  Item(32806, "完成任务后关机"), Item(32788, "选项")}}},
      {{"text", "帮助(&H)"},
       {"items", {Item(32773, "帮助"), Item(32779, "官方主页"), Item(32778, "官方论坛"),
                  Item(32777, "在线升级"), Separator(), Item(57664, "关于...")}}},
  });
}

Json ToolbarItems() {
  return Json::array({Item(10007, "新建站点"), Item(9500, "开始"), Item(9503, "暂停"), Item(9502, "停止")});
}

// ---------------------------------------------------------------- CChidFrame

CChidFrame::CChidFrame(CPageHost& host) : host_(host) {}

CChidFrame::~CChidFrame() = default;

void CChidFrame::SetPageFactory(int kind, PageFactory factory) {
  if (kind >= 0 && kind < static_cast<int>(factories_.size())) factories_[kind] = std::move(factory);
}

void CChidFrame::Create(std::unique_ptr<CRizedeHtmlCtrl> startPage) {
  TabEntry& start = AddPage(std::move(startPage), u"最新动态", u"", PageStart, false, false);
  ActivatePage(start);
}

TabEntry& CChidFrame::AddPage(std::unique_ptr<CRizedeHtmlCtrl> page, const std::u16string& title,
                              const std::u16string& key, int kind, bool closable, bool icon) {
  ++nextPageId_;
  TabEntry entry;
  entry.key = key;
  entry.kind = kind;
  entry.title = title;
  entry.closable = closable;
  entry.icon = icon;
  entry.page = std::move(page);
  CRizedeHtmlCtrl* raw = entry.page.get();
  entries_.push_back(std::move(entry));
  host_.OpenPage(*raw, {{"place", "tab"},
                               {"title", Utf16ToUtf8(title)},
                               {"key", Utf16ToUtf8(key)},
                               {"kind", kind},
                               {"closable", closable},
                               {"icon", icon}});
  // The page's first update may have opened more pages: look it up again.
  return *FindPageByWindow(raw);
}

TabEntry* CChidFrame::FindPageByKey(const std::u16string& key, int kind) {
  if (key.empty()) return nullptr;
  for (auto& entry : entries_)
    if (entry.kind == kind && entry.key == key) return &entry;
  return nullptr;
}

TabEntry* CChidFrame::FindPageByWindow(const CRizedeHtmlCtrl* page) {
  for (auto& entry : entries_)
    if (entry.page.get() == page) return &entry;
  return nullptr;
}

TabEntry* CChidFrame::Active() {
  for (auto& entry : entries_)
    if (entry.page && entry.page->PageId() == activePage_) return &entry;
  return nullptr;
}

void CChidFrame::ActivatePage(TabEntry& entry) {
  int pageId = entry.page->PageId();
  activePage_ = pageId;
  host_.ActivateTab(pageId);
  shownPage_ = pageId;
  entry.page->OnWindowMessage(kMsgTabActivated, 0);
}

void CChidFrame::RemoveEntry(size_t index) {
  // The page may be the one whose handler is running: it is destroyed once that returns.
  std::shared_ptr<CRizedeHtmlCtrl> page(std::move(entries_[index].page));
  entries_.erase(entries_.begin() + static_cast<long>(index));
  host_.ClosePage(page->PageId());
  host_.Loop().Post([page] {});
}

void CChidFrame::CloseCurrentPage() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].page->PageId() != activePage_) continue;
    if (i == 0) return;  // the start page never closes
    ActivatePage(entries_[i - 1]);
    RemoveEntry(i);
    return;
  }
}

void CChidFrame::ClosePage(const CRizedeHtmlCtrl* page) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].page.get() != page) continue;
    if (page->PageId() == activePage_) return CloseCurrentPage();
    if (i == 0) return;
    RemoveEntry(i);
    return;
  }
}

void CChidFrame::SetPageTitle(const CRizedeHtmlCtrl* page, const std::u16string& title) {
  if (TabEntry* entry = FindPageByWindow(page)) {
    entry->title = title;
    host_.UpdatePage(page->PageId(), {{"title", Utf16ToUtf8(title)}});
  }
}

CRizedeHtmlCtrl* CChidFrame::OpenPage(const std::u16string& key, int kind,
                                      const std::u16string& title, bool closable, bool icon) {
  if (TabEntry* found = FindPageByKey(key, kind)) {
    ActivatePage(*found);
    return found->page.get();
  }
  if (kind < 0 || kind >= static_cast<int>(factories_.size()) || !factories_[kind]) return nullptr;
  std::unique_ptr<CRizedeHtmlCtrl> page = factories_[kind](host_, key);
  if (!page) return nullptr;
  CRizedeHtmlCtrl* raw = page.get();
  AddPage(std::move(page), title, key, kind, closable, icon);
  if (TabEntry* entry = FindPageByWindow(raw)) ActivatePage(*entry);
  return raw;
}

CRizedeHtmlCtrl* CChidFrame::OpenOptionsPage() {
  return OpenPage(u"1000", PageOptions, u"选项", true, false);
}

CRizedeHtmlCtrl* CChidFrame::OpenDataManagerPage(const std::u16string& jobId,
                                                 const std::u16string& jobName) {
  return OpenPage(jobId, PageDataManager, pcutil::Format(u"编辑数据库---%s", jobName), true, false);
}

void CChidFrame::OnTab(int pageId, const std::string& action) {
  TabEntry* entry = nullptr;
  for (auto& e : entries_)
    if (e.page && e.page->PageId() == pageId) entry = &e;
  if (!entry) return;
  if (action == "click") {
    ActivatePage(*entry);  // 1025 to the strip
  } else if (action == "close" || action == "dblclick") {
    // A close request; the page decides. The double click's first click has already
    // activated the tab.
    entry->page->OnWindowMessage(kMsgCloseRequest, 0);
  }
}

void CStartPageView::OnInitialUpdate() {
  if (url_.empty()) NavigatePage(u"StartPage.html");
  else Navigate(pcutil::Utf8ToUtf16(url_));
}

// ---------------------------------------------------------------- CMainFrame

CMainFrame::CMainFrame(CPageHost& host, ShellOptions options)
    : host_(host), options_(std::move(options)), child_(host) {}

CMainFrame::~CMainFrame() = default;

void CMainFrame::Create() {
  std::string caption = Utf16ToUtf8(pcutil::Format(u"%s V%s", kProductName, kProductVersion));
  host_.hello = [caption] {
    return Json{{"caption", caption},
                {"product", Utf16ToUtf8(kProductName)},
                {"version", Utf16ToUtf8(kProductVersion)},
                {"tabImages", TabImages()}};
  };
  host_.onCommand = [this](int command) { OnCommand(command); };
  host_.onTab = [this](int pageId, const std::string& action) { child_.OnTab(pageId, action); };
  host_.SetUi({{"menus", MenuBar()},
               {"toolbarItems", ToolbarItems()},
               {"left", leftVisible_},
               {"leftWidth", 300},
               {"toolbar", toolbarVisible_},
               {"statusbar", statusVisible_},
               {"status", "就绪"}});
  std::string start = options_.startPageUrl.empty() ? std::string()
                                                    : options_.startPageUrl + "/dongtai.html";
  child_.Create(std::make_unique<CStartPageView>(host_, start));
  UpdateCommandUi();
}

void CMainFrame::SetLeftView(std::unique_ptr<CRizedeHtmlCtrl> view) {
  left_ = std::move(view);
  if (left_) host_.OpenPage(*left_, {{"place", "left"}});
}

void CMainFrame::SetStatusText(const std::u16string& text) {
  host_.SetUi({{"status", Utf16ToUtf8(text)}});
}

void CMainFrame::UpdateCommandUi() {
  Json commands = Json::object();
  auto tree = [this](int id) {
    if (id == 10007) return true;  // always
    return leftCommandEnabled ? leftCommandEnabled(id) : false;
  };
  for (int id : {10007, 9500, 9503, 9502})
    commands[std::to_string(id)] = {{"enabled", tree(id)}, {"checked", false}};
  commands["32783"] = {{"enabled", true}, {"checked", leftVisible_}};
  commands["32784"] = {{"enabled", true}, {"checked", toolbarVisible_}};
  commands["59393"] = {{"enabled", true}, {"checked", statusVisible_}};
  commands["32806"] = {{"enabled", true}, {"checked", shutdownAfterTasks_}};
  if (commands != lastCommands_) {
    lastCommands_ = commands;
    host_.SetUi({{"commands", commands}});
  }
}

void CMainFrame::OnCommand(int command) {
  const std::string& site = options_.siteUrl;
  switch (command) {
    case 57665:
      if (onExit) onExit();
      return;
    case 32783:
      leftVisible_ = !leftVisible_;
      host_.SetUi({{"left", leftVisible_}});
      break;
    case 32784:
      toolbarVisible_ = !toolbarVisible_;
      host_.SetUi({{"toolbar", toolbarVisible_}});
      break;
    case 59393:
      statusVisible_ = !statusVisible_;
      host_.SetUi({{"statusbar", statusVisible_}});
      break;
    case 32806:
      shutdownAfterTasks_ = !shutdownAfterTasks_;
      break;
    case 32788:
      child_.OpenOptionsPage();
      break;
    case 32800: OpenOutside(site + "/splitword/", false); break;
    case 32773: OpenOutside(site + "/help/", false); break;
    case 32779: OpenOutside(site + "/", false); break;
    case 32778: OpenOutside(site + "/bbs/", false); break;
    case 32802: OpenOutside(Utf16ToUtf8(pcutil::ProgramPath(u"System/")), true); break;
    case 32777:
      if (onUpdate) onUpdate();
      else StartUpdater();
      break;
    case 57664:
      ShowAbout();
      break;
    default:
      if (leftCommand) {
        // Disabled commands are not run, whatever the shell sent.
        bool enabled = command == 10007 || (leftCommandEnabled && leftCommandEnabled(command));
        bool tree = command == 9500 || command == 9503 || command == 9502;
        if (!tree || enabled) leftCommand(command);
      }
      break;
  }
  UpdateCommandUi();
}

void CMainFrame::OpenOutside(const std::string& target, bool isFolder) {
  if (options_.shellOpen) return options_.shellOpen(target, isFolder);
  if (!isFolder && host_.HasShell()) return host_.OpenInBrowser(target);
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    pid_t pid = 0;
    const char* argv[] = {"xdg-open", target.c_str(), nullptr};
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
      // Reap it on a detached thread-free path: xdg-open returns quickly.
      int status = 0;
      waitpid(pid, &status, 0);
      return;
    }
  }
  std::cerr << "open: " << target << "\n";
}

void CMainFrame::StartUpdater() {
  std::string updater = Utf16ToUtf8(pcutil::ProgramPath(u"Update"));
  std::error_code ec;
  if (!std::filesystem::exists(updater, ec)) {
    MessageBox(u"找不到升级程序 Update，无法在线升级。");
    return;
  }
  std::string argument = "-" + options_.manifestUrl + "-Rizede-1";
  pid_t pid = 0;
  const char* argv[] = {updater.c_str(), argument.c_str(), nullptr};
  if (posix_spawn(&pid, updater.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    MessageBox(u"升级程序 Update 无法启动。");
}

int CMainFrame::MessageBox(const std::u16string& text, const std::u16string& caption, bool okCancel) {
  CDialogView box(host_, u"MessageBox.html",
                  {{u"msgText", pcutil::HtmlEscape(text)}, {u"msgCaption", pcutil::HtmlEscape(caption)}},
                  okCancel ? u"" : u"document.getElementById('btnCancel').style.display='none';");
  return host_.RunModal(box, {{"title", Utf16ToUtf8(caption)},
                              {"width", 360},
                              {"height", 170},
                              {"buttons", okCancel ? "okcancel" : "ok"}});
}

void CMainFrame::ShowAbout() {
  std::u16string title = pcutil::Format(u"关于 %s", kProductName);
  CDialogView about(host_, u"About.html",
                    {{u"product", kProductName}, {u"version", pcutil::Format(u"V%s", kProductVersion)}});
  host_.RunModal(about, {{"title", Utf16ToUtf8(title)}, {"width", 380}, {"height", 200}});
}

}  // namespace rz
