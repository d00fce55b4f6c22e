// The scheduler: plan times and due tests, the queue timer's limit, the shutdown rule.
#include <gtest/gtest.h>

#include <ctime>

#include "app/Scheduler.h"
#include "Sandbox.h"
#include "foundation/Text.h"

namespace {

rz::PlanJob Plan(int type, const char16_t* param, int64_t last, int64_t next, int isClose = 0) {
  rz::PlanJob p;
  p.IsClose = isClose;
  p.Type = type;
  p.IntervalCount = param;
  p.LastTime = last;
  p.NextTime = next;
  return p;
}

// A local time as seconds since 1970.
int64_t Local(int y, int mo, int d, int h, int mi, int s) {
  tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&t));
}

TEST(Scheduler, NextPlanTimeTable) {
  const int64_t now = Local(2024, 3, 5, 9, 4, 7);  // a Tuesday
  struct Case {
    const char* name;
    rz::PlanJob plan;
    int64_t expected;
  } cases[] = {
      {"switched off", Plan(0, u"2", now, 0, 1), 0},
      {"every 2 days", Plan(0, u"2", now, 0), now + 2 * 86400},
      {"every 0 days never again", Plan(0, u"0", now, 0), 0},
      {"days not a number", Plan(0, u"abc", now, 0), 0},
      {"once", Plan(1, u"", now, 0), now},
      {"weekly on Thursday", Plan(2, u"4", now, 0), now + 2 * 86400},
      {"weekly on its own weekday: seven days", Plan(2, u"2", now, 0), now + 7 * 86400},
      {"weekly on Sunday", Plan(2, u"0", now, 0), now + 5 * 86400},
      {"every 15 minutes", Plan(3, u"15", now, 0), now + 15 * 60},
      {"every 0 minutes never again", Plan(3, u"0", now, 0), 0},
      {"unknown type", Plan(7, u"1", now, 0), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(rz::NextPlanTime(c.plan, now), c.expected) << c.name;
}

TEST(Scheduler, IsPlanDueAdvancesOrCloses) {
  const int64_t now = 1'700'000'000;
  auto off = Plan(3, u"5", 0, now - 10, 1);
  EXPECT_FALSE(rz::IsPlanDue(off, now));
  auto never = Plan(3, u"5", 0, 0);
  EXPECT_FALSE(rz::IsPlanDue(never, now));
  auto early = Plan(3, u"5", 0, now + 1);
  EXPECT_FALSE(rz::IsPlanDue(early, now));
  EXPECT_EQ(early.NextTime, now + 1);

  auto minutes = Plan(3, u"5", 0, now);
  EXPECT_TRUE(rz::IsPlanDue(minutes, now));
  EXPECT_EQ(minutes.LastTime, now);
  EXPECT_EQ(minutes.NextTime, now + 300);

  // Once: closed after its run, LastTime kept.
  auto once = Plan(1, u"", 1234, now - 5);
  EXPECT_TRUE(rz::IsPlanDue(once, now));
  EXPECT_EQ(once.IsClose, 1);
  EXPECT_EQ(once.NextTime, 0);
  EXPECT_EQ(once.LastTime, 1234);
  EXPECT_FALSE(rz::IsPlanDue(once, now + 100));

  // Every "0" minutes: runs once when due, never again.
  auto zero = Plan(3, u"0", 0, now);
  EXPECT_TRUE(rz::IsPlanDue(zero, now));
  EXPECT_EQ(zero.NextTime, 0);
  EXPECT_FALSE(rz::IsPlanDue(zero, now + 3600));
}

TEST(Scheduler, PlanTextsAndTimeParsing) {
  const int64_t t = Local(2024, 3, 5, 9, 4, 7);
  EXPECT_EQ(rz::FormatPlanTime(t), u"2024-03-05 09:04:07");
  EXPECT_EQ(rz::ParsePlanTime(u"2024-03-05 09:04:07"), t);
  EXPECT_EQ(rz::ParsePlanTime(u"2024/3/5 9:04"), t - 7);
  EXPECT_EQ(rz::ParsePlanTime(u"2024-03-05 09:04:07 +0000"), 1709629447);
  EXPECT_EQ(rz::ParsePlanTime(u"2024-03-05 09:04:07+08"), 1709629447 - 8 * 3600);
  EXPECT_EQ(rz::ParsePlanTime(u"tomorrow"), 0);
  EXPECT_EQ(rz::ParsePlanTime(u"2024-13-05 09:04"), 0);

  rz::JobEntry job;
  job.JobId = u"J1";
  job.JobName = u"新闻";
  EXPECT_EQ(rz::PlanMarkerHtml(job), u"");
  EXPECT_EQ(rz::PlanTooltip(job), u"新闻对应编号:J1");
  EXPECT_EQ(rz::PlanStatusHtml(&job), u"<strong><font color=\"red\">关闭</font></strong>");
  EXPECT_EQ(rz::PlanStatusHtml(nullptr), u"<strong><font color=\"red\">关闭</font></strong>");
  *job.PlanJob = Plan(3, u"5", 0, t);
  EXPECT_EQ(rz::PlanMarkerHtml(job),
            u"<span title=\"[挂机中]下次运行时间:2024-03-05 09:04:07\" id=\"J1_HandUp\"><font "
            u"color=\"gray\">[挂机中]</font></span>");
  EXPECT_EQ(rz::PlanTooltip(job), u"[挂机中]下次运行时间:2024-03-05 09:04:07");
  EXPECT_EQ(rz::PlanStatusHtml(&job),
            u"<strong><font color=\"red\">下次启动时间：2024-03-05 09:04:07<br/>上次运行时间：无运行记录</font></strong>");
  job.PlanJob->LastTime = t - 300;
  EXPECT_EQ(rz::PlanStatusHtml(&job),
            u"<strong><font color=\"red\">下次启动时间：2024-03-05 09:04:07<br/>上次运行时间：2024-03-05 08:59:07</font></strong>");
}

// A frame stand-in: pages opened, jobs active, a fake shutdown.
struct FakeFrame {
  rz::CScheduler scheduler;
  std::vector<std::u16string> opened;
  std::set<std::u16string> active;
  int limit = 2;
  bool afterTasks = false;
  int shutdowns = 0;
  bool shutdownWorks = true;
  FakeFrame() {
    scheduler.maxJobCount = [this] { return limit; };
    scheduler.runningJobCount = [this] { return static_cast<int>(active.size()); };
    scheduler.shutdownAfterTasks = [this] { return afterTasks; };
    scheduler.openJobPage = [this](const std::u16string& id) {
      opened.push_back(id);
      active.insert(id);  // a job already active opens no second page
    };
    scheduler.shutdown = [this](const std::u16string& message) {
      EXPECT_EQ(message, rz::kShutdownMessage);
      ++shutdowns;
      return shutdownWorks;
    };
  }
};

TEST(Scheduler, QueueTickKeepsTheLimit) {
  FakeFrame f;
  f.scheduler.QueueJobs({u"a", u"", u"b", u"c", u"d", u"e"});
  EXPECT_EQ(f.scheduler.Queue().Size(), 5u);  // the empty id is never queued
  f.scheduler.QueueTick();
  EXPECT_EQ(f.opened, (std::vector<std::u16string>{u"a", u"b"}));
  f.scheduler.QueueTick();  // two still active: nothing more
  EXPECT_EQ(f.opened.size(), 2u);
  f.active.erase(u"a");
  f.scheduler.QueueTick();
  EXPECT_EQ(f.opened.back(), u"c");
  EXPECT_EQ(f.scheduler.Queue().Size(), 2u);

  f.limit = 0;  // no limit: everything in one tick
  f.scheduler.QueueTick();
  EXPECT_EQ(f.opened.size(), 5u);
  EXPECT_EQ(f.scheduler.Queue().Size(), 0u);
}

TEST(Scheduler, ShutdownOnlyAfterQueuedJobsEnded) {
  FakeFrame f;
  f.afterTasks = true;
  f.scheduler.QueueTick();  // nothing ever waited: no shutdown
  EXPECT_EQ(f.shutdowns, 0);
  EXPECT_FALSE(f.scheduler.ShutdownArmed());

  f.scheduler.QueueJobs({u"a"});
  f.scheduler.QueueTick();  // armed, page opened, job active
  EXPECT_TRUE(f.scheduler.ShutdownArmed());
  f.scheduler.QueueTick();
  EXPECT_EQ(f.shutdowns, 0);  // still running
  f.active.clear();
  f.shutdownWorks = false;
  f.scheduler.QueueTick();
  EXPECT_EQ(f.shutdowns, 1);
  f.scheduler.QueueTick();  // asked again on each tick while the conditions hold
  EXPECT_EQ(f.shutdowns, 2);

  f.afterTasks = false;  // switching the option off disarms
  f.scheduler.QueueTick();
  EXPECT_FALSE(f.scheduler.ShutdownArmed());
  f.afterTasks = true;
  f.scheduler.QueueTick();
  EXPECT_EQ(f.shutdowns, 2);
}

TEST(Scheduler, PlanTickQueuesDueJobsAndSavesTheIndex) {
  rztest::Sandbox box;
  rz::SiteStore store;
  auto site = store.AddSite(u"S", u"站点");
  auto due = site->AddJob(u"due");
  *due->PlanJob = Plan(3, u"10", 0, 1000);
  auto later = site->AddJob(u"later");
  *later->PlanJob = Plan(3, u"10", 0, 5000);
  auto off = site->AddJob(u"off");
  *off->PlanJob = Plan(3, u"10", 0, 1000, 1);

  rz::CScheduler scheduler;
  scheduler.now = [] { return int64_t(2000); };
  scheduler.PlanTick(store);
  std::u16string id;
  ASSERT_TRUE(scheduler.Queue().Pop(id));
  EXPECT_EQ(id, u"due");
  EXPECT_FALSE(scheduler.Queue().Pop(id));
  EXPECT_EQ(due->PlanJob->NextTime, 2000 + 600);

  rz::SiteStore reread;
  ASSERT_TRUE(reread.LoadIndex());
  auto job = reread.FindJob(u"due");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->PlanJob->LastTime, 2000);
  EXPECT_EQ(job->PlanJob->NextTime, 2600);
}

}  // namespace
