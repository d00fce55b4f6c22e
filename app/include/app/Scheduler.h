// Starting jobs: the job queue, the queue timer (every second: open queued jobs as run pages
// while fewer than MaxJobCount run), the plan timer (every ten seconds: queue the jobs whose
// plan is due) and the shutdown after the last job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "store/Sites.h"

namespace rz {

class CUiLoop;

// Plan types.
enum : int { PlanEveryDays = 0, PlanOnce = 1, PlanWeekly = 2, PlanEveryMinutes = 3 };

// Seconds since 1970 UTC.
int64_t PlanNow();
// The next run time after a run; plan.LastTime has just been set to now.
int64_t NextPlanTime(const PlanJob& plan, int64_t now);
// The due test at `now`; a due plan is advanced (the caller saves the index).
bool IsPlanDue(PlanJob& plan, int64_t now);
// "%04d-%02d-%02d %02d:%02d:%02d" in local time.
std::u16string FormatPlanTime(int64_t t);
// Local "Y-M-D h:m[:s]" with an optional offset ("+08", "+0800"); 0 when it does not parse.
int64_t ParsePlanTime(const std::u16string& text);

std::u16string PlanStatusHtml(const JobEntry* job);
std::u16string PlanMarkerHtml(const JobEntry& job);
std::u16string PlanTooltip(const JobEntry& job);

// The job queue: ids in order, one lock for every push, pop and length read.
class CJobQueue {
 public:
  void Push(const std::vector<std::u16string>& ids);
  bool Pop(std::u16string& id);
  size_t Size() const;

 private:
  mutable std::mutex lock_;
  std::deque<std::u16string> ids_;
};

class CScheduler {
 public:
  CScheduler();
  ~CScheduler();
  CScheduler(const CScheduler&) = delete;
  CScheduler& operator=(const CScheduler&) = delete;

  // What the scheduler asks of the frame and the settings (UI thread).
  std::function<int()> maxJobCount;
  std::function<int()> runningJobCount;
  std::function<bool()> shutdownAfterTasks;
  std::function<void(const std::u16string& jobId)> openJobPage;
  // Shuts the computer down after 30 seconds with the message; false when it could not be
  // asked. Replaceable: tests put a fake here.
  std::function<bool(const std::u16string& message)> shutdown;
  std::function<int64_t()> now = PlanNow;

  void QueueJobs(const std::vector<std::u16string>& ids);
  CJobQueue& Queue() { return queue_; }
  bool ShutdownArmed() const { return shutdownArmed_; }

  // Timer 2 (every second) and timer 1 (every ten seconds); both on the UI thread.
  void QueueTick();
  void PlanTick(SiteStore& store);

  // Posts the two ticks to the loop from a timer thread until Stop.
  void Start(CUiLoop& loop, SiteStore& store, int queueMs = 1000, int planMs = 10000);
  void Stop();

 private:
  CJobQueue queue_;
  bool shutdownArmed_ = false;
  std::thread timer_;
  std::mutex timerLock_;
  std::condition_variable timerWake_;
  bool stopping_ = false;
};

// The shutdown message and the system call behind the default shutdown.
extern const char16_t* const kShutdownMessage;
bool SystemShutdown(const std::u16string& message);

}  // namespace rz
