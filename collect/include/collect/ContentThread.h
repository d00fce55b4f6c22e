// The content worker of the content step: ThreadCount threads take ListUrlData units from the
// queue, collect each article page (labels, further pages, clean-up, file downloads) and
// report the finished items.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "collect/WorkData.h"
#include "foundation/Worker.h"
#include "storage/ContentDatabase.h"
#include "store/DbSettings.h"
#include "store/JobRule.h"

namespace rz {

class CContentThread : public pcutil::CBaseThread {
 public:
  // One finished item; the flag is 1 for the item that updates the stored row, 0 for further
  // items of the same page (new rows).
  pcutil::Signal2<ToData&, int> OnItem;

  int Interval = 300;  // ms after each unit (the job's GatherInterval)
  std::u16string JobId;
  pcutil::LockedQueue<ListUrlData> WorkQueue;
  std::atomic<int> InputDone{0};

  CContentThread() = default;
  ~CContentThread() override;

  // Help texts for the log keys; without them the key itself is the text.
  void SetMessages(std::map<std::u16string, std::u16string> messages);

  // Opens the worker's own connection for DownloadFile rows (dropped when it cannot open),
  // empties the queue and starts ThreadCount threads (none below 1, which ends at once).
  int StartContent(const ContentRule& content, int gatherInterval, const std::u16string& jobId,
                   const DbSettings& db);
  // Enqueue slot; waits while the queue is full and the workers run.
  void Enqueue(ListUrlData& unit);
  // Input-done slot.
  void SetInputDone();
  void Stop();

 private:
  void Work(uint64_t serial);
  void CloseFileDb();
  bool RecordFile(const struct DownloadFileRow& row);

  std::mutex messageLock_;  // a new run's texts may arrive while an old thread winds down
  std::shared_ptr<const std::map<std::u16string, std::u16string>> messages_;
  std::mutex fileLock_;  // FileDb and its inserts
  std::shared_ptr<ContentDatabase> fileDb_;
  std::atomic<int> active_{0};
  std::atomic<size_t> queueLimit_{64};  // Enqueue waits while the queue holds this many
  std::atomic<uint64_t> serial_{0};
};

}  // namespace rz
