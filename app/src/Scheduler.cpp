#include "app/Scheduler.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "foundation/Text.h"
#include "platform/UiLoop.h"

extern char** environ;

namespace rz {

using pcutil::Format;

const char16_t* const kShutdownMessage =
    u"澜岳采集器提示您，你选择了完成任务后关机，请保存好资料,将在30秒后关机！";

namespace {

// Integer value of a plan parameter; text that is not a number reads as 0.
int ParamValue(const std::u16string& text) {
  return std::atoi(pcutil::Utf16ToUtf8(text).c_str());
}

}  // namespace

int64_t PlanNow() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t NextPlanTime(const PlanJob& plan, int64_t now) {
  if (plan.IsClose == 1) return 0;
  switch (plan.Type) {
    case PlanEveryDays: {
      int n = ParamValue(plan.IntervalCount);
      return n < 1 ? 0 : plan.LastTime + int64_t(n) * 86400;
    }
    case PlanOnce:
      return plan.LastTime;
    case PlanWeekly: {
      int w = ParamValue(plan.IntervalCount);
      time_t t = static_cast<time_t>(now);
      tm local{};
      localtime_r(&t, &local);
      int k = ((w - local.tm_wday) % 7 + 7) % 7;
      if (k == 0) k = 7;
      int64_t hour = now - now % 3600;
      return hour + int64_t(k) * 86400 + plan.LastTime % 3600;
    }
    case PlanEveryMinutes: {
      int n = ParamValue(plan.IntervalCount);
      return n < 1 ? 0 : plan.LastTime + int64_t(n) * 60;
    }
    default:
      return 0;
  }
}

bool IsPlanDue(PlanJob& plan, int64_t now) {
  if (plan.IsClose == 1 || plan.NextTime == 0) return false;
  if (now < plan.NextTime) return false;
  if (plan.Type == PlanOnce) {
    plan.NextTime = 0;
    plan.IsClose = 1;
  } else {
    plan.LastTime = now;
    plan.NextTime = NextPlanTime(plan, now);
  }
  return true;
}

std::u16string FormatPlanTime(int64_t value) {
  time_t t = static_cast<time_t>(value);
  tm local{};
  localtime_r(&t, &local);
  return Format(u"%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

int64_t ParsePlanTime(const std::u16string& text) {
  static const std::regex pattern(
      R"(^\s*(\d{4})[-/](\d{1,2})[-/](\d{1,2})[ T]+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?\s*(?:([+-])(\d{2})(?::?(\d{2}))?)?\s*$)");
  std::smatch m;
  const std::string s = pcutil::Utf16ToUtf8(text);
  if (!std::regex_match(s, m, pattern)) return 0;
  tm parts{};
  parts.tm_year = std::stoi(m[1]) - 1900;
  parts.tm_mon = std::stoi(m[2]) - 1;
  parts.tm_mday = std::stoi(m[3]);
  parts.tm_hour = std::stoi(m[4]);
  parts.tm_min = std::stoi(m[5]);
  parts.tm_sec = m[6].matched ? std::stoi(m[6]) : 0;
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 ||
      parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60)
    return 0;
  if (m[7].matched) {
    // An explicit offset: the wall time is in that zone.
    int64_t offset = std::stoi(m[8]) * 3600 + (m[9].matched ? std::stoi(m[9]) * 60 : 0);
    if (m[7] == "-") offset = -offset;
    return static_cast<int64_t>(timegm(&parts)) - offset;
  }
  parts.tm_isdst = -1;
  time_t t = mktime(&parts);
  return t < 0 ? 0 : static_cast<int64_t>(t);
}

std::u16string PlanStatusHtml(const JobEntry* job) {
  if (!job || !job->PlanJob || job->PlanJob->IsClose == 1)
    return u"<strong><font color=\"red\">关闭</font></strong>";
  const PlanJob& plan = *job->PlanJob;
  if (plan.LastTime == 0)
    return Format(u"<strong><font color=\"red\">下次启动时间：%s<br/>上次运行时间：无运行记录</font></strong>",
                  FormatPlanTime(plan.NextTime));
  return Format(u"<strong><font color=\"red\">下次启动时间：%s<br/>上次运行时间：%s</font></strong>",
                FormatPlanTime(plan.NextTime), FormatPlanTime(plan.LastTime));
}

std::u16string PlanMarkerHtml(const JobEntry& job) {
  if (!job.PlanJob || job.PlanJob->IsClose == 1) return u"";
  return Format(u"<span title=\"[挂机中]下次运行时间:%s\" id=\"%s\"><font color=\"gray\">[挂机中]</font></span>",
                FormatPlanTime(job.PlanJob->NextTime), job.JobId + u"_HandUp");
}

std::u16string PlanTooltip(const JobEntry& job) {
  if (!job.PlanJob || job.PlanJob->IsClose == 1)
    return Format(u"%s对应编号:%s", job.JobName, job.JobId);
  return Format(u"[挂机中]下次运行时间:%s", FormatPlanTime(job.PlanJob->NextTime));
}

// ---------------------------------------------------------------- queue

void CJobQueue::Push(const std::vector<std::u16string>& ids) {
  std::lock_guard<std::mutex> lock(lock_);
  for (const auto& id : ids)
    if (!id.empty()) ids_.push_back(id);
}

bool CJobQueue::Pop(std::u16string& id) {
  std::lock_guard<std::mutex> lock(lock_);
  if (ids_.empty()) return false;
  id = std::move(ids_.front());
  ids_.pop_front();
  return true;
}

size_t CJobQueue::Size() const {
  std::lock_guard<std::mutex> lock(lock_);
  return ids_.size();
}

// ---------------------------------------------------------------- scheduler

CScheduler::CScheduler() : shutdown(SystemShutdown) {}

CScheduler::~CScheduler() { Stop(); }

void CScheduler::QueueJobs(const std::vector<std::u16string>& ids) { queue_.Push(ids); }

void CScheduler::QueueTick() {
  const size_t length = queue_.Size();
  const bool afterTasks = shutdownAfterTasks && shutdownAfterTasks();
  if (length > 0 && afterTasks) shutdownArmed_ = true;
  if (!afterTasks) shutdownArmed_ = false;
  const auto running = [this] { return runningJobCount ? runningJobCount() : 0; };
  if (length == 0) {
    if (shutdownArmed_ && afterTasks && running() == 0 && shutdown) shutdown(kShutdownMessage);
    return;
  }
  const int limit = maxJobCount ? maxJobCount() : 0;
  int started = 0;
  while (queue_.Size() > 0) {
    if (limit != 0 && (running() >= limit || started >= limit)) break;
    std::u16string id;
    if (!queue_.Pop(id)) break;
    if (id.empty()) continue;
    if (openJobPage) openJobPage(id);
    ++started;
  }
}

void CScheduler::PlanTick(SiteStore& store) {
  std::vector<std::u16string> due;
  const int64_t t = now ? now() : PlanNow();
  for (const auto& site : store.Sites)
    for (const auto& job : site->Jobs) {
      if (!job->PlanJob || !IsPlanDue(*job->PlanJob, t)) continue;
      store.SaveIndex();  // each due run moves the plan on at once
      if (!job->JobId.empty()) due.push_back(job->JobId);
    }
  QueueJobs(due);
}

void CScheduler::Start(CUiLoop& loop, SiteStore& store, int queueMs, int planMs) {
  Stop();
  stopping_ = false;
  timer_ = std::thread([this, &loop, &store, queueMs, planMs] {
    using Clock = std::chrono::steady_clock;
    auto nextQueue = Clock::now() + std::chrono::milliseconds(queueMs);
    auto nextPlan = Clock::now() + std::chrono::milliseconds(planMs);
    std::unique_lock<std::mutex> lock(timerLock_);
    while (!stopping_) {
      timerWake_.wait_until(lock, std::min(nextQueue, nextPlan), [this] { return stopping_; });
      if (stopping_) break;
      const auto t = Clock::now();
      if (t >= nextPlan) {
        nextPlan = t + std::chrono::milliseconds(planMs);
        loop.Post([this, &store] { PlanTick(store); });
      }
      if (t >= nextQueue) {
        nextQueue = t + std::chrono::milliseconds(queueMs);
        loop.Post([this] { QueueTick(); });
      }
    }
  });
}

void CScheduler::Stop() {
  {
    std::lock_guard<std::mutex> lock(timerLock_);
    stopping_ = true;
  }
  timerWake_.notify_all();
  if (timer_.joinable()) timer_.join();
}

bool SystemShutdown(const std::u16string& message) {
  // The system's own delayed power-off, with the message to logged-in users. Its delay is
  // counted in minutes, so the notice comes a minute ahead rather than thirty seconds.
  const std::string text = pcutil::Utf16ToUtf8(message);
  const char* argv[] = {"shutdown", "-P", "+1", text.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "shutdown", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return false;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace rz
