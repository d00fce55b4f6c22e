// The collector's own pages on the main window: the site and job tree in the left column,
// job run pages and the options page in the tab area, and the scheduler's two timers.
#pragma once

#include "app/LeftView.h"
#include "app/MainFrame.h"
#include "app/Scheduler.h"
#include "store/Sites.h"

namespace rz {

class CCollectorUi {
 public:
  explicit CCollectorUi(CMainFrame& frame);
  ~CCollectorUi();

  // On the UI thread: loads the settings and the site and job index, shows the tree page and
  // connects the tree commands, the page factories and the scheduler to the frame.
  void Create();
  // Starts the queue and plan timers (every second and every ten seconds by default).
  void StartTimers(int queueMs = 1000, int planMs = 10000);
  void Stop();

  SiteStore Store;
  CScheduler Scheduler;
  CLeftView* Left() const { return left_; }

 private:
  CMainFrame& frame_;
  CLeftView* left_ = nullptr;
};

}  // namespace rz
