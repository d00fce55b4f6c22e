#include "foundation/Worker.h"

#include <condition_variable>
#include <set>
#include <thread>

#include "foundation/Pause.h"

namespace pcutil {

namespace detail {

struct PoolState {
  std::recursive_mutex lock;  // ThreadLock
  std::condition_variable_any changed;
  std::map<uint32_t, CThreadRecord> threads;
  uint64_t nextSerial = 1;
  int live = 0;          // threads started and not yet past ThreadDone, of any run
  bool runOpen = false;  // the current run has not emitted OnAllDone yet
  std::atomic<bool> closing{false};

  // The pause gate. Each run has its own: a run replaced while suspended stays parked,
  // as suspended threads did, and never mixes with the new run.
  std::mutex gateLock;
  std::condition_variable gateChanged;
  uint64_t run = 0;
  bool suspended = false;
  std::set<uint64_t> parkedRuns;

  void Pass(uint64_t threadRun) {
    std::unique_lock<std::mutex> lk(gateLock);
    gateChanged.wait(lk, [&] {
      if (closing) return true;
      return !(threadRun == run && suspended) && parkedRuns.count(threadRun) == 0;
    });
  }
};

}  // namespace detail

namespace {

struct CurrentThread {
  std::shared_ptr<detail::PoolState> state;
  uint64_t serial = 0;
  uint64_t run = 0;
  bool inEntry = false;
};
thread_local CurrentThread t_current;

bool OwnsRecord(const std::shared_ptr<detail::PoolState>& st) {
  if (t_current.state != st) return false;
  for (const auto& [index, rec] : st->threads)
    if (rec.Serial == t_current.serial) return true;
  return false;
}

}  // namespace

CBaseThread::CBaseThread()
    : state_(std::make_shared<detail::PoolState>()),
      ThreadLock(state_->lock),
      Threads(state_->threads) {}

CBaseThread::~CBaseThread() { StopAndWait(); }

bool CBaseThread::StartThread(Entry entry, uint32_t index) {
  auto st = state_;
  std::lock_guard<std::recursive_mutex> lk(st->lock);
  const uint64_t serial = st->nextSerial++;
  uint64_t run;
  {
    std::lock_guard<std::mutex> g(st->gateLock);
    run = st->run;
  }
  st->threads[index] = CThreadRecord{serial};
  st->runOpen = true;
  ++st->live;
  try {
    std::thread([this, st, serial, run, index, entry = std::move(entry)] {
      t_current = {st, serial, run, true};
      st->Pass(run);
      try {
        entry();
      } catch (...) {
        // A worker's failure ends that worker, never the program.
      }
      t_current.inEntry = false;
      st->Pass(run);  // a suspended pool does not complete
      ThreadDone(index);
      // From here on the pool may be gone: only the shared block is touched.
      {
        std::lock_guard<std::recursive_mutex> l(st->lock);
        --st->live;
        st->changed.notify_all();
      }
      t_current = {};
    }).detach();
  } catch (const std::system_error&) {
    auto it = st->threads.find(index);
    if (it != st->threads.end() && it->second.Serial == serial) st->threads.erase(it);
    --st->live;
    return false;
  }
  return true;
}

bool CBaseThread::StartPool(uint32_t count, const std::function<void(uint32_t)>& worker) {
  auto st = state_;
  std::lock_guard<std::recursive_mutex> lk(st->lock);
  st->threads.clear();
  {
    std::lock_guard<std::mutex> g(st->gateLock);
    if (st->suspended) st->parkedRuns.insert(st->run);
    st->suspended = false;
    ++st->run;
  }
  IsRunning = 1;
  st->runOpen = true;
  bool ok = true;
  for (uint32_t i = 0; i < count; ++i)
    ok = StartThread([worker, i] { worker(i); }, i) && ok;
  if (st->threads.empty()) StopAll();
  return ok;
}

void CBaseThread::ThreadDone(uint32_t index) {
  auto st = state_;
  std::lock_guard<std::recursive_mutex> lk(st->lock);
  if (t_current.state == st && t_current.inEntry) return;  // the thread's wrapper calls it
  auto it = st->threads.find(index);
  if (it == st->threads.end()) return;
  if (t_current.state == st && it->second.Serial != t_current.serial) return;  // a newer thread
  st->threads.erase(it);
  st->changed.notify_all();
  if (!st->threads.empty() || st->closing) return;
  StopAll();
}

void CBaseThread::StopAll() {
  auto st = state_;
  std::unique_lock<std::recursive_mutex> lk(st->lock);
  IsRunning = 0;
  if (OwnsRecord(st)) return;  // would wait for itself
  st->changed.wait(lk, [&] { return st->threads.empty() || st->closing; });
  st->threads.clear();
  if (!st->runOpen || st->closing) return;
  st->runOpen = false;
  OnAllDone.Emit();  // with ThreadLock held; a slot may restart or destroy the pool
}

// The gate has its own lock rather than ThreadLock: ThreadLock is held while OnAllDone's
// slots run, and those may wait on the UI thread that is pausing or resuming.
void CBaseThread::SuspendAll() {
  auto st = state_;
  std::lock_guard<std::mutex> g(st->gateLock);
  st->suspended = true;
}

void CBaseThread::ResumeAll() {
  auto st = state_;
  std::lock_guard<std::mutex> g(st->gateLock);
  st->suspended = false;
  st->gateChanged.notify_all();
}

bool CBaseThread::IsSuspended() const {
  std::lock_guard<std::mutex> g(state_->gateLock);
  return state_->suspended;
}

void CBaseThread::PassGate() {
  if (t_current.state) t_current.state->Pass(t_current.run);
}

size_t CBaseThread::ThreadCount() const {
  std::lock_guard<std::recursive_mutex> lk(state_->lock);
  return state_->threads.size();
}

void CBaseThread::StopAndWait() {
  auto st = state_;
  {
    std::lock_guard<std::mutex> g(st->gateLock);
    st->closing = true;
    st->gateChanged.notify_all();
  }
  std::unique_lock<std::recursive_mutex> lk(st->lock);
  IsRunning = 0;
  st->changed.notify_all();
  // On one of its own threads (a slot destroying the pool) the lock may be held further
  // up the stack, so waiting could never end: the threads are left to finish.
  if (t_current.state == st) return;
  st->changed.wait(lk, [&] { return st->live == 0; });
}

}  // namespace pcutil
