#include "publish/RunnerStep.h"

namespace rz {

void CPublishRunnerStep::BeforeSelect(ContentDatabase& db, const JobRule& job) {
  ReplayPublishJournal(db, job.JobId);
}

bool CPublishRunnerStep::Start(const JobRulePtr& job, const DbSettings& contentDb,
                               std::u16string& message) {
  jobId_ = job->JobId;
  tally_ = PublishTally();
  // The runner drops this receiver's connections between steps: connect afresh each time.
  worker_.DisconnectAll();
  worker_.OnResult.Connect(this, &CPublishRunnerStep::Relay);
  worker_.OnAllDone.Connect(this, &CPublishRunnerStep::Done);
  const bool started = worker_.Start(job, contentDb);
  message = worker_.StartMessage;
  return started;
}

bool CPublishRunnerStep::Record(ToData& item, ContentDatabase* db, LogData& log) {
  return RecordPublishResult(item, db, jobId_, tally_, log);
}

void CPublishRunnerStep::Relay(const ToData& item) {
  ToData copy = item;
  OnPublished.Emit(copy);
}

}  // namespace rz
