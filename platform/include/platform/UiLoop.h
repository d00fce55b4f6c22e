// The UI loop: one thread owns every page. Workers reach pages only through Send (runs the
// call on the UI thread and waits for it) and Post (queues it and returns).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace rz {

class CUiLoop {
 public:
  CUiLoop() = default;
  ~CUiLoop();
  CUiLoop(const CUiLoop&) = delete;
  CUiLoop& operator=(const CUiLoop&) = delete;

  // Runs the loop on a thread of its own until Quit.
  void Start();
  // Runs the loop on the calling thread until Quit (the calling thread becomes the UI thread).
  void Run();
  // Ends the loop after the call being run; later Sends and Posts are refused.
  void Quit();
  // Waits for the loop's own thread (after Quit).
  void Join();

  // Queues the call; false when the loop has ended.
  bool Post(std::function<void()> call);
  // Runs the call on the UI thread and waits; on the UI thread itself it runs at once.
  // False when the loop has ended (the call is not run).
  bool Send(const std::function<void()>& call);

  bool IsUiThread() const;
  bool IsRunning() const;

  // Nested loop for modal dialogs: runs queued calls until done() is true or the loop quits.
  // Only on the UI thread.
  void RunUntil(const std::function<bool()>& done);

  // Called on the UI thread whenever the queue has been drained (command state updates).
  void SetIdleHandler(std::function<void()> idle);

  // The loop the process's pages run on (set by whoever starts the UI).
  static CUiLoop* Current();
  static void SetCurrent(CUiLoop* loop);

 private:
  bool RunOne(std::unique_lock<std::mutex>& lock, bool wait);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::function<void()> idle_;
  std::thread thread_;
  std::thread::id uiThread_;
  bool running_ = false;
  bool quit_ = false;
};

}  // namespace rz
