#include "collect/ListUrlThread.h"

#include "collect/ListPage.h"
#include "collect/ListUrl.h"
#include "foundation/Pause.h"

namespace rz {

CListUrlThread::~CListUrlThread() { StopAndWait(); }

int CListUrlThread::Prepare(const ListRule& rule, const std::u16string& charset) {
  rule_ = rule;
  {
    std::lock_guard lock(charsetLock_);
    charset_ = charset;
  }
  pageQueue_.Clear();
  std::vector<std::u16string> addresses;
  for (const auto& item : rule_.Urls) ExpandListUrl(item, addresses, 0);
  for (auto& a : addresses) pageQueue_.Push(std::move(a));
  pageCount_ = static_cast<int>(addresses.size());
  return pageCount_;
}

int CListUrlThread::Run() {
  const uint64_t serial = ++serial_;
  if (rule_.Deep == 0) {
    // The list addresses are the articles themselves: nothing to download.
    ToData page;
    std::u16string address;
    while (pageQueue_.Pop(address)) page.Links.push_back(address);
    page.Text = page.Links.empty() ? std::u16string() : page.Links.back();
    page.ResultCode = 1;
    OnListPage.Emit(page);
    OnAllDone.Emit();
    return 1;
  }
  // One list page at a time, whatever ThreadCount says.
  rule_.ThreadCount = 1;
  // The thread keeps its own copy: a later run's Prepare must not change it under the thread.
  auto rule = std::make_shared<const ListRule>(rule_);
  StartPool(1, [this, serial, rule](uint32_t) { Work(serial, rule); });
  return 1;
}

int CListUrlThread::StartLinks(const ListRule& rule, const std::u16string& charset) {
  Prepare(rule, charset);
  return Run();
}

void CListUrlThread::Stop() { IsRunning = 0; }

std::u16string CListUrlThread::Charset() {
  std::lock_guard lock(charsetLock_);
  return charset_;
}

void CListUrlThread::Work(uint64_t serial, std::shared_ptr<const ListRule> rule) {
  while (IsRunning.load() && serial_.load() == serial) {
    if (pageQueue_.Count() == 0) break;
    std::u16string address;
    if (!pageQueue_.Pop(address)) break;
    ToData page;
    std::u16string problem;
    std::u16string charset = Charset();
    ParseListPage(*rule, charset, address, page, &problem);
    {
      std::lock_guard lock(charsetLock_);
      charset_ = charset;
    }
    if (!problem.empty()) page.Fields[u"Error"] = problem;
    OnListPage.Emit(page);
    pcutil::UnitPause();
  }
}

}  // namespace rz
