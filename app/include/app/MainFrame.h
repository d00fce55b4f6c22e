// The main window of the collector, drawn by the shell page in the browser: menu bar,
// toolbar, status bar, the left column with the tree page, and the tab area (CChidFrame)
// that hosts every page. The program owns this state; the shell renders it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/HtmlCtrl.h"
#include "platform/PageHost.h"

namespace rz {

// Product name and version shown in the caption and the About box.
extern const char16_t* const kProductName;
extern const char16_t* const kProductVersion;

enum PageKind : int {
  PageStart = 0,
  PageJobEditor = 1,
  PageJob = 2,
  PageOptions = 3,
  PageDataManager = 4,
};

// Tab strip geometry.
constexpr int kTabWidth = 150;
constexpr int kTabHeight = 26;
constexpr int kTabStripFreeRight = 120;
// Width of each tab in a strip of the given client width.
int TabWidthFor(int stripClientWidth, int tabCount);

struct ShellOptions {
  std::string siteUrl = "https://rizede.example";  // the product web site (commands 32773 ...)
  std::string startPageUrl;                        // empty: the local start page file
  std::string manifestUrl = "https://rizede.example/system/version.zip";
  // Opens an outside address or folder; default: a new browser tab of the shell for web
  // addresses, xdg-open for folders when a display is present, else the target is logged.
  std::function<void(const std::string& target, bool isFolder)> shellOpen;
};

struct TabEntry {
  std::u16string key;
  int kind = PageStart;
  std::unique_ptr<CRizedeHtmlCtrl> page;
  std::u16string title;
  bool closable = false;
  bool icon = false;
};

class CChidFrame {
 public:
  explicit CChidFrame(CPageHost& host);
  ~CChidFrame();

  using PageFactory =
      std::function<std::unique_ptr<CRizedeHtmlCtrl>(CPageHost& host, const std::u16string& key)>;
  // Page classes register how their pages are made (job editor, job run page, options, ...).
  void SetPageFactory(int kind, PageFactory factory);

  // The start page as the first tab.
  void Create(std::unique_ptr<CRizedeHtmlCtrl> startPage);

  TabEntry& AddPage(std::unique_ptr<CRizedeHtmlCtrl> page, const std::u16string& title,
                    const std::u16string& key, int kind, bool closable, bool icon);
  TabEntry* FindPageByKey(const std::u16string& key, int kind);
  TabEntry* FindPageByWindow(const CRizedeHtmlCtrl* page);
  void ActivatePage(TabEntry& entry);
  // Closes the active tab (never the start page); the tab to its left becomes active.
  void CloseCurrentPage();
  // A page closing itself: its own tab when inactive, else the active tab.
  void ClosePage(const CRizedeHtmlCtrl* page);
  void SetPageTitle(const CRizedeHtmlCtrl* page, const std::u16string& title);

  // Finds the page of that key and kind and activates it, or makes one with the kind's
  // factory, adds its tab and activates it. Null when the kind has no factory.
  CRizedeHtmlCtrl* OpenPage(const std::u16string& key, int kind, const std::u16string& title,
                            bool closable, bool icon);
  CRizedeHtmlCtrl* OpenOptionsPage();
  CRizedeHtmlCtrl* OpenDataManagerPage(const std::u16string& jobId, const std::u16string& jobName);

  // Mouse on a tab (from the shell).
  void OnTab(int pageId, const std::string& action);

  const std::vector<TabEntry>& Entries() const { return entries_; }
  TabEntry* Active();
  int NextPageId() const { return nextPageId_; }

 private:
  void RemoveEntry(size_t index);

  CPageHost& host_;
  std::vector<TabEntry> entries_;
  std::vector<PageFactory> factories_ = std::vector<PageFactory>(5);
  int activePage_ = 0;  // page id of the active tab
  int shownPage_ = 0;
  int nextPageId_ = 0;
};

// The start page: the first tab, never closed.
class CStartPageView : public CRizedeHtmlCtrl {
 public:
  CStartPageView(CPageHost& host, std::string url) : CRizedeHtmlCtrl(host), url_(std::move(url)) {}
  void OnInitialUpdate() override;

 private:
  std::string url_;
};

class CMainFrame {
 public:
  CMainFrame(CPageHost& host, ShellOptions options = {});
  ~CMainFrame();

  // Menu, toolbar, status bar, the tab area with its start page.
  void Create();
  CChidFrame& Child() { return child_; }
  CPageHost& Host() { return host_; }

  // The left column's page (the tree page).
  void SetLeftView(std::unique_ptr<CRizedeHtmlCtrl> view);
  CRizedeHtmlCtrl* LeftView() const { return left_.get(); }
  // Tree commands go to the left view; it answers whether each is enabled.
  std::function<void(int command)> leftCommand;
  std::function<bool(int command)> leftCommandEnabled;

  void OnCommand(int command);
  // Recomputes enabled/checked states and sends the changes (on each idle cycle).
  void UpdateCommandUi();
  void SetStatusText(const std::u16string& text);

  bool ShutdownAfterTasks() const { return shutdownAfterTasks_; }
  bool LeftVisible() const { return leftVisible_; }
  bool ToolbarVisible() const { return toolbarVisible_; }

  // Exit (57665): set by the program; it saves, stops and ends the process.
  std::function<void()> onExit;
  // Starting the updater (32777); the default starts "Update" beside the program.
  std::function<void()> onUpdate;

  // A message box as a modal overlay page; returns 1 for OK, 2 for Cancel.
  int MessageBox(const std::u16string& text, const std::u16string& caption = u"提示",
                 bool okCancel = false);
  void ShowAbout();

 private:
  void OpenOutside(const std::string& target, bool isFolder);
  void StartUpdater();

  CPageHost& host_;
  ShellOptions options_;
  CChidFrame child_;
  std::unique_ptr<CRizedeHtmlCtrl> left_;
  bool shutdownAfterTasks_ = false;
  bool leftVisible_ = true;
  bool toolbarVisible_ = true;
  bool statusVisible_ = true;
  Json lastCommands_;
};

// The shell's menus and toolbar, as sent to the shell.
Json MenuBar();
Json ToolbarItems();

}  // namespace rz
