// The publish step the job runner plugs in (CKite::SetPublishWorker): CPublishThread behind
// the runner's CPublishStep interface.
#pragma once

#if __has_include("collect/PublishStep.h")
#define RZ_HAVE_PUBLISH_STEP 1

#include <memory>

#include "collect/PublishStep.h"
#include "publish/PublishThread.h"

namespace rz {

class CPublishStepWorker : public CPublishStep {
 public:
  CPublishThread Thread;

  pcutil::CBaseThread& Pool() override { return Thread; }
  // Marks the items an earlier run delivered but could not mark (the journal).
  void BeforeSelect(ContentDatabase& db, const JobRule& job) override;
  bool Start(const JobRulePtr& job, const DbSettings& contentDb, std::u16string& message) override;
  void PushItem(ToData& item) override { Thread.AddItem(item); }
  void InputFinished() override { Thread.InputFinished(); }
  void Stop() override { Thread.Stop(); }
  // Adds this result to the counters of `log` (DoneCount, OkCount, FailCount) and sets its
  // LogText.
  bool Record(ToData& item, ContentDatabase* db, LogData& log) override;

 private:
  void OnThreadResult(const ToData& item);
  void OnThreadDone();

  std::u16string jobId_;
};

std::unique_ptr<CPublishStep> MakePublishStep();

}  // namespace rz

#endif
