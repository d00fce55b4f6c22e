// The publish runner: a pool of workers that sends every queued item to every destination
// of a job (web modules, database modules, a local file), and the bookkeeping that turns
// each outcome into a log line and, on success, into the item's published flag.
//
// How the job runner drives it (the publish step):
//   1. ReplayPublishJournal(contentDb, jobId) — items a previous run delivered but could not
//      mark are marked now, before the selection;
//   2. select the rows: contentDb.SelectForPublish(PublishCountFromText(job.PublishMaxCount),
//      job.PublishOrder), log kPublishStepStartLog with the row count;
//   3. connect OnResult (a slot calling RecordPublishResult) and OnAllDone, call Start(job,
//      contentDbSettings); on false show StartMessage (a warning) — OnAllDone has fired;
//   4. a feeder reads the rows in order (every column a label), calls AddItem for each while
//      the step runs, then InputFinished (also when stopped early);
//   5. OnAllDone: log kPublishDoneLog with the processed and failed counts, end the job.
//   Stop: Stop() (clears IsRunning, wakes idle workers, never waits).
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "collect/WorkData.h"
#include "foundation/Signals.h"
#include "foundation/Worker.h"
#include "storage/Ado.h"
#include "storage/ContentDatabase.h"
#include "store/DbSettings.h"
#include "store/JobRule.h"
#include "store/PublishModule.h"

namespace rz {

// Result codes of one item at one destination (ToData::ResultCode).
enum PublishResult : int {
  kPublishSaveFailed = 0,     // local file: saving failed
  kPublishWebOk = 1,          // web: posted, a success text found
  kPublishLoginFailed = 2,    // web: login failed
  kPublishPostFailed = 4,     // web: request failed or a failure text found
  kPublishUnknown = 5,        // web: neither a success nor a failure text
  kPublishMessage = 7,        // a message only
  kPublishFileSaved = 8,      // local file saved
  kPublishDbFailed = 9,       // database: a statement or the connection failed (rolled back)
  kPublishDbDone = 10,        // database: every statement ran
  kPublishRandFailed = 11,    // web: random-value page missing or its markers wrong
  kPublishRewriteFailed = 13, // rewriting at publish time failed
};

inline constexpr char16_t kNoPublishTargetMessage[] = u"无任何发布模块或者发布模块不存在！";
inline constexpr char16_t kPublishStepStatus[] = u"运行中-发布内容";
inline constexpr char16_t kPublishStepStartLog[] = u"当前进入发布内容步骤,找到要发布的内容%d条...";
inline constexpr char16_t kPublishDoneLog[] =
    u"<font color=\"black\">内容发布完成,总共采集到内容条数为%d个,失败内容%d个</font>";
// The label that marks a hand-made test item.
inline constexpr char16_t kTestMarkerLabel[] = u"#竖线转义符#";

// PublishMaxCount: a number n, or a range "lo-hi" drawn at random; 0 means all rows.
int PublishCountFromText(const std::u16string& text);

// A text cut to 200 characters followed by "……</br>" when longer.
std::u16string CutForLog(const std::u16string& text);

// Writes a web publish answer to DB/<JobId>/WebPostLog/<time>-<n>.html and returns its path
// ('/' separators); empty when the file could not be written.
std::u16string WriteWebPostLog(const std::u16string& jobId, const std::u16string& html);

// Counters of one publish step.
struct PublishTally {
  int Processed = 0;
  int Published = 0;
  int Failed = 0;
};

// Books one result the runner delivered: sets the item's published flag for codes 1, 8 and
// 10 through `db` (may be null: then the flag counts as not set), counts it, and fills
// `log` (its counters and LogText). Returns false for code 7 (message only, nothing counted).
bool RecordPublishResult(ToData& item, ContentDatabase* db, const std::u16string& jobId,
                         PublishTally& tally, LogData& log);

// The journal of delivered items (DB/<JobId>/PublishJournal.txt): ids whose destination took
// the item, written before the published flag is set, so that a crash in between never sends
// an item twice. Replay marks every journalled id published and empties the journal; returns
// the ids it marked.
std::set<std::u16string> ReplayPublishJournal(ContentDatabase& db, const std::u16string& jobId);
bool AppendPublishJournal(const std::u16string& jobId, const std::u16string& id);

// One destination of the job.
struct PublishDestination {
  PublishTarget Target;
  PublishModulePtr Module;          // an empty module for the local file
  std::shared_ptr<CAdo> Connection;  // database targets whose connection opened
  std::u16string ConnectionError;
};

class CPublishThread : public pcutil::CBaseThread {
 public:
  CPublishThread();
  ~CPublishThread() override;

  // One per destination after all destinations of an item were tried: the item as it stood
  // after that destination (labels, ResultCode, Text = the result message).
  pcutil::Signal1<const ToData&> OnResult;

  // Builds the destination list and starts PublishThreadCount workers. `contentDb`: the
  // job's content database (for the downloaded-file records; opened here). False when there
  // is no destination: StartMessage says why and OnAllDone has fired.
  bool Start(const JobRulePtr& job, const DbSettings& contentDb);
  // The item slot and the input-finished slot of the feeder.
  void AddItem(const ToData& item);
  void InputFinished();
  // Clears the running flag and wakes idle workers; does not wait. Queued items are dropped.
  void Stop();

  // One item at one destination; writes ResultCode and Text into the item.
  int PublishToTarget(const PublishTarget& target, ToData& item, const JobRule& job,
                      const PublishModule* module);

  // Opens the content database for a publish outside a run (test publishing).
  bool OpenContentDb(const DbSettings& settings, const std::u16string& jobId);

  const std::vector<PublishDestination>& Destinations() const { return destinations_; }
  std::u16string StartMessage;
  size_t QueuedCount();

  // Shared with the destinations.
  ContentDatabase* ContentDb() { return contentDb_.get(); }
  std::mutex& ContentDbLock() { return contentDbLock_; }
  std::mutex& PublishLock() { return publishLock_; }
  PublishDestination* FindDestination(const PublishTarget& target);

 private:
  void Worker(uint32_t index);
  bool TakeItem(ToData& item);
  void CloseConnections();

  JobRulePtr job_;
  std::vector<PublishDestination> destinations_;
  std::mutex queueLock_;
  std::condition_variable queueCv_;
  std::deque<ToData> queue_;
  bool inputFinished_ = false;
  std::set<std::u16string> skipIds_;  // replayed from the journal: already delivered
  std::atomic<int> activeWorkers_{0};
  std::unique_ptr<ContentDatabase> contentDb_;
  std::mutex contentDbLock_;
  std::mutex publishLock_;
  std::mutex resultLock_;
};

}  // namespace rz
