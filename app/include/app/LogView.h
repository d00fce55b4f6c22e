// The job run page (one per running job), the program-wide runner list, and the options page.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "collect/Kite.h"
#include "platform/HtmlCtrl.h"
#include "store/JobRule.h"

namespace rz {

constexpr int kMsgSelectJob = 1491;
constexpr int kMsgLogReport = 2025;

// Every runner made by a job run page; entries are never removed, so runners live until
// the process ends. UI thread only.
std::vector<std::shared_ptr<CKite>>& RunnerList();
// How a new runner is made (the program plugs in rewriting and the publish step).
std::function<std::shared_ptr<CKite>()>& RunnerMaker();

class CRunLink;

// Cuts every runner off from the pages (at exit, after the UI loop ended): runs still going
// report to nobody.
void DisconnectRunPages();

class CLogView : public CRizedeHtmlCtrl {
 public:
  // selectInTree: notification 1491 to the tree page with the job.
  CLogView(CPageHost& host, CChidFrame& frame, JobRulePtr job,
           std::function<void(const JobRulePtr&)> selectInTree);
  ~CLogView() override;

  JobRulePtr Job;
  std::shared_ptr<CKite> Runner;
  int32_t LineCounter = 1;
  // Asks "您是否要关闭正在运行的任务？"; true for OK. Unset: the close is refused.
  std::function<bool()> confirmClose;

  void OnInitialUpdate() override;
  bool Selectable() const override { return true; }
  void OnBeforeNavigate(const std::u16string& url) override;
  void OnDocumentComplete(const std::u16string& url) override;
  long OnWindowMessage(int message, long long param) override;

  void RestartRun(const JobRulePtr& job);
  void PauseRun();
  void ResumeRun();
  void StopRun();
  void AppendLogLine(const std::u16string& text);
  // Called on the UI thread when the runner reports that the run finished.
  void OnRunFinished();

  bool IsActive() const { return Runner && Runner->IsRunning.load() != 0; }
  bool IsPaused() const { return Runner && Runner->IsPaused.load() != 0; }

  // The script that shows one log line (quotes escaped, line breaks dropped, "</br>" added).
  static std::u16string LogLineScript(const std::u16string& text, int32_t counter);

 private:
  void SetTitle(const char16_t* format);

  CChidFrame& frame_;
  std::function<void(const JobRulePtr&)> selectInTree_;
  std::shared_ptr<CRunLink> link_;
  bool document_ = false;  // the page's document is loaded (shell or not)
};

// The options page: five settings.
class COptionView : public CRizedeHtmlCtrl {
 public:
  COptionView(CPageHost& host, CChidFrame& frame) : CRizedeHtmlCtrl(host), frame_(frame) {}
  void OnInitialUpdate() override;
  void OnDocumentComplete(const std::u16string& url) override;
  std::vector<EventEntry> EventTable() override;
  long OnWindowMessage(int message, long long param) override;

  struct Values {
    std::u16string maxRepeatCount, userAgent, maxJobCount;
    int origType = 0;
    int closeLogView = 0;
  };
  void Exchange(Values& values, bool fromPage);

 private:
  void Save();
  CChidFrame& frame_;
};

}  // namespace rz
