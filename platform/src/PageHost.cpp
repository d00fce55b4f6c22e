#include "platform/PageHost.h"

#include <algorithm>
#include <future>
#include <iostream>

#include "foundation/Text.h"
#include "platform/HtmlCtrl.h"

namespace rz {

namespace {
// Scripts are kept in order; past this many the oldest are dropped so a long run's log page
// cannot grow the journal without bound.
constexpr size_t kMaxJournalScripts = 5000;
}  // namespace

CPageHost::CPageHost(CUiLoop& loop) : loop_(loop) {}

CPageHost::~CPageHost() {
  std::lock_guard<std::mutex> lock(linkMutex_);
  link_.reset();
  for (auto& [id, call] : pending_) call->done = true;
  replyReady_.notify_all();
}

// ---------------------------------------------------------------- pages

int CPageHost::Register(CRizedeHtmlCtrl* page) {
  int id = ++nextPageId_;
  pages_[id].page = page;
  return id;
}

void CPageHost::Unregister(int pageId) {
  auto it = pages_.find(pageId);
  if (it == pages_.end()) return;
  bool shown = std::find(order_.begin(), order_.end(), pageId) != order_.end();
  if (shown) ClosePage(pageId);
  pages_.erase(pageId);
}

CRizedeHtmlCtrl* CPageHost::FindPage(int pageId) const {
  auto* state = State(pageId);
  return state ? state->page : nullptr;
}

CPageHost::PageState* CPageHost::State(int pageId) {
  auto it = pages_.find(pageId);
  return it == pages_.end() ? nullptr : &it->second;
}

const CPageHost::PageState* CPageHost::State(int pageId) const {
  auto it = pages_.find(pageId);
  return it == pages_.end() ? nullptr : &it->second;
}

void CPageHost::OpenPage(CRizedeHtmlCtrl& page, Json record) {
  PageState* state = State(page.PageId());
  if (!state) return;
  record["page"] = page.PageId();
  if (!record.contains("url")) record["url"] = "";
  if (!record.contains("kind")) record["kind"] = -1;
  record["selectable"] = page.Selectable();
  state->record = record;
  state->ready = state->completed = false;
  state->journal.clear();
  if (std::find(order_.begin(), order_.end(), page.PageId()) == order_.end())
    order_.push_back(page.PageId());
  Json message = record;
  message["t"] = "page.open";
  Send(message);
  page.OnInitialUpdate();
}

void CPageHost::UpdatePage(int pageId, const Json& fields) {
  PageState* state = State(pageId);
  if (!state) return;
  for (auto it = fields.begin(); it != fields.end(); ++it) state->record[it.key()] = it.value();
  Json message = fields;
  message["t"] = "page.update";
  message["page"] = pageId;
  Send(message);
}

void CPageHost::ClosePage(int pageId) {
  auto pos = std::find(order_.begin(), order_.end(), pageId);
  if (pos == order_.end()) return;
  order_.erase(pos);
  if (activeTab_ == pageId) activeTab_ = 0;
  if (PageState* state = State(pageId)) {
    state->ready = state->completed = false;
    state->journal.clear();
  }
  Send({{"t", "page.close"}, {"page", pageId}});
}

void CPageHost::ActivateTab(int pageId) {
  activeTab_ = pageId;
  Send({{"t", "tab.activate"}, {"page", pageId}});
}

Json CPageHost::PageRecord(int pageId) const {
  const PageState* state = State(pageId);
  return state ? state->record : Json::object();
}

void CPageHost::NavigatePage(int pageId, const std::string& url) {
  PageState* state = State(pageId);
  if (!state) return;
  if (state->page) state->page->OnBeforeNavigate(pcutil::Utf8ToUtf16(url));
  state->record["url"] = url;
  state->ready = state->completed = false;
  state->journal.clear();
  Send({{"t", "page.navigate"}, {"page", pageId}, {"url", url}});
}

int CPageHost::RunModal(CRizedeHtmlCtrl& page, Json record) {
  int pageId = page.PageId();
  if (!loop_.IsUiThread()) {
    // A worker shows its dialog through the UI thread and waits for the answer.
    auto result = std::make_shared<std::promise<int>>();
    auto answer = result->get_future();
    bool posted = loop_.Post([this, &page, record, result]() mutable {
      int code = RunModal(page, record);
      result->set_value(code);
    });
    if (!posted) return 0;
    try {
      return answer.get();
    } catch (const std::future_error&) {
      return 0;  // the loop ended first
    }
  }
  record["place"] = "dialog";
  if (PageState* state = State(pageId)) {
    state->modal = true;
    state->ended = false;
    state->endCode = 0;
  }
  OpenPage(page, record);
  loop_.RunUntil([this, pageId] {
    const PageState* state = State(pageId);
    return !state || state->ended;
  });
  int code = 0;
  if (PageState* state = State(pageId)) {
    code = state->endCode;
    state->modal = false;
  }
  ClosePage(pageId);
  return code;
}

void CPageHost::EndDialog(int pageId, int code) {
  PageState* state = State(pageId);
  if (!state || !state->modal) return;
  state->ended = true;
  state->endCode = code;
}

void CPageHost::SetUi(const Json& fields) {
  for (auto it = fields.begin(); it != fields.end(); ++it) ui_[it.key()] = it.value();
  Json message = fields;
  message["t"] = "ui";
  Send(message);
}

Json CPageHost::Ui() const { return ui_; }

void CPageHost::OpenInBrowser(const std::string& url) { Send({{"t", "open"}, {"url", url}}); }

void CPageHost::SayGoodbye() { Send({{"t", "bye"}}); }

// ---------------------------------------------------------------- element operations

void CPageHost::Journal(PageState& state, const Json& message) {
  std::string op = message.value("op", "");
  const Json& args = message["args"];
  std::string key;
  if (op != "runScript") {
    key = op + "\x1f" + args.value("el", args.value("name", std::string())) + "\x1f" +
          args.value("attr", std::string());
    auto& j = state.journal;
    j.erase(std::remove_if(j.begin(), j.end(), [&](const JournalEntry& e) { return e.key == key; }),
            j.end());
  } else {
    size_t scripts = std::count_if(state.journal.begin(), state.journal.end(),
                                   [](const JournalEntry& e) { return e.key.empty(); });
    if (scripts >= kMaxJournalScripts) {
      auto first = std::find_if(state.journal.begin(), state.journal.end(),
                                [](const JournalEntry& e) { return e.key.empty(); });
      state.journal.erase(first);
    }
  }
  state.journal.push_back({key, message});
}

void CPageHost::Write(int pageId, const std::string& op, Json args) {
  PageState* state = State(pageId);
  if (!state) return;
  Json message = {{"t", "call"}, {"page", pageId}, {"op", op}, {"args", std::move(args)}};
  Journal(*state, message);
  if (state->ready) Send(message);
}

Json CPageHost::Read(int pageId, const std::string& op, Json args) {
  if (!loop_.IsUiThread() && loop_.IsRunning()) {
    // Pages belong to the UI thread; a read from elsewhere is made there.
    Json result;
    loop_.Send([&] { result = Read(pageId, op, args); });
    return result;
  }
  const PageState* state = State(pageId);
  if (!state || !state->ready) return nullptr;
  auto call = std::make_shared<Pending>();
  std::unique_lock<std::mutex> lock(linkMutex_);
  if (!link_) return nullptr;
  long long id = ++nextCallId_;
  pending_[id] = call;
  Json message = {{"t", "call"}, {"id", id}, {"page", pageId}, {"op", op}, {"args", std::move(args)}};
  auto link = link_;
  lock.unlock();
  link->SendText(message.dump(-1, ' ', false, Json::error_handler_t::replace));
  lock.lock();
  replyReady_.wait_for(lock, readTimeout_, [&] { return call->done; });
  pending_.erase(id);
  if (!call->done) {
    std::cerr << "ui: no answer to " << op << " on page " << pageId << " in time\n";
    return nullptr;
  }
  // A call released by a closing or replaced shell has no reply at all.
  if (!call->reply.is_object() || !call->reply.value("ok", false)) return nullptr;
  return call->reply.value("result", Json());
}

bool CPageHost::IsReady(int pageId) const {
  const PageState* state = State(pageId);
  return state && state->ready;
}

// ---------------------------------------------------------------- shell connection

void CPageHost::Send(const Json& message) {
  std::shared_ptr<CShellLink> link;
  {
    std::lock_guard<std::mutex> lock(linkMutex_);
    link = link_;
  }
  if (link) link->SendText(message.dump(-1, ' ', false, Json::error_handler_t::replace));
}

bool CPageHost::HasShell() const {
  std::lock_guard<std::mutex> lock(linkMutex_);
  return link_ != nullptr;
}

void CPageHost::OnShellConnected(const std::shared_ptr<CShellLink>& link) {
  std::shared_ptr<CShellLink> previous;
  {
    std::lock_guard<std::mutex> lock(linkMutex_);
    previous = link_;
    link_ = link;
    // Reads waiting on the old shell will not be answered.
    for (auto& [id, call] : pending_) call->done = true;
    replyReady_.notify_all();
  }
  if (previous) previous->SendText(Json({{"t", "takeover"}}).dump());
  loop_.Post([this, link] {
    {
      std::lock_guard<std::mutex> lock(linkMutex_);
      if (link_ != link) return;
    }
    for (auto& [id, state] : pages_) state.ready = false;
    SendState();
    if (onShellConnected) onShellConnected();
  });
}

void CPageHost::SendState() {
  Json hi = {{"t", "hello"}, {"v", kUiBridgeVersion}, {"keys", {67, 86, 88, 90}},
             {"menuTags", {"textarea", "input"}}, {"menuIds", {"testarticleResult", "testResult"}}};
  if (hello) {
    Json extra = hello();
    for (auto it = extra.begin(); it != extra.end(); ++it) hi[it.key()] = it.value();
  }
  Send(hi);
  Json pages = Json::array();
  for (int id : order_)
    if (const PageState* state = State(id)) pages.push_back(state->record);
  Send({{"t", "state"}, {"ui", ui_}, {"pages", pages}, {"active", activeTab_}});
}

void CPageHost::OnShellClosed(const std::shared_ptr<CShellLink>& link) {
  std::lock_guard<std::mutex> lock(linkMutex_);
  if (link_ != link) return;
  link_.reset();
  for (auto& [id, call] : pending_) call->done = true;
  replyReady_.notify_all();
  loop_.Post([this] {
    if (HasShell()) return;
    for (auto& [id, state] : pages_) state.ready = false;
  });
}

void CPageHost::OnShellMessage(const std::shared_ptr<CShellLink>& link, const std::string& text) {
  Json message = Json::parse(text, nullptr, false);
  if (!message.is_object()) return;
  std::lock_guard<std::mutex> lock(linkMutex_);
  if (link_ != link) return;  // a shell that was taken over is not listened to
  if (message.value("t", "") == "reply") {
    // Answers go straight to the waiting reader (the UI thread is blocked on it).
    long long id = message.value("id", 0LL);
    auto it = pending_.find(id);
    if (it != pending_.end()) {
      it->second->reply = std::move(message);
      it->second->done = true;
      replyReady_.notify_all();
    }
    return;
  }
  loop_.Post([this, message = std::move(message)] { HandleMessage(message); });
}

void CPageHost::HandleMessage(const Json& message) {
  const std::string type = message.value("t", "");
  const int pageId = message.value("page", 0);
  CRizedeHtmlCtrl* page = FindPage(pageId);
  if (type == "ready") {
    HandleReady(pageId, message.value("url", ""));
  } else if (type == "event") {
    if (!page || !IsReady(pageId)) return;
    const Json& src = message.contains("src") ? message["src"] : Json::object();
    // Ids and tags keep their full text: passing them through the local code page would
    // turn characters it lacks into '?', and such an element could never match its entry.
    CElement element;
    element.id = pcutil::Utf8ToUtf16(src.value("id", ""));
    element.name = pcutil::Utf8ToUtf16(src.value("name", ""));
    element.tag = pcutil::Utf8ToUtf16(src.value("tag", ""));
    page->DispatchEvent(message.value("e", 0), message.value("sink", "doc"),
                        message.value("entry", -1), element);
  } else if (type == "key") {
    if (page) page->PreTranslateKey(message.value("code", 0), message.value("ctrl", false));
  } else if (type == "command") {
    if (onCommand) onCommand(message.value("id", 0));
  } else if (type == "tab") {
    if (onTab) onTab(pageId, message.value("action", ""));
  } else if (type == "dialog.cancel") {
    if (page) page->OnWindowMessage(kMsgCloseRequest, 0);
  } else if (type == "layout") {
    if (message.contains("leftWidth") && message["leftWidth"].is_number_integer())
      ui_["leftWidth"] = message["leftWidth"];
  }
}

void CPageHost::HandleReady(int pageId, const std::string& url) {
  PageState* state = State(pageId);
  if (!state || !state->page) return;
  if (std::find(order_.begin(), order_.end(), pageId) == order_.end()) return;
  if (url != state->record.value("url", "")) return;  // a load that was overtaken
  if (state->ready) return;
  state->ready = true;
  CRizedeHtmlCtrl* page = state->page;
  std::u16string url16 = pcutil::Utf8ToUtf16(url);
  if (!state->completed) {
    state->completed = true;
    page->OnNavigateComplete(url16);
    page->ConnectEventMap();
    Send({{"t", "page.sinks"}, {"page", pageId}, {"map", page->SinkMap()}});
    ReplayJournal(*state);  // writes made before the document was there
    page->OnDocumentComplete(url16);
  } else {
    // The same document loaded again for a new shell: show what it last showed.
    Send({{"t", "page.sinks"}, {"page", pageId}, {"map", page->SinkMap()}});
    ReplayJournal(*state);
  }
}

void CPageHost::ReplayJournal(PageState& state) {
  for (const auto& entry : state.journal) Send(entry.message);
}

}  // namespace rz
