#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/UiLoop.h"

using rz::CUiLoop;

TEST(UiLoop, SendRunsOnTheUiThreadAndWaits) {
  CUiLoop loop;
  loop.Start();
  std::thread::id uiThread;
  int value = 0;
  ASSERT_TRUE(loop.Send([&] {
    uiThread = std::this_thread::get_id();
    value = 42;
  }));
  EXPECT_EQ(value, 42);  // Send returned only after the call ran
  EXPECT_NE(uiThread, std::this_thread::get_id());
  bool inside = false;
  loop.Send([&] { inside = loop.IsUiThread(); });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(loop.IsUiThread());
}

TEST(UiLoop, PostsRunInOrderAndSendFromTheUiThreadRunsAtOnce) {
  CUiLoop loop;
  loop.Start();
  std::vector<int> order;
  for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
  loop.Send([&] {
    // A Send made on the UI thread itself must not wait for the queue (no deadlock).
    loop.Send([&] { order.push_back(-1); });
  });
  ASSERT_EQ(order.size(), 101u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(order[100], -1);
}

TEST(UiLoop, ManyWorkersSendConcurrently) {
  CUiLoop loop;
  loop.Start();
  int counter = 0;  // touched only on the UI thread
  std::vector<std::thread> workers;
  for (int w = 0; w < 8; ++w)
    workers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) loop.Send([&] { ++counter; });
    });
  for (auto& t : workers) t.join();
  loop.Send([] {});
  EXPECT_EQ(counter, 1600);
}

TEST(UiLoop, AfterQuitSendAndPostAreRefusedWithoutHanging) {
  CUiLoop loop;
  loop.Start();
  loop.Quit();
  loop.Join();
  bool ran = false;
  EXPECT_FALSE(loop.Post([&] { ran = true; }));
  EXPECT_FALSE(loop.Send([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

TEST(UiLoop, QuitReleasesSendersWaitingOnQueuedCalls) {
  CUiLoop loop;
  loop.Start();
  std::atomic<bool> release{false};
  loop.Post([&] {
    while (!release) std::this_thread::yield();
    loop.Quit();  // the Send below is still queued behind this call
  });
  std::thread sender([&] { EXPECT_FALSE(loop.Send([] {})); });
  release = true;
  sender.join();
  loop.Join();
}

TEST(UiLoop, RunUntilProcessesQueuedCallsForModalDialogs) {
  CUiLoop loop;
  loop.Start();
  bool ended = false;
  std::vector<int> seen;
  loop.Send([&] {
    loop.Post([&] { seen.push_back(1); });
    loop.Post([&] {
      seen.push_back(2);
      ended = true;
    });
    loop.Post([&] { seen.push_back(3); });
    loop.RunUntil([&] { return ended; });
    seen.push_back(0);  // back from the nested loop before call 3 ran
  });
  loop.Send([] {});
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 3}));
}

TEST(UiLoop, IdleHandlerRunsWhenTheQueueDrains) {
  CUiLoop loop;
  std::atomic<int> idles{0};
  loop.SetIdleHandler([&] { ++idles; });
  loop.Start();
  loop.Send([] {});
  // The idle call follows the drained queue, after Send has already returned: wait for it.
  for (int i = 0; i < 500 && idles.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(idles.load(), 1);
}
