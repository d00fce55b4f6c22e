// The publish worker as the job runner's publish step (collect/PublishStep.h). The runner's
// owner plugs one into each runner: kite.SetPublishWorker(std::make_unique<CPublishRunnerStep>()).
#pragma once

#include <string>

#include "collect/PublishStep.h"
#include "publish/PublishThread.h"

namespace rz {

class CPublishRunnerStep : public CPublishStep {
 public:
  pcutil::CBaseThread& Pool() override { return worker_; }
  // Items a previous run delivered but could not mark (the journal) are marked before the
  // selection, so they are neither selected nor sent again.
  void BeforeSelect(ContentDatabase& db, const JobRule& job) override;
  bool Start(const JobRulePtr& job, const DbSettings& contentDb, std::u16string& message) override;
  void PushItem(ToData& item) override { worker_.AddItem(item); }
  void InputFinished() override { worker_.InputFinished(); }
  void Stop() override { worker_.Stop(); }
  // Adds this one result to the counters of `log` (DoneCount, OkCount, FailCount) and sets
  // its LogText; the run's record stays the only tally.
  bool Record(ToData& item, ContentDatabase* db, LogData& log) override;

  CPublishThread& Worker() { return worker_; }

 private:
  void Relay(const ToData& item);
  void Done() { OnStepDone.Emit(); }

  CPublishThread worker_;
  std::u16string jobId_;
};

}  // namespace rz
