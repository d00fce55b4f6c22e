// CRizedeHtmlCtrl: the base of every page view. A page is an HTML file from the page folder
// shown by the shell in an iframe; the view reads and writes its elements by id or name, runs
// its script functions and handles its events through an event map (docs/ui-bridge.md).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/PageHost.h"

namespace rz {

// The source element of an event, or the element at a point.
struct CElement {
  std::u16string id, name, tag;
};

// Event map kinds.
enum : int {
  kEventById = 0,       // element identified by id or name (bubbling events)
  kEventByTag = 2,      // every element with that tag name
  kEventSink = 3,       // one element by id, connected directly (events that do not bubble)
  kEventControl = 4,    // an embedded control by id
  kEventMapEnd = 5,
};

// Event numbers.
constexpr int kEvClick = -600;
constexpr int kEvDblClick = -601;
constexpr int kEvMouseOver = static_cast<int>(0x80010008u);
constexpr int kEvMouseOut = static_cast<int>(0x80010009u);
constexpr int kEvChange = 1001;

// Window notifications between the views.
constexpr int kMsgTabActivated = 1025;
constexpr int kMsgCloseRequest = 1026;

struct EventEntry {
  int kind = kEventMapEnd;
  int event = 0;
  std::u16string name;
  std::function<int(const CElement&)> handler;
};

using OptionList = std::vector<std::pair<std::u16string, std::u16string>>;  // (text, value)

class CRizedeHtmlCtrl {
 public:
  explicit CRizedeHtmlCtrl(CPageHost& host);
  virtual ~CRizedeHtmlCtrl();
  CRizedeHtmlCtrl(const CRizedeHtmlCtrl&) = delete;
  CRizedeHtmlCtrl& operator=(const CRizedeHtmlCtrl&) = delete;

  int PageId() const { return pageId_; }
  CPageHost& Host() const { return host_; }

  // --- what a page view overrides ---
  // Key filter, before the page sees the key: Ctrl+C/V/X/Z run the page's keydown function.
  // Returns true when the key was taken.
  virtual bool PreTranslateKey(int keyCode, bool ctrl);
  // First update: choose and load the page.
  virtual void OnInitialUpdate() {}
  // Host flags: false = dialog behaviour (no text selection, arrow cursor).
  virtual bool Selectable() const { return false; }
  virtual void OnNavigateComplete(const std::u16string& url) {}
  virtual void OnBeforeNavigate(const std::u16string& url) {}
  // Document complete: the event map is connected first, then the page fills itself.
  virtual void OnDocumentComplete(const std::u16string& url) {}
  // The event map, in the order entries are tried.
  virtual std::vector<EventEntry> EventTable() { return {}; }
  // Window notifications: 1025 tab activated, 1026 close request, and the page's own.
  virtual long OnWindowMessage(int message, long long param) { return 0; }

  // --- operations ---
  void Navigate(const std::u16string& address);
  void NavigatePage(const std::u16string& fileName);
  void RunScript(const std::u16string& code);
  std::u16string GetValue(const std::u16string& element);
  void SetValue(const std::u16string& element, const std::u16string& text);
  int GetChecked(const std::u16string& element);
  void SetChecked(const std::u16string& element, int flags);
  int GetRadioIndex(const std::u16string& groupName);
  void SetRadioIndex(const std::u16string& groupName, int index);
  // Returns the selected index (-1 for none or a missing element). With keepIfSameCount a
  // list that already holds as many entries as the element's options is left as it is.
  int GetSelectOptions(const std::u16string& element, OptionList& options,
                       bool keepIfSameCount = false);
  void SetSelectOptions(const std::u16string& element, const OptionList& options, int selected);
  std::u16string GetAttribute(const std::u16string& element, const std::u16string& attribute);
  void SetAttribute(const std::u16string& element, const std::u16string& attribute,
                    const std::u16string& text);
  void SetTitle(const std::u16string& element, const std::u16string& text);
  void SetInnerHtml(const std::u16string& element, const std::u16string& html);
  std::u16string GetInnerHtml(const std::u16string& element);
  std::u16string GetDocumentHtml();
  int FindRowIndex(const std::u16string& tableId, const std::u16string& rowId);
  CElement ElementAtPoint(int x, int y);

  // The address last navigated to ("/Html/<file>" for page files).
  std::u16string Url() const;
  bool IsDocumentReady() const;

  // --- called by the bridge (UI thread) ---
  void ConnectEventMap();  // takes the page's event map for the new document
  std::vector<Json> SinkMap() const;
  // Finds the handler for an event and calls it; returns the handler's result, or 0 when no
  // entry matches (the event is left to the page).
  int DispatchEvent(int event, const std::string& sink, int entry, const CElement& source);

 private:
  CPageHost& host_;
  int pageId_ = 0;
  std::vector<EventEntry> map_;  // connected at document complete
};

// Text put into a script literal: quotes and backslashes escaped, line breaks dropped.
std::u16string ScriptLiteral(const std::u16string& text);

// Table templates of the tree page: attributes "name=\"value\"" of a tag.
std::map<std::u16string, std::u16string> ParseTagAttributes(const std::u16string& tag);

struct TableTemplate {
  std::map<std::u16string, std::u16string> rowAttributes;
  std::vector<std::map<std::u16string, std::u16string>> cellAttributes;
  std::vector<std::u16string> cellHtml;
};
// The row and cell attributes and cell contents of a table's first row; false without a row.
bool ParseTableTemplate(const std::u16string& tableHtml, TableTemplate& out);

}  // namespace rz
