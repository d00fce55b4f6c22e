#include "app/Collector.h"

#include "app/LogView.h"
#include "net/Http.h"
#include "publish/RunnerStep.h"
#include "rewrite/Rewrite.h"
#include "store/Settings.h"

namespace rz {

CCollectorUi::CCollectorUi(CMainFrame& frame) : frame_(frame) {}

CCollectorUi::~CCollectorUi() { Stop(); }

void CCollectorUi::Create() {
  LoadGlobalSettings();
  pcutil::SetGlobalUserAgent(GlobalSettings().EffectiveUserAgent());
  Store.LoadIndex();

  RunnerMaker() = [] {
    auto kite = std::make_shared<CKite>();
    kite->SetRewrite([](ToData& item, const std::vector<LabelRule>& labels) {
      return RewriteItemLabels(item, labels);
    });
    kite->SetPublishWorker(std::make_unique<CPublishRunnerStep>());
    return kite;
  };

  CChidFrame& child = frame_.Child();
  child.SetPageFactory(PageOptions, [&child](CPageHost& host, const std::u16string&) {
    return std::make_unique<COptionView>(host, child);
  });

  auto left = std::make_unique<CLeftView>(frame_.Host(), frame_, Store, Scheduler);
  left_ = left.get();
  frame_.leftCommand = [this](int command) { left_->OnCommand(command); };
  frame_.leftCommandEnabled = [this](int command) { return left_->IsCommandEnabled(command); };

  Scheduler.maxJobCount = [] { return GlobalSettings().MaxJobCount; };
  Scheduler.runningJobCount = [this] { return left_->RunningJobCount(); };
  Scheduler.shutdownAfterTasks = [this] { return frame_.ShutdownAfterTasks(); };
  Scheduler.openJobPage = [this](const std::u16string& id) { left_->OpenJobPage(id); };

  frame_.SetLeftView(std::move(left));
}

void CCollectorUi::StartTimers(int queueMs, int planMs) {
  Scheduler.Start(frame_.Host().Loop(), Store, queueMs, planMs);
}

void CCollectorUi::Stop() {
  Scheduler.Stop();
  if (!frame_.Host().Loop().IsRunning()) DisconnectRunPages();
}

}  // namespace rz
