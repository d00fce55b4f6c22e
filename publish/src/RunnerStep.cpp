#include "publish/RunnerStep.h"

namespace rz {

void CPublishRunnerStep::BeforeSelect(ContentDatabase& db, const JobRule& job) {
  ReplayPublishJournal(db, job.JobId);
}

bool CPublishRunnerStep::Start(const JobRulePtr& job, const DbSettings& contentDb,
                               std::u16string& message) {
  jobId_ = job->JobId;
  // The runner dropped this receiver's connections after the last step: connect afresh.
  worker_.OnResult.Connect(this, &CPublishRunnerStep::Relay);
  worker_.OnAllDone.Connect(this, &CPublishRunnerStep::Done);
  const bool started = worker_.Start(job, contentDb);
  message = worker_.StartMessage;
  return started;
}

bool CPublishRunnerStep::Record(ToData& item, ContentDatabase* db, LogData& log) {
  // Book into a fresh tally and add it, so the counts follow the run's record even when the
  // runner resets or adjusts them between results.
  PublishTally tally;
  LogData line;
  const bool counted = RecordPublishResult(item, db, jobId_, tally, line);
  log.DoneCount += tally.Processed;
  log.OkCount += tally.Published;
  log.FailCount += tally.Failed;
  log.LogText = line.LogText;
  return counted;
}

void CPublishRunnerStep::Relay(const ToData& item) {
  ToData copy = item;
  OnPublished.Emit(copy);
}

}  // namespace rz
