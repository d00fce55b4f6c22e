#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Signals.h"

using namespace pcutil;

namespace {

struct Log : SignalReceiver {
  std::vector<std::string>* calls = nullptr;
  std::string name;
  Signal0* source = nullptr;
  Log* victim = nullptr;

  Log(std::vector<std::string>& c, std::string n) : calls(&c), name(std::move(n)) {}
  void Note() { calls->push_back(name); }
  void NoteAndLeave() {
    calls->push_back(name);
    DisconnectAll();
  }
  void NoteAndDropVictim() {
    calls->push_back(name);
    victim->DisconnectAll();
  }
  void Add(int& total, int step) { total += step; }
  void Three(int a, const std::u16string& b, long c) {
    calls->push_back(std::to_string(a) + ":" + std::to_string(b.size()) + ":" + std::to_string(c));
  }
};

}  // namespace

TEST(Signals, DoubleConnectCallsTwiceAndDisconnectAllRemovesBoth) {
  std::vector<std::string> calls;
  Log a(calls, "a"), b(calls, "b");
  Signal0 s;
  s.Emit();  // nothing connected: nothing happens
  s.Connect(&a, &Log::Note);
  s.Connect(&b, &Log::Note);
  s.Connect(&a, &Log::Note);
  s.Emit();
  EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "a"}));
  a.DisconnectAll();
  calls.clear();
  s.Emit();
  EXPECT_EQ(calls, (std::vector<std::string>{"b"}));
  EXPECT_EQ(s.ConnectionCount(), 1u);
}

TEST(Signals, DisconnectDuringEmission) {
  std::vector<std::string> calls;
  Log self(calls, "self"), dropper(calls, "dropper"), victim(calls, "victim"), last(calls, "last");
  dropper.victim = &victim;
  Signal0 s;
  s.Connect(&self, &Log::NoteAndLeave);
  s.Connect(&dropper, &Log::NoteAndDropVictim);
  s.Connect(&victim, &Log::Note);
  s.Connect(&self, &Log::NoteAndLeave);  // a second connection of the one that leaves
  s.Connect(&last, &Log::Note);
  s.Emit();
  // The removed connections are skipped; the others run in order.
  EXPECT_EQ(calls, (std::vector<std::string>{"self", "dropper", "last"}));
  calls.clear();
  s.Emit();
  EXPECT_EQ(calls, (std::vector<std::string>{"dropper", "last"}));
}

TEST(Signals, ArgumentsAndReferences) {
  std::vector<std::string> calls;
  Log r(calls, "r");
  Signal2<int&, int> add;
  add.Connect(&r, &Log::Add);
  add.Connect(&r, &Log::Add);
  int total = 1;
  add.Emit(total, 5);
  EXPECT_EQ(total, 11);  // members see and change the caller's object
  Signal3<int, const std::u16string&, long> three;
  three.Connect(&r, &Log::Three);
  three.Emit(7, u"abc", 9L);
  EXPECT_EQ(calls, (std::vector<std::string>{"7:3:9"}));
}

TEST(Signals, EitherSideMayBeDestroyedFirst) {
  std::vector<std::string> calls;
  Signal0 kept;
  {
    Log gone(calls, "gone");
    kept.Connect(&gone, &Log::Note);
  }
  EXPECT_EQ(kept.ConnectionCount(), 0u);
  kept.Emit();
  Log stays(calls, "stays");
  {
    Signal0 temporary;
    temporary.Connect(&stays, &Log::Note);
    kept.Connect(&stays, &Log::Note);
  }
  stays.DisconnectAll();  // must not touch the destroyed signal
  kept.Emit();
  EXPECT_TRUE(calls.empty());
}

TEST(Signals, EmittingWhileOtherThreadsRewire) {
  struct Counter : SignalReceiver {
    std::atomic<int> n{0};
    void Hit() { ++n; }
  };
  Signal0 s;
  std::vector<std::unique_ptr<Counter>> receivers;
  for (int i = 0; i < 8; ++i) receivers.push_back(std::make_unique<Counter>());
  std::atomic<bool> stop{false};
  std::vector<std::thread> emitters;
  for (int t = 0; t < 2; ++t)
    emitters.emplace_back([&] {
      while (!stop) s.Emit();
    });
  for (int round = 0; round < 2000; ++round) {
    auto& r = *receivers[round % receivers.size()];
    s.Connect(&r, &Counter::Hit);
    if (round % 3 == 0) r.DisconnectAll();
  }
  for (auto& r : receivers) r->DisconnectAll();
  stop = true;
  for (auto& t : emitters) t.join();
  EXPECT_EQ(s.ConnectionCount(), 0u);
}
