// The publish step as the job runner drives it. The publishing library builds on collection,
// so the runner cannot name its worker: the runner's owner plugs in an implementation of
// this interface (CKite::SetPublishWorker) that wraps the publish worker.
//
// Between steps the runner drops every connection of this receiver, so an implementation
// connects its worker's signals to itself in Start, each time.
#pragma once

#include <string>

#include "collect/WorkData.h"
#include "foundation/Signals.h"
#include "foundation/Worker.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"

namespace rz {

class CPublishStep : public pcutil::SignalReceiver {
 public:
  pcutil::Signal1<ToData&> OnPublished;  // one result of one item at one destination
  pcutil::Signal0 OnStepDone;            // the worker's last thread has ended

  ~CPublishStep() override = default;

  // The worker pool (pause, resume, running flag, thread count).
  virtual pcutil::CBaseThread& Pool() = 0;
  // Called before the rows are selected.
  virtual void BeforeSelect(ContentDatabase& /*db*/, const JobRule& /*job*/) {}
  // Starts the workers. False when nothing could start: `message` says why, and OnStepDone
  // has fired or fires without further work.
  virtual bool Start(const JobRulePtr& job, const DbSettings& contentDb,
                     std::u16string& message) = 0;
  // Item slot: one stored row (Fields = its columns).
  virtual void PushItem(ToData& item) = 0;
  // Input-finished slot.
  virtual void InputFinished() = 0;
  // Clears the running flag without waiting.
  virtual void Stop() = 0;
  // Books one result into the run's record: marks the row published when the result counts
  // as published, updates the counters and sets LogText. False for a message-only result
  // (LogText set, nothing counted).
  virtual bool Record(ToData& item, ContentDatabase* db, LogData& log) = 0;
};

}  // namespace rz
