// Drives a publish step the way the job runner does: replay the journal, select the rows,
// start the runner, feed it, book every result, wait for completion.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Signals.h"
#include "foundation/Text.h"
#include "publish/PublishThread.h"
#include "storage/ContentDatabase.h"

namespace rztest {

struct PublishRun {
  bool Started = false;
  std::u16string StartMessage;
  int Selected = 0;
  rz::PublishTally Tally;
  std::vector<rz::ToData> Results;
  std::vector<std::u16string> Log;
};

class PublishDriver : public pcutil::SignalReceiver {
 public:
  // `onFed` runs after each item handed over (a test may stop the runner there).
  PublishRun Run(const rz::JobRulePtr& job, const rz::DbSettings& contentDb,
                 const std::function<void(rz::CPublishThread&, int fed)>& onFed = {}) {
    PublishRun run;
    rz::ContentDatabase db(contentDb, job->JobId);
    if (!db.Open(false)) return run;
    db_ = &db;
    job_ = job;
    run_ = &run;
    rz::ReplayPublishJournal(db, job->JobId);
    std::vector<rz::ToData> items;
    if (db.SelectForPublish(rz::PublishCountFromText(job->PublishMaxCount), job->PublishOrder)) {
      const long n = db.RecordCount();
      for (long i = 0; i < n; ++i) {
        rz::ToData item;
        if (!db.ReadRow(item.Fields)) break;
        db.NextRow();
        items.push_back(item);
      }
      db.CloseQuery();
    }
    run.Selected = static_cast<int>(items.size());
    rz::CPublishThread runner;
    runner.OnResult.Connect(this, &PublishDriver::OnResult);
    runner.OnAllDone.Connect(this, &PublishDriver::OnDone);
    done_ = false;
    run.Started = runner.Start(job, contentDb);
    run.StartMessage = runner.StartMessage;
    if (run.Started) {
      int fed = 0;
      for (const auto& item : items) {
        if (!runner.IsRunning) break;
        runner.AddItem(item);
        if (onFed) onFed(runner, ++fed);
      }
      runner.InputFinished();
    }
    std::unique_lock lock(lock_);
    cv_.wait_for(lock, std::chrono::minutes(3), [&] { return done_; });
    lock.unlock();
    runner.DisconnectAll();
    DisconnectAll();
    db_ = nullptr;
    return run;
  }

 private:
  void OnResult(const rz::ToData& result) {
    rz::ToData item = result;
    rz::LogData log;
    std::lock_guard lock(lock_);
    rz::RecordPublishResult(item, db_, job_->JobId, run_->Tally, log);
    run_->Results.push_back(item);
    run_->Log.push_back(log.LogText);
  }
  void OnDone() {
    std::lock_guard lock(lock_);
    done_ = true;
    cv_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable cv_;
  bool done_ = false;
  rz::ContentDatabase* db_ = nullptr;
  rz::JobRulePtr job_;
  PublishRun* run_ = nullptr;
};

}  // namespace rztest
