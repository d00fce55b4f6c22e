// The job runner's database worker: the job's content database, the result set of the running
// step and the thread that feeds its rows to the step's workers. The storing operations run
// on whichever worker thread calls them; the connection serialises its statements.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "collect/WorkData.h"
#include "foundation/Worker.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"

namespace rz {

inline constexpr int StepGatherUrl = 1481;
inline constexpr int StepGatherContent = 1482;
inline constexpr int StepKeywordContent = 1484;
inline constexpr int StepPublish = 1485;

class CAdoThread : public pcutil::CBaseThread {
 public:
  pcutil::Signal1<const LogData&> OnLog;      // error lines (LogText only)
  pcutil::Signal1<ListUrlData&> OnListUrlData;  // content step: one unit per stored row
  pcutil::Signal1<ToData&> OnPublishData;       // publish step: one stored row
  pcutil::Signal0 OnFeedFinished;               // every row of the result set was handed on
  // The completion signal is the pool's OnAllDone; the runner also emits it for the repeat
  // limit of the URL step.

  CAdoThread() = default;
  ~CAdoThread() override;

  // Keeps a copy of the rule, builds the connection from its settings and opens it, creating
  // the tables (and label columns) that are missing. On failure emits the red error line.
  bool OpenJob(const JobRulePtr& rule);
  void CloseJob();
  ContentDatabase* Database() { return db_.get(); }

  // The result set of a step: 1482 rows not yet collected, 1485 collected and unpublished
  // rows (PublishMaxCount, PublishOrder). `count` gets the record count.
  bool OpenResult(int stepCode, long& count);
  void CloseResult();
  // Starts the feeding thread for the open result set (1482, 1485); for 1484 the feed builds
  // the article addresses from the job's keywords instead.
  bool StartFeeding(int stepCode);

  // Link step: stores a link key; true for a new link, false for a known one (or a failed
  // insert, which counts as known).
  bool StoreLinkKey(const std::u16string& key);
  // The content row of a new link.
  bool StoreLinkRow(const std::u16string& pageUrl);
  // The link statements of one list page, committed together.
  void BeginLinks();
  void EndLinks();
  // The stored keys among `keys`; false when they cannot be read.
  bool KnownLinkKeys(const std::vector<std::u16string>& keys, std::set<std::u16string>& known);
  // The keys and content rows of new links in one transaction: all stored, or none (false).
  bool StoreNewLinks(const std::vector<std::u16string>& keys,
                     const std::vector<std::u16string>& pageUrls);
  // Content step: the row of a collected item (update 1: its stored row by ID, else a new row).
  bool WriteItem(const ToData& item, int update);
  // Keyword content step: a new row from the item's fields.
  bool WriteKeywordItem(const ToData& item);
  bool DeleteItem(const std::u16string& pageUrl);
  // Publish step: sets 已发 of the row.
  bool MarkPublished(const std::u16string& id);
  // The reason of the last failed statement.
  std::u16string LastError();

 private:
  void Feed(int stepCode, uint64_t serial);
  void EmitError(const std::u16string& text);

  JobRulePtr rule_;
  std::unique_ptr<ContentDatabase> db_;
  std::mutex resultLock_;  // the result set against the feeding thread
  bool resultOpen_ = false;
  long resultCount_ = 0;
  std::atomic<uint64_t> feedSerial_{0};
};

// The row count of a publish step from PublishMaxCount: "lo-hi" draws a random count
// (RandomBetween), any other text is one number; 0 means every row.
int PublishRowCount(const std::u16string& publishMaxCount);

}  // namespace rz
