// The job runner: drives one job through its steps (links, content, publish) on the threads
// of its workers, keeps the run's counters and reports every change as a LogData record.
//
// The runner has no thread of its own. Each step connects the workers' signals to the
// runner for its duration; the next step starts on the thread of the worker whose last
// thread ended. Stopping never waits: it clears the running flags and drops the connections,
// so every worker ends after its current unit and no further step starts.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collect/AdoThread.h"
#include "collect/ContentThread.h"
#include "collect/KeyWordThread.h"
#include "collect/ListUrlThread.h"
#include "collect/PublishStep.h"
#include "collect/WorkData.h"
#include "foundation/Signals.h"
#include "store/JobRule.h"

namespace rz {

class CKite : public pcutil::SignalReceiver {
 public:
  pcutil::Signal1<const LogData&> OnLog;
  pcutil::Signal0 OnFinished;
  pcutil::Signal0 OnStateChanged;
  std::atomic<int32_t> IsRunning{0};
  std::atomic<int32_t> IsPaused{0};

  // Rewriting of a collected item before it is stored (setting OrigType 0). Rewriting is a
  // library built on collection, so the runner's owner plugs it in; false on failure.
  using RewriteFn = std::function<bool(ToData& item, const std::vector<LabelRule>& labels)>;

  CKite();
  ~CKite() override;

  void SetRewrite(RewriteFn rewrite);
  // The publish step's worker; without one the run ends after the content step.
  void SetPublishWorker(std::unique_ptr<CPublishStep> worker);

  // 1 when the run started; 0 for an empty rule, a run that is still going, or a database
  // that does not open.
  int StartJob(const JobRulePtr& rule);
  void PauseJob();
  void ResumeJob();
  void StopJob();

  // Chooses and starts the next step, or finishes the job.
  void NextStep();

  // A copy of the run's report as it stands.
  LogData Snapshot();
  int StepCode() const { return stepCode_.load(); }
  // Set when a step could not open its result set: the run waits for a stop.
  bool Stalled() const { return stalled_.load() != 0; }
  // True while any worker of the runner still has a thread (also after a stop).
  bool WorkersBusy() const;

  CAdoThread AdoThread;
  CListUrlThread ListUrlThread;
  CContentThread ContentThread;
  CKeywordStep KeywordStep;  // keyword jobs (Type 2): the keyword step

 private:
  void DropConnections();
  void ConnectLogForwarding();
  void ForwardLog(const LogData& record);
  void Emit();  // RunLog under the lock
  std::u16string Message(const std::u16string& key);
  void FinishJob();

  void StartUrlStep();
  void OnListPage(ToData& page);
  // The links of one list page (under the lock).
  bool StoreLinksTogether(const std::vector<std::u16string>& links);
  void StoreLinksOneByOne(const std::vector<std::u16string>& links);
  bool ReportLink(const std::u16string& link, bool isNew, bool stored);
  void OnLinkStepFinished();

  void StartKeywordStep();
  void OnKeywordReport(uint64_t serial, const std::u16string& line, const CKeywordStep::Counts& counts);
  void OnKeywordStepFinished(uint64_t serial);

  bool OpenStepResult(int step, long& count);
  void ConnectContentWorker();
  void StartContentStep();
  void StartKeywordContentStep();
  void OnKeywordItem(ToData& item);
  void OnContentItem(ToData& item, int update);
  void OnContentStepFinished();

  void StartPublishStep();
  void OnPublishItem(ToData& item);
  void OnPublishStepFinished();

  std::recursive_mutex lock_;  // RunLog and the counting of results
  LogData RunLog;
  JobRulePtr rule_;
  std::atomic<int> stepCode_{StepGatherUrl};
  std::atomic<int> stalled_{0};
  std::atomic<uint64_t> stepSerial_{0};
  int maxRepeatCount_ = 0;
  int origType_ = 0;
  bool rewriteNoticeShown_ = false;
  std::map<std::u16string, std::u16string> messages_;
  RewriteFn rewrite_;
  std::unique_ptr<CPublishStep> publish_;
};

// The summary line of a report, as the job run page shows it.
std::u16string SummaryLine(const LogData& log);

}  // namespace rz
