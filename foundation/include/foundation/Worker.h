// The worker pool and the locked queue.
//
// A CBaseThread starts worker threads that share the running flag IsRunning. Every worker
// loops while IsRunning is set and returns after its current unit once it is cleared; the
// last thread to end emits OnAllDone once, on that thread, with ThreadLock held. Its slots
// may start the next step (other pools, or this one again) and may disconnect.
//
// Linux cannot suspend another thread, so SuspendAll/ResumeAll close and open a pause gate
// that every worker passes at its safe points: before and after its function, and inside
// every fixed pause (foundation/Pause.h) or download read (PassPauseGate). A suspended pool
// therefore never completes: clearing IsRunning while it is suspended ends it only after
// ResumeAll.
//
// Threads are detached and clean up after themselves. The records, the lock and the gate
// live in a block shared with the threads, so a pool may be destroyed as soon as OnAllDone
// has been emitted (or from its slot) while the last thread is still unwinding.
// Destroying a pool with running threads clears IsRunning, opens the gate and waits for them;
// a derived pool whose threads use its own members should call StopAndWait() first in its
// own destructor, before those members go away.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "foundation/Signals.h"

namespace pcutil {

// One worker thread of a pool, recorded under its index.
struct CThreadRecord {
  uint64_t Serial = 0;  // tells a restarted index's thread from an earlier one still ending
};

namespace detail {
struct PoolState;
}

class CBaseThread : public SignalReceiver {
  std::shared_ptr<detail::PoolState> state_;  // shared with the pool's threads

 public:
  using Entry = std::function<void()>;

  Signal0 OnAllDone;                              // the pool has no thread left
  std::recursive_mutex& ThreadLock;               // guards Threads (re-entrant, like a mutex)
  std::map<uint32_t, CThreadRecord>& Threads;     // index -> running thread
  std::atomic<int32_t> IsRunning{0};              // 1 while workers should go on

  CBaseThread();
  ~CBaseThread() override;

  // Starts one thread running `entry` now and records it under `index`. When `entry`
  // returns, the thread passes the gate and calls ThreadDone(index) itself.
  bool StartThread(Entry entry, uint32_t index);
  // Starts a run: drops all records, opens a fresh gate, sets IsRunning, and starts threads
  // 0..count-1 running worker(index). A run that gets no thread at all ends at once
  // (OnAllDone on the calling thread). False if a thread could not be started.
  bool StartPool(uint32_t count, const std::function<void(uint32_t index)>& worker);
  // A worker's last call, made by the thread itself once its entry has returned (a call
  // from inside the entry is ignored). Removes the record; the last one runs StopAll.
  void ThreadDone(uint32_t index);
  // Clears IsRunning and waits until every recorded thread has ended, then emits OnAllDone
  // if the run has not announced its end yet (each run announces it once). Called from one
  // of the pool's own threads it only clears IsRunning: a thread cannot wait for itself.
  // It blocks the caller; there is no message pump, so call it only where waiting is fine
  // (the UI loop clears IsRunning instead, as the job runner's stop does).
  void StopAll();
  void SuspendAll();
  void ResumeAll();
  bool IsSuspended() const;
  // A safe point: parks the calling thread while its pool is suspended. Does nothing on
  // threads that belong to no pool.
  static void PassGate();
  // Number of threads recorded now.
  size_t ThreadCount() const;

 protected:
  // Clears IsRunning, opens the gate and waits until no thread of this pool (current or
  // earlier runs) is left, without emitting OnAllDone.
  void StopAndWait();
};

// A first-in first-out queue with its own lock.
template <typename T>
class LockedQueue {
 public:
  void Push(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(std::move(value));
  }
  // Moves the front element into `out`; false when empty.
  bool Pop(T& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return false;
    out = std::move(items_.front());
    items_.pop_front();
    return true;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<T> items_;
};

}  // namespace pcutil
