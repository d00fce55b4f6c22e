#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/Pause.h"
#include "foundation/Worker.h"

using namespace pcutil;
using namespace std::chrono_literals;

namespace {

// Counts OnAllDone and lets the test wait for it.
struct DoneWatch : SignalReceiver {
  std::mutex m;
  std::condition_variable cv;
  int done = 0;
  void OnDone() {
    std::lock_guard<std::mutex> l(m);
    ++done;
    cv.notify_all();
  }
  // Waits for the n-th completion; the deadline only turns a hang into a failure.
  bool WaitFor(int n) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, 60s, [&] { return done >= n; });
  }
  int Count() {
    std::lock_guard<std::mutex> l(m);
    return done;
  }
};

class WorkerPool : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedPauseMs(0); }
  void TearDown() override { SetFixedPauseMs(300); }
};

// A pool whose workers run until the flag is cleared, counting units.
struct Spinner : CBaseThread {
  std::atomic<long> units{0};
  bool Start(uint32_t n) {
    return StartPool(n, [this](uint32_t) {
      while (IsRunning) {
        ++units;
        UnitPause();
      }
    });
  }
  ~Spinner() override { StopAndWait(); }
};

}  // namespace

TEST_F(WorkerPool, DrainsAQueueAndCompletesOnce) {
  struct Summer : CBaseThread {
    LockedQueue<int> queue;
    std::atomic<long> sum{0};
    ~Summer() override { StopAndWait(); }
  } pool;
  DoneWatch watch;
  pool.OnAllDone.Connect(&watch, &DoneWatch::OnDone);
  for (int i = 1; i <= 1000; ++i) pool.queue.Push(i);
  ASSERT_TRUE(pool.StartPool(4, [&](uint32_t) {
    int v;
    while (pool.IsRunning && pool.queue.Pop(v)) {
      pool.sum += v;
      UnitPause();
    }
  }));
  ASSERT_TRUE(watch.WaitFor(1));
  EXPECT_EQ(pool.sum, 500500);
  EXPECT_EQ(pool.queue.Count(), 0u);
  EXPECT_EQ(pool.ThreadCount(), 0u);
  pool.StopAll();  // an idle pool has nothing more to announce
  EXPECT_EQ(watch.Count(), 1);
}

TEST_F(WorkerPool, StoppedWhileSuspendedEndsOnlyAfterResume) {
  Spinner pool;
  DoneWatch watch;
  pool.OnAllDone.Connect(&watch, &DoneWatch::OnDone);
  ASSERT_TRUE(pool.Start(3));
  while (pool.units < 30) std::this_thread::yield();
  pool.SuspendAll();
  EXPECT_TRUE(pool.IsSuspended());
  const long atSuspend = pool.units;
  pool.IsRunning = 0;
  std::this_thread::sleep_for(200ms);  // room for a broken gate to let them finish
  // Each thread may finish the unit it was in, then it parks.
  EXPECT_LE(pool.units, atSuspend + 3);
  EXPECT_EQ(watch.Count(), 0);
  EXPECT_EQ(pool.ThreadCount(), 3u);
  pool.ResumeAll();
  ASSERT_TRUE(watch.WaitFor(1));
  EXPECT_EQ(pool.ThreadCount(), 0u);
  EXPECT_EQ(watch.Count(), 1);
}

TEST_F(WorkerPool, SuspendAndResumeKeepsWorking) {
  Spinner pool;
  DoneWatch watch;
  pool.OnAllDone.Connect(&watch, &DoneWatch::OnDone);
  ASSERT_TRUE(pool.Start(2));
  pool.SuspendAll();
  pool.ResumeAll();
  const long before = pool.units;
  while (pool.units < before + 50) std::this_thread::yield();
  pool.StopAll();  // waits, and the last thread has announced the end by then
  EXPECT_EQ(watch.Count(), 1);
  EXPECT_EQ(pool.ThreadCount(), 0u);
}

TEST_F(WorkerPool, StopFromInsideAndEdgeRuns) {
  struct Pool : CBaseThread {
    ~Pool() override { StopAndWait(); }
  } pool;
  DoneWatch watch;
  pool.OnAllDone.Connect(&watch, &DoneWatch::OnDone);
  // A worker that stops the pool must not wait for itself.
  ASSERT_TRUE(pool.StartPool(3, [&](uint32_t i) {
    if (i == 1) pool.StopAll();
    while (pool.IsRunning) UnitPause();
  }));
  ASSERT_TRUE(watch.WaitFor(1));
  // A worker that throws still ends its thread and the run.
  ASSERT_TRUE(pool.StartPool(2, [](uint32_t i) {
    if (i == 0) throw std::runtime_error("unit failed");
  }));
  ASSERT_TRUE(watch.WaitFor(2));
  // A run without threads is over at once.
  ASSERT_TRUE(pool.StartPool(0, [](uint32_t) {}));
  EXPECT_EQ(watch.Count(), 3);
  // ThreadDone called by a worker itself changes nothing: the run still ends once.
  ASSERT_TRUE(pool.StartPool(2, [&](uint32_t i) { pool.ThreadDone(i); }));
  ASSERT_TRUE(watch.WaitFor(4));
  pool.StopAll();
  EXPECT_EQ(watch.Count(), 4);
}

TEST_F(WorkerPool, CompletionSlotMayRestartTheSamePool) {
  struct Steps : CBaseThread {
    std::atomic<int> runs{0};
    DoneWatch* watch = nullptr;
    void Run() {
      StartPool(2, [this](uint32_t) { UnitPause(); });
    }
    void Next() {
      // Runs on the last thread with ThreadLock held.
      if (++runs < 5) Run();
      else watch->OnDone();
    }
    ~Steps() override { StopAndWait(); }
  } pool;
  DoneWatch watch;
  pool.watch = &watch;
  pool.OnAllDone.Connect(&pool, &Steps::Next);
  pool.Run();
  ASSERT_TRUE(watch.WaitFor(1));
  EXPECT_EQ(pool.runs, 5);
}

TEST_F(WorkerPool, PauseAndResumeDoNotWaitForACompletionSlot) {
  // The completion slot runs with ThreadLock held and may wait for the thread that pauses
  // (a log report sent to the UI thread).
  struct Pool : CBaseThread {
    DoneWatch* watch = nullptr;
    void Finished() {
      std::thread ui([this] {
        SuspendAll();
        ResumeAll();
      });
      ui.join();
      watch->OnDone();
    }
    ~Pool() override { StopAndWait(); }
  } pool;
  DoneWatch watch;
  pool.watch = &watch;
  pool.OnAllDone.Connect(&pool, &Pool::Finished);
  ASSERT_TRUE(pool.StartPool(1, [](uint32_t) {}));
  ASSERT_TRUE(watch.WaitFor(1));
}

TEST_F(WorkerPool, DestroyedRightAfterCompletion) {
  for (int round = 0; round < 100; ++round) {
    auto pool = std::make_unique<Spinner>();
    DoneWatch watch;
    pool->OnAllDone.Connect(&watch, &DoneWatch::OnDone);
    ASSERT_TRUE(pool->StartPool(3, [](uint32_t) { YieldPause(); }));
    ASSERT_TRUE(watch.WaitFor(1));
    pool.reset();  // the last thread may still be unwinding
  }
}

TEST_F(WorkerPool, DestroyedFromItsOwnCompletionSlot) {
  struct Owner : SignalReceiver {
    CBaseThread* pool = nullptr;
    DoneWatch* watch = nullptr;
    void Finished() {
      delete pool;
      watch->OnDone();
    }
  };
  for (int round = 0; round < 50; ++round) {
    DoneWatch watch;
    Owner owner;
    owner.watch = &watch;
    owner.pool = new CBaseThread;
    owner.pool->OnAllDone.Connect(&owner, &Owner::Finished);
    ASSERT_TRUE(owner.pool->StartPool(2, [](uint32_t) { YieldPause(); }));
    ASSERT_TRUE(watch.WaitFor(1));
  }
}

TEST_F(WorkerPool, DestroyedWhileSuspended) {
  auto pool = std::make_unique<Spinner>();
  DoneWatch watch;
  pool->OnAllDone.Connect(&watch, &DoneWatch::OnDone);
  ASSERT_TRUE(pool->Start(2));
  pool->SuspendAll();
  pool.reset();  // stops and releases the parked threads, without announcing completion
  EXPECT_EQ(watch.Count(), 0);
}

TEST_F(WorkerPool, FixedPausesFollowTheSetting) {
  SetFixedPauseMs(-5);
  EXPECT_EQ(FixedPauseMs(), 0);
  UnitPause();
  PauseMs(10000);  // skipped while FixedPauseMs is 0
  YieldPause();
  PassPauseGate();  // not a pool thread: nothing to pass
  SetFixedPauseMs(1);
  EXPECT_EQ(FixedPauseMs(), 1);
  PauseMs(1);
}
