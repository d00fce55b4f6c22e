// The link worker of the URL step: downloads the job's list pages one by one and hands the
// links of each page to the runner as one ToData.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "collect/WorkData.h"
#include "foundation/Worker.h"
#include "store/JobRule.h"

namespace rz {

class CListUrlThread : public pcutil::CBaseThread {
 public:
  // One list page done. A failed page has ResultCode 0 and Text = its address; when a rule
  // pattern was at fault, Fields["Error"] holds the red line that names it.
  pcutil::Signal1<ToData&> OnListPage;

  CListUrlThread() = default;
  ~CListUrlThread() override;

  // Copies the list section and charset and queues the expanded list addresses; returns
  // PageCount. Separate from Run so the runner knows the step's total before any result.
  int Prepare(const ListRule& rule, const std::u16string& charset);
  // Deep 0: every address is an article; one ToData with all of them, then OnAllDone, no
  // download. Otherwise one thread (whatever ThreadCount says) works through the queue.
  int Run();
  // Prepare + Run.
  int StartLinks(const ListRule& rule, const std::u16string& charset);
  // Stop slot: the worker ends after its current page.
  void Stop();

  int PageCount() const { return pageCount_; }
  std::u16string Charset();

 private:
  void Work(uint64_t serial, std::shared_ptr<const ListRule> rule);

  ListRule rule_;
  std::mutex charsetLock_;
  std::u16string charset_;  // "自动识别" becomes the first detected charset of the run
  pcutil::LockedQueue<std::u16string> pageQueue_;
  int pageCount_ = 0;
  std::atomic<uint64_t> serial_{0};
};

}  // namespace rz
