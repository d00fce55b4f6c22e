#include "publish/PublishStep.h"

#ifdef RZ_HAVE_PUBLISH_STEP

namespace rz {

void CPublishStepWorker::BeforeSelect(ContentDatabase& db, const JobRule& job) {
  ReplayPublishJournal(db, job.JobId);
}

bool CPublishStepWorker::Start(const JobRulePtr& job, const DbSettings& contentDb,
                               std::u16string& message) {
  jobId_ = job->JobId;
  // The runner dropped this receiver's connections after the last step.
  Thread.OnResult.Connect(this, &CPublishStepWorker::OnThreadResult);
  Thread.OnAllDone.Connect(this, &CPublishStepWorker::OnThreadDone);
  const bool started = Thread.Start(job, contentDb);
  message = Thread.StartMessage;
  return started;
}

bool CPublishStepWorker::Record(ToData& item, ContentDatabase* db, LogData& log) {
  PublishTally tally;
  LogData line;
  const bool counted = RecordPublishResult(item, db, jobId_, tally, line);
  log.DoneCount += tally.Processed;
  log.OkCount += tally.Published;
  log.FailCount += tally.Failed;
  log.LogText = line.LogText;
  return counted;
}

void CPublishStepWorker::OnThreadResult(const ToData& item) {
  ToData copy = item;
  OnPublished.Emit(copy);
}

void CPublishStepWorker::OnThreadDone() { OnStepDone.Emit(); }

std::unique_ptr<CPublishStep> MakePublishStep() { return std::make_unique<CPublishStepWorker>(); }

}  // namespace rz

#endif
