#include "app/LogView.h"

#include <cstdlib>
#include <map>

#include "foundation/Text.h"
#include "net/Http.h"
#include "platform/UiLoop.h"
#include "store/Settings.h"

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;

// Runners and their links are never destroyed (not even at exit, where a runner's
// destructor would wait for workers that may still be reporting).
std::vector<std::shared_ptr<CKite>>& RunnerList() {
  static auto* list = new std::vector<std::shared_ptr<CKite>>;
  return *list;
}

std::function<std::shared_ptr<CKite>()>& RunnerMaker() {
  static std::function<std::shared_ptr<CKite>()> maker = [] { return std::make_shared<CKite>(); };
  return maker;
}

namespace {
// The job each listed runner was last started with (runners do not expose it).
std::map<const CKite*, JobRulePtr>& RunnerJobs() {
  static auto* jobs = new std::map<const CKite*, JobRulePtr>;
  return *jobs;
}
}  // namespace

// The connection between a runner's signals and one page. The runner's threads call it, so
// it is never destroyed: a page that goes away only disconnects it and forgets itself, and
// a call already under way finds no page on the UI thread.
class CRunLink : public pcutil::SignalReceiver {
 public:
  CRunLink(CUiLoop& loop, CLogView* view) : loop_(loop), view_(view) {}
  void Forget() {
    DisconnectAll();
    view_ = nullptr;
  }
  void Log(const LogData& record) {
    // Synchronous: the record passed by reference stays valid until the page took it.
    loop_.Send([&] {
      if (view_) view_->OnWindowMessage(kMsgLogReport, reinterpret_cast<long long>(&record));
    });
  }
  void StateChanged() {
    loop_.Send([&] {
      if (view_) view_->OnWindowMessage(kMsgSelectJob, 0);
    });
  }
  void Finished() {
    loop_.Send([&] {
      if (view_) view_->OnRunFinished();
    });
  }

 private:
  CUiLoop& loop_;
  CLogView* view_;  // UI thread only
};

namespace {
std::vector<std::shared_ptr<CRunLink>>& Links() {
  static auto* links = new std::vector<std::shared_ptr<CRunLink>>;
  return *links;
}
}  // namespace

void DisconnectRunPages() {
  for (const auto& link : Links()) link->Forget();
}

CLogView::CLogView(CPageHost& host, CChidFrame& frame, JobRulePtr job,
                   std::function<void(const JobRulePtr&)> selectInTree)
    : CRizedeHtmlCtrl(host), Job(std::move(job)), frame_(frame),
      selectInTree_(std::move(selectInTree)) {}

CLogView::~CLogView() {
  if (link_) link_->Forget();
}

void CLogView::SetTitle(const char16_t* format) {
  frame_.SetPageTitle(this, Format(format, Job ? Job->JobName : std::u16string()));
}

void CLogView::OnInitialUpdate() {
  auto& list = RunnerList();
  for (const auto& runner : list) {
    auto it = RunnerJobs().find(runner.get());
    if (it != RunnerJobs().end() && it->second == Job) {
      Runner = runner;
      break;
    }
  }
  if (!Runner) {
    Runner = RunnerMaker()();
    list.push_back(Runner);
  }
  link_ = std::make_shared<CRunLink>(Host().Loop(), this);
  Links().push_back(link_);
  Runner->OnLog.Connect(link_.get(), &CRunLink::Log);
  Runner->OnStateChanged.Connect(link_.get(), &CRunLink::StateChanged);
  Runner->OnFinished.Connect(link_.get(), &CRunLink::Finished);
  NavigatePage(u"LogView.html");
  // Without a browser the page never loads; the run does not wait for one. Its lines are
  // kept for the page and shown when a browser loads it.
  if (!Host().HasShell()) OnDocumentComplete(u"");
}

void CLogView::OnBeforeNavigate(const std::u16string&) { document_ = false; }

void CLogView::OnDocumentComplete(const std::u16string&) {
  if (document_) return;  // already started for this load (before a browser was there)
  document_ = true;
  SetTitle(u"[运行中]%s");
  if (Runner && Job) {
    RunnerJobs()[Runner.get()] = Job;
    Runner->StartJob(Job);
  }
}

std::u16string CLogView::LogLineScript(const std::u16string& text, int32_t counter) {
  std::u16string line = text;
  line = ReplaceAll(line, u"'", u"\\'");
  line = ReplaceAll(line, u"\"", u"\\\"");
  line = ReplaceAll(line, u"\r\n", u"");
  line = ReplaceAll(line, u"\n", u"");
  line += u"</br>";
  return Format(u"add('<span id=log%ld>%s</span>',%ld);", static_cast<long>(counter) + 1, line,
                static_cast<long>(counter));
}

void CLogView::AppendLogLine(const std::u16string& text) {
  if (!document_) return;
  RunScript(LogLineScript(text, LineCounter));
  ++LineCounter;
}

long CLogView::OnWindowMessage(int message, long long param) {
  switch (message) {
    case kMsgLogReport: {
      const auto& record = *reinterpret_cast<const LogData*>(param);
      if (!document_) return 1;
      AppendLogLine(record.LogText);
      SetInnerHtml(u"logcount", SummaryLine(record));
      return 1;
    }
    case kMsgSelectJob:
      if (selectInTree_) selectInTree_(Job);
      return 1;
    case kMsgTabActivated:
      if (Runner && selectInTree_) selectInTree_(Job);
      return 1;
    case kMsgCloseRequest: {
      if (IsActive() || IsPaused()) {
        if (!confirmClose || !confirmClose()) return 0;
      }
      StopRun();
      frame_.ClosePage(this);
      return 1;
    }
    default:
      return 0;
  }
}

void CLogView::OnRunFinished() {
  SetTitle(u"[停止]%s");
  if (GlobalSettings().CloseLogView == 1) OnWindowMessage(kMsgCloseRequest, 0);
}

void CLogView::RestartRun(const JobRulePtr& job) {
  Job = job;
  LineCounter = 1;
  NavigatePage(u"LogView.html");
  if (!Host().HasShell()) OnDocumentComplete(u"");
}

void CLogView::PauseRun() {
  if (Runner) Runner->PauseJob();
  AppendLogLine(u"当前任务被用户暂停,任务进入等待状态。。。");
  SetTitle(u"[暂停]%s");
}

void CLogView::ResumeRun() {
  AppendLogLine(u"当前任务被用户恢复");
  SetTitle(u"[运行中]%s");
  if (Runner) Runner->ResumeJob();
}

void CLogView::StopRun() {
  AppendLogLine(u"当前任务被用户停止");
  SetTitle(u"[停止]%s");
  if (Runner) Runner->StopJob();
}

// ---------------------------------------------------------------- options page

void COptionView::OnInitialUpdate() { NavigatePage(u"OptionView.html"); }

void COptionView::Exchange(Values& v, bool fromPage) {
  if (fromPage) {
    v.maxRepeatCount = GetValue(u"maxRepeatCount");
    v.userAgent = GetValue(u"userAgent");
    v.maxJobCount = GetValue(u"maxJobCount");
    v.origType = GetRadioIndex(u"origType");
    v.closeLogView = GetChecked(u"closelogview") & 1;
  } else {
    SetValue(u"maxRepeatCount", v.maxRepeatCount);
    SetValue(u"userAgent", v.userAgent);
    SetValue(u"maxJobCount", v.maxJobCount);
    SetRadioIndex(u"origType", v.origType);
    SetChecked(u"closelogview", v.closeLogView ? 1 : 0);
  }
}

void COptionView::OnDocumentComplete(const std::u16string&) {
  const AppSettings& s = GlobalSettings();
  Values v;
  v.maxRepeatCount = Format(u"%d", s.MaxRepeatCount);
  v.userAgent = s.UserAgent.empty() ? std::u16string(kDefaultUserAgent) : s.UserAgent;
  v.maxJobCount = Format(u"%d", s.MaxJobCount);
  v.origType = s.OrigType;
  v.closeLogView = s.CloseLogView;
  Exchange(v, false);
}

namespace {
int DecimalValue(const std::u16string& text) { return std::atoi(pcutil::Utf16ToUtf8(text).c_str()); }
}  // namespace

void COptionView::Save() {
  Values v;
  Exchange(v, true);
  AppSettings& s = GlobalSettings();
  s.MaxRepeatCount = DecimalValue(v.maxRepeatCount);
  s.MaxJobCount = DecimalValue(v.maxJobCount);
  s.UserAgent = v.userAgent;
  s.CloseLogView = v.closeLogView;
  // A page without a checked radio keeps the stored choice.
  if (v.origType >= 0) s.OrigType = v.origType;
  SaveSettings(s);
  pcutil::SetGlobalUserAgent(s.EffectiveUserAgent());
  RunScript(u"ShowSaveTip();");
}

std::vector<EventEntry> COptionView::EventTable() {
  return {
      {kEventById, kEvClick, u"Save", [this](const CElement&) { Save(); return 1; }},
      {kEventById, kEvClick, u"Cancel",
       [this](const CElement&) {
         const int id = PageId();
         CPageHost& host = Host();
         host.Loop().Post([&host, id] {
           if (auto* page = host.FindPage(id)) page->OnWindowMessage(kMsgCloseRequest, 0);
         });
         return 1;
       }},
      {kEventById, kEvClick, u"GetLocalAgent",
       [this](const CElement&) {
         Values v;
         Exchange(v, true);
         v.userAgent = kDefaultUserAgent;
         Exchange(v, false);
         return 1;
       }},
  };
}

long COptionView::OnWindowMessage(int message, long long) {
  if (message == kMsgCloseRequest) {
    frame_.CloseCurrentPage();
    return 1;
  }
  return 0;
}

}  // namespace rz
