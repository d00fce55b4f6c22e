#include "platform/UiLoop.h"

#include <atomic>
#include <future>

namespace rz {

namespace {
std::atomic<CUiLoop*> g_current{nullptr};
}

CUiLoop* CUiLoop::Current() { return g_current.load(); }
void CUiLoop::SetCurrent(CUiLoop* loop) { g_current.store(loop); }

CUiLoop::~CUiLoop() {
  Quit();
  Join();
  if (Current() == this) SetCurrent(nullptr);
}

void CUiLoop::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_ || quit_) return;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

void CUiLoop::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  running_ = true;
  uiThread_ = std::this_thread::get_id();
  while (!quit_) RunOne(lock, true);
  running_ = false;
  // Calls still queued are dropped; a Send waiting on one is released by its promise's
  // destruction (broken promise), so no sender hangs.
  std::deque<std::function<void()>> dropped;
  dropped.swap(queue_);
  lock.unlock();
  dropped.clear();
}

bool CUiLoop::RunOne(std::unique_lock<std::mutex>& lock, bool wait) {
  if (queue_.empty()) {
    if (idle_) {
      auto idle = idle_;
      lock.unlock();
      idle();
      lock.lock();
    }
    if (!wait) return false;
    wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_ || queue_.empty()) return false;
  }
  auto call = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  call();
  lock.lock();
  return true;
}

void CUiLoop::RunUntil(const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    lock.unlock();
    bool finished = done();
    lock.lock();
    if (finished) break;
    RunOne(lock, true);
  }
}

void CUiLoop::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

void CUiLoop::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool CUiLoop::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return false;
    queue_.push_back(std::move(call));
  }
  wake_.notify_all();
  return true;
}

bool CUiLoop::Send(const std::function<void()>& call) {
  if (IsUiThread()) {
    call();
    return true;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  // Only the queued call holds the promise: if the loop ends and drops the call, the
  // promise breaks and this Send returns instead of waiting forever.
  if (!Post([call, done = std::move(done)] {
        call();
        done->set_value();
      }))
    return false;
  try {
    future.get();
    return true;
  } catch (const std::future_error&) {
    return false;  // the loop ended before running it
  }
}

bool CUiLoop::IsUiThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ && uiThread_ == std::this_thread::get_id();
}

bool CUiLoop::IsRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ && !quit_;
}

void CUiLoop::SetIdleHandler(std::function<void()> idle) {
  std::lock_guard<std::mutex> lock(mutex_);
  idle_ = std::move(idle);
}

}  // namespace rz
