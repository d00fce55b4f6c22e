// The page bridge's program side: the pages the program has open, the shell connection, and
// the calls that run element operations in the shell's iframes (docs/ui-bridge.md).
// Page state is touched on the UI loop thread only; the server threads hand messages over
// with Post, and answers to reads go straight to the waiting reader.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/UiLoop.h"

namespace rz {

using Json = nlohmann::json;

constexpr int kUiBridgeVersion = 1;

class CRizedeHtmlCtrl;

// One shell connection as the server sees it.
class CShellLink {
 public:
  virtual ~CShellLink() = default;
  virtual bool SendText(const std::string& text) = 0;
  virtual std::string Peer() const = 0;
};

class CPageHost {
 public:
  explicit CPageHost(CUiLoop& loop);
  ~CPageHost();
  CPageHost(const CPageHost&) = delete;
  CPageHost& operator=(const CPageHost&) = delete;

  CUiLoop& Loop() { return loop_; }

  // --- pages (UI thread) ---
  // Registers a page view; returns its page id.
  int Register(CRizedeHtmlCtrl* page);
  void Unregister(int pageId);
  CRizedeHtmlCtrl* FindPage(int pageId) const;

  // Shows the page in the shell: record holds place ("tab", "left", "dialog"), title, kind,
  // key, closable, icon (and width/height for dialogs). Then runs the page's first update.
  void OpenPage(CRizedeHtmlCtrl& page, Json record);
  void UpdatePage(int pageId, const Json& fields);
  void ClosePage(int pageId);
  void ActivateTab(int pageId);
  Json PageRecord(int pageId) const;

  // Loads url (a path below the server root or an outside address) into the page.
  void NavigatePage(int pageId, const std::string& url);

  // Modal dialog: opens the page as an overlay and waits (a nested loop on the UI thread,
  // a plain wait on any other thread) until EndDialog; returns the code given there.
  int RunModal(CRizedeHtmlCtrl& page, Json record);
  void EndDialog(int pageId, int code);

  // Shell state beyond the pages: left column, toolbar, status bar, command states, menus.
  void SetUi(const Json& fields);
  Json Ui() const;
  // Opens an outside address in a new browser tab of the shell (when one is connected).
  void OpenInBrowser(const std::string& url);
  // Tells the shell the program is ending.
  void SayGoodbye();

  // --- element operations (UI thread) ---
  // A write: journaled, and sent when the page's document is ready.
  void Write(int pageId, const std::string& op, Json args);
  // A read: waits for the shell's answer; null when there is no shell, the page is not
  // ready, the shell reports an error or the answer does not come within the timeout.
  Json Read(int pageId, const std::string& op, Json args);
  bool IsReady(int pageId) const;
  void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }

  // --- hooks for the frame (run on the UI thread) ---
  std::function<void(int command)> onCommand;
  std::function<void(int pageId, const std::string& action)> onTab;
  std::function<void()> onShellConnected;
  std::function<Json()> hello;  // extra fields of the hello message

  // --- connection side (server threads) ---
  void OnShellConnected(const std::shared_ptr<CShellLink>& link);
  void OnShellMessage(const std::shared_ptr<CShellLink>& link, const std::string& text);
  void OnShellClosed(const std::shared_ptr<CShellLink>& link);
  bool HasShell() const;

 private:
  struct JournalEntry {
    std::string key;  // op + element: a later write with the same key replaces it
    Json message;
  };
  struct PageState {
    CRizedeHtmlCtrl* page = nullptr;
    Json record;
    bool ready = false;
    bool completed = false;  // document-complete step ran for the current navigation
    std::vector<JournalEntry> journal;
    bool modal = false, ended = false;
    int endCode = 0;
  };
  struct Pending {
    bool done = false;
    Json reply;
  };

  void Send(const Json& message);
  void SendState();
  void HandleMessage(const Json& message);
  void HandleReady(int pageId, const std::string& url);
  void ReplayJournal(PageState& state);
  void Journal(PageState& state, const Json& message);
  PageState* State(int pageId);
  const PageState* State(int pageId) const;

  CUiLoop& loop_;
  std::map<int, PageState> pages_;
  std::vector<int> order_;  // open pages in the order they were opened
  int activeTab_ = 0;
  int nextPageId_ = 0;
  Json ui_ = Json::object();
  std::chrono::milliseconds readTimeout_{3000};

  mutable std::mutex linkMutex_;
  std::shared_ptr<CShellLink> link_;
  std::condition_variable replyReady_;
  std::map<long long, std::shared_ptr<Pending>> pending_;
  long long nextCallId_ = 0;
};

}  // namespace rz
