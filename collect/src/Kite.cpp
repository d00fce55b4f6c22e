#include "collect/Kite.h"

#include <filesystem>

#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "store/Settings.h"

namespace rz {

using pcutil::Format;

namespace {

const char16_t kRed[] = u"<font color=\"red\">%s</font>";
const char16_t kResultSetError[] = u"连接数据库出错，查看本地数据库是否正确！";

// Item lines: the page address, then the text the link shows.
const char16_t kItemRewriteFailed[] =
    u"<font color=\"red\">采内容--采集内容成功，但伪原创失败,出错的网址：<a href=\"%s\" "
    u"target=\"_blank\">%s</a></font>";
const char16_t kItemStored[] = u"采内容--成功采集内容<a href=\"%s\" target=\"_blank\">%s</a>";
const char16_t kItemStoreFailed[] =
    u"<font color=\"red\">采内容--采集内容错误,错误位置：插入数据库出错<a href=\"%s\" "
    u"target=\"_blank\">%s</a></font>";

void ResetCounts(LogData& log) {
  log.TotalCount = log.OkCount = log.DoneCount = log.FailCount = log.RepeatCount = 0;
}

bool HasRewriteRules(const JobRule& rule) {
  for (const auto& label : rule.ContentRex.LabelRex)
    if (!label.Original.empty()) return true;
  return false;
}

}  // namespace

std::u16string SummaryLine(const LogData& log) {
  return Format(u"当前任务：%s 状态：%s 进度：%d/%d 任务结果--成功：%d条 失败：%d条 重复：%d条",
                log.JobName, log.StatusText, log.DoneCount, log.TotalCount, log.OkCount,
                log.FailCount, log.RepeatCount);
}

CKite::CKite() = default;

CKite::~CKite() {
  // Nothing reports to the runner any more; the workers' own destructors wait for them.
  DropConnections();
  IsRunning = 0;
  AdoThread.IsRunning = 0;
  ListUrlThread.IsRunning = 0;
  ContentThread.IsRunning = 0;
  if (publish_) publish_->Stop();
  // The keyword step reports through this runner: its worker ends before the members go.
  KeywordStep.Worker.StopAll();
}

void CKite::SetRewrite(RewriteFn rewrite) { rewrite_ = std::move(rewrite); }

void CKite::SetPublishWorker(std::unique_ptr<CPublishStep> worker) {
  publish_ = std::move(worker);
}

LogData CKite::Snapshot() {
  std::lock_guard lock(lock_);
  return RunLog;
}

bool CKite::WorkersBusy() const {
  return AdoThread.ThreadCount() > 0 || ListUrlThread.ThreadCount() > 0 ||
         ContentThread.ThreadCount() > 0 || KeywordStep.Worker.ThreadCount() > 0 || (publish_ && publish_->Pool().ThreadCount() > 0);
}

void CKite::DropConnections() {
  DisconnectAll();
  ListUrlThread.DisconnectAll();
  ContentThread.DisconnectAll();
  if (publish_) publish_->DisconnectAll();
}

void CKite::ConnectLogForwarding() { AdoThread.OnLog.Connect(this, &CKite::ForwardLog); }

void CKite::ForwardLog(const LogData& record) {
  std::lock_guard lock(lock_);
  RunLog.LogText = record.LogText;
  Emit();
}

void CKite::Emit() {
  std::lock_guard lock(lock_);
  const LogData copy = RunLog;
  OnLog.Emit(copy);
}

std::u16string CKite::Message(const std::u16string& key) {
  auto it = messages_.find(key);
  return it != messages_.end() ? it->second : key;
}

int CKite::StartJob(const JobRulePtr& rule) {
  // A run that is still going is not started twice over itself.
  if (IsRunning.load()) return 0;
  DropConnections();
  ConnectLogForwarding();
  if (!rule) return 0;
  rule_ = rule;
  IsRunning = 1;
  IsPaused = 0;
  stalled_ = 0;
  rewriteNoticeShown_ = false;

  // The per-run publish detail logs start afresh.
  if (!rule->JobId.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(
        pcutil::ToFsPath(pcutil::ProgramPath(u"DB/" + rule->JobId + u"/WebPostLog")), ec);
  }
  const AppSettings& settings = GlobalSettings();
  maxRepeatCount_ = settings.MaxRepeatCount;
  origType_ = settings.OrigType;
  messages_ = LoadHelpTexts();
  ContentThread.SetMessages(messages_);

  {
    std::lock_guard lock(lock_);
    RunLog = LogData();
    RunLog.LogText = Message(u"LogLoadSiteUrls");
    RunLog.JobName = rule->JobName;
    RunLog.StatusText = u"运行中";
    Emit();
  }
  if (!AdoThread.OpenJob(rule)) return 0;
  stepCode_ = StepGatherUrl;
  NextStep();
  OnStateChanged.Emit();
  return 1;
}

void CKite::NextStep() {
  if (!IsRunning.load() || !rule_) {
    FinishJob();
    return;
  }
  const JobRule& rule = *rule_;
  if (rule.IsGather && stepCode_ == StepGatherUrl) {
    if (rule.Type == 2)
      StartKeywordStep();
    else
      StartUrlStep();
    return;
  }
  if (stepCode_ < StepGatherContent)
    stepCode_ = rule.Type == 2 ? StepKeywordContent : StepGatherContent;
  if (rule.IsOriginal) {
    if (stepCode_ == StepGatherContent) {
      StartContentStep();
      return;
    }
    if (stepCode_ == StepKeywordContent) {
      StartKeywordContentStep();
      return;
    }
  }
  if (stepCode_ < StepPublish) stepCode_ = StepPublish;
  if (rule.IsPublish && stepCode_ == StepPublish) {
    StartPublishStep();
    return;
  }
  FinishJob();
}

void CKite::FinishJob() {
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = u"任务完成";
    RunLog.LogText = u"<font color=\"red\"><strong>任务完成</strong></font>";
    Emit();
  }
  IsRunning = 0;
  AdoThread.CloseResult();
  OnStateChanged.Emit();
  OnFinished.Emit();
}

// The step's result set; a failure is logged and leaves the run stalled.
bool CKite::OpenStepResult(int step, long& count) {
  if (AdoThread.OpenResult(step, count)) return true;
  std::lock_guard lock(lock_);
  RunLog.LogText = Format(kRed, kResultSetError);
  Emit();
  stalled_ = 1;
  return false;
}

// ---- URL step ----

void CKite::StartUrlStep() {
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = u"运行中-采集网址";
    RunLog.LogText = u"当前进入采集网址步骤...";
    Emit();
  }
  AdoThread.OnAllDone.Connect(&ListUrlThread, &CListUrlThread::Stop);
  ListUrlThread.OnAllDone.Connect(this, &CKite::OnLinkStepFinished);
  ListUrlThread.OnListPage.Connect(this, &CKite::OnListPage);
  long unused = 0;
  if (!OpenStepResult(StepGatherUrl, unused)) return;
  const int total = ListUrlThread.Prepare(rule_->ListUrlRex, rule_->Charset);
  {
    std::lock_guard lock(lock_);
    RunLog.TotalCount = total;
  }
  ListUrlThread.Run();
}

void CKite::OnListPage(ToData& page) {
  std::lock_guard lock(lock_);
  if (!IsRunning.load()) return;
  RunLog.DoneCount += 1;
  if (page.ResultCode == 0) {
    auto error = page.Fields.find(u"Error");
    RunLog.LogText = error != page.Fields.end()
                         ? error->second
                         : Format(Message(u"LogDownloadListFail"), page.Text, page.Text);
    RunLog.FailCount += 1;
    Emit();
    return;
  }
  if (!StoreLinksTogether(page.Links)) StoreLinksOneByOne(page.Links);
}

// The designed way: per link, its key (a rejected insert means a known link), then its row.
void CKite::StoreLinksOneByOne(const std::vector<std::u16string>& links) {
  // Every way out of the loop commits what was stored.
  struct LinkBatch {
    CAdoThread& ado;
    explicit LinkBatch(CAdoThread& a) : ado(a) { ado.BeginLinks(); }
    ~LinkBatch() { ado.EndLinks(); }
  } batch(AdoThread);
  for (const auto& link : links) {
    if (!IsRunning.load()) return;
    const bool isNew = AdoThread.StoreLinkKey(pcutil::UrlKey(link));
    if (!ReportLink(link, isNew, isNew && AdoThread.StoreLinkRow(link))) return;
  }
}

// The same outcome in a few statements: the page's known keys in one query, the new links in
// one transaction. False when that cannot be done (nothing stored, nothing reported); a key
// stored by someone else in between is such a case.
bool CKite::StoreLinksTogether(const std::vector<std::u16string>& links) {
  std::vector<std::u16string> keys;
  keys.reserve(links.size());
  for (const auto& link : links) keys.push_back(pcutil::UrlKey(link));
  std::set<std::u16string> known;
  if (!AdoThread.KnownLinkKeys(keys, known)) return false;
  // Walked as the one-by-one way would: a link seen earlier on the page is known by then, and
  // the repeat limit ends the page where it is reached.
  std::vector<bool> isNew;
  std::vector<std::u16string> newKeys, newLinks;
  int repeats = RunLog.RepeatCount;
  for (size_t i = 0; i < links.size(); ++i) {
    isNew.push_back(known.insert(keys[i]).second);
    if (isNew.back()) {
      newKeys.push_back(keys[i]);
      newLinks.push_back(links[i]);
    } else if (maxRepeatCount_ > 0 && ++repeats >= maxRepeatCount_) {
      break;
    }
  }
  if (!IsRunning.load()) return true;
  if (!newKeys.empty() && !AdoThread.StoreNewLinks(newKeys, newLinks)) return false;
  for (size_t i = 0; i < isNew.size(); ++i) {
    if (!IsRunning.load()) return true;
    if (!ReportLink(links[i], isNew[i], true)) return true;
  }
  return true;
}

// The log line and counters of one link; false when the repeat limit ends the step.
bool CKite::ReportLink(const std::u16string& link, bool isNew, bool stored) {
  if (isNew) {
    if (stored) {
      RunLog.LogText = Format(Message(u"LogDownloadListOk"), link);
      RunLog.OkCount += 1;
    } else {
      RunLog.LogText = Format(kRed, Format(u"数据库操作-写入网址出错%s", link));
      RunLog.FailCount += 1;
    }
  } else {
    RunLog.LogText = Format(Message(u"LogDownloadListRepeat"), link);
    RunLog.RepeatCount += 1;
  }
  if (maxRepeatCount_ > 0 && RunLog.RepeatCount >= maxRepeatCount_) {
    RunLog.LogText = u"采集网址-达到最大重复数量，将进行下一步--采集内容";
    Emit();
    // Connected to the link worker's stop slot: it ends after the current page.
    AdoThread.OnAllDone.Emit();
    return false;
  }
  Emit();
  pcutil::YieldPause();
  return true;
}

void CKite::OnLinkStepFinished() {
  if (!IsRunning.load()) return;
  DropConnections();
  ConnectLogForwarding();
  AdoThread.CloseResult();
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = u"完成采集网址";
    RunLog.LogText = Format(Message(u"LogDownloadListResult"), RunLog.OkCount, RunLog.FailCount);
    Emit();
  }
  stepCode_ = StepGatherContent;
  NextStep();
}

// ---- content step ----

void CKite::ConnectContentWorker() {
  AdoThread.OnFeedFinished.Connect(&ContentThread, &CContentThread::SetInputDone);
  AdoThread.OnListUrlData.Connect(&ContentThread, &CContentThread::Enqueue);
  ContentThread.OnAllDone.Connect(this, &CKite::OnContentStepFinished);
  ContentThread.OnItem.Connect(this, &CKite::OnContentItem);
}

void CKite::StartContentStep() {
  const uint64_t serial = ++stepSerial_;
  {
    std::lock_guard lock(lock_);
    ResetCounts(RunLog);
    RunLog.StatusText = u"运行中-采集内容";
  }
  ConnectContentWorker();
  long count = 0;
  if (!OpenStepResult(StepGatherContent, count)) return;
  {
    std::lock_guard lock(lock_);
    RunLog.TotalCount = static_cast<int>(count);
    RunLog.LogText = Format(u"当前进入采集内容步骤,找到要采集的内容%d条...", count);
    Emit();
  }
  ContentThread.StartContent(rule_->ContentRex, rule_->GatherInterval, rule_->JobId,
                             rule_->DbSettings);
  // A content worker without threads has ended the step already.
  if (stepSerial_.load() != serial || stepCode_ != StepGatherContent || !IsRunning.load())
    return;
  AdoThread.StartFeeding(StepGatherContent);
}

void CKite::OnContentItem(ToData& item, int update) {
  std::lock_guard lock(lock_);
  if (!IsRunning.load()) return;
  const int limit = rule_->ContentRex.MaxConentCount;
  if (limit != 0 && RunLog.DoneCount == limit) {
    RunLog.DoneCount = limit + 1;
    AdoThread.IsRunning = 0;
    ContentThread.IsRunning = 0;
    RunLog.StatusText = u"完成采集内容";
    RunLog.LogText = u"完成采集内容达到设置的上限，将跳过采集";
    Emit();
    return;
  }
  if (limit != 0 && RunLog.DoneCount > limit) return;
  RunLog.DoneCount += 1;
  const std::u16string pageUrl = item.Fields[u"PageUrl"];
  if (item.ResultCode == 1 && stepCode_ == StepKeywordContent) {
    OnKeywordItem(item);
  } else if (item.ResultCode == 1) {
    if (origType_ == 0 && HasRewriteRules(*rule_)) {
      if (rewrite_) {
        if (!rewrite_(item, rule_->ContentRex.LabelRex)) {
          RunLog.LogText = Format(kItemRewriteFailed, pageUrl, pageUrl);
          RunLog.FailCount += 1;
          Emit();
          return;
        }
      } else if (!rewriteNoticeShown_) {
        rewriteNoticeShown_ = true;
        RunLog.LogText =
            u"<font color=\"red\">采内容--伪原创步骤不可用，标签内容不经伪原创直接保存</font>";
        Emit();
      }
    }
    item.Fields[u"已采"] = u"1";
    if (AdoThread.WriteItem(item, update)) {
      RunLog.LogText = Format(kItemStored, pageUrl, pageUrl);
      RunLog.OkCount += 1;
    } else {
      RunLog.LogText = Format(kItemStoreFailed, pageUrl, pageUrl);
      RunLog.FailCount += 1;
    }
  } else if (item.ResultCode == 12) {
    // Only the item that stands for the stored row removes it: a further item of the same
    // page has no row of its own, and deleting by address would take its siblings with it.
    if (update == 1) AdoThread.DeleteItem(pageUrl);
    RunLog.FailCount += 1;
    RunLog.LogText = item.Text;
  } else {
    RunLog.FailCount += 1;
    RunLog.LogText = item.Text;
  }
  Emit();
}

void CKite::OnContentStepFinished() {
  if (!IsRunning.load()) return;
  DropConnections();
  ConnectLogForwarding();
  AdoThread.IsRunning = 0;  // a feed still going has nobody to feed
  AdoThread.CloseResult();
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = u"完成采集内容";
    RunLog.LogText =
        Format(Message(u"LogDownloadContentResult"), RunLog.DoneCount, RunLog.FailCount);
    Emit();
  }
  stepCode_ = StepPublish;
  NextStep();
}

// ---- keyword jobs ----

void CKite::StartKeywordStep() {
  const uint64_t serial = ++stepSerial_;
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = kKeywordStepStatus;
  }
  long unused = 0;
  if (!OpenStepResult(StepGatherUrl, unused)) return;
  KeywordStep.Report = [this, serial](const std::u16string& line, const CKeywordStep::Counts& c) {
    OnKeywordReport(serial, line, c);
  };
  KeywordStep.Finished = [this, serial] { OnKeywordStepFinished(serial); };
  const int total = KeywordStep.Start(rule_);
  std::lock_guard lock(lock_);
  if (stepSerial_.load() == serial) RunLog.TotalCount = total;
}

void CKite::OnKeywordReport(uint64_t serial, const std::u16string& line,
                            const CKeywordStep::Counts& counts) {
  std::lock_guard lock(lock_);
  if (!IsRunning.load() || stepSerial_.load() != serial) return;
  RunLog.TotalCount = counts.TotalCount;
  RunLog.OkCount = counts.OkCount;
  RunLog.DoneCount = counts.DoneCount;
  RunLog.FailCount = counts.FailCount;
  RunLog.LogText = line;
  Emit();
}

void CKite::OnKeywordStepFinished(uint64_t serial) {
  if (!IsRunning.load() || stepSerial_.load() != serial) return;
  DropConnections();
  ConnectLogForwarding();
  AdoThread.CloseResult();
  stepCode_ = StepKeywordContent;
  NextStep();
}

void CKite::StartKeywordContentStep() {
  const uint64_t serial = ++stepSerial_;
  {
    std::lock_guard lock(lock_);
    ResetCounts(RunLog);
    RunLog.StatusText = u"运行中-采集内容";
    RunLog.LogText = u"当前进入采集内容步骤,正在采集自动匹配的内容...";
    Emit();
  }
  ConnectContentWorker();
  long unused = 0;
  if (!OpenStepResult(StepKeywordContent, unused)) return;
  ContentThread.StartContent(rule_->ContentRex, rule_->GatherInterval, rule_->JobId,
                             rule_->DbSettings);
  if (stepSerial_.load() != serial || stepCode_ != StepKeywordContent || !IsRunning.load())
    return;
  AdoThread.StartFeeding(StepKeywordContent);
}

// A keyword job's article: stored once by its link key, rewritten, then inserted as a new row.
void CKite::OnKeywordItem(ToData& item) {
  const std::u16string pageUrl = item.Fields[u"PageUrl"];
  const std::u16string title = item.Fields[u"标题"];
  if (!AdoThread.StoreLinkKey(pcutil::UrlKey(pageUrl))) {
    RunLog.RepeatCount += 1;
    RunLog.LogText = Format(Message(u"LogDownloadListRepeat"), pageUrl);
    return;
  }
  if (origType_ == 0 && HasRewriteRules(*rule_) && rewrite_ &&
      !rewrite_(item, rule_->ContentRex.LabelRex)) {
    RunLog.LogText = Format(kItemRewriteFailed, pageUrl, title);
    RunLog.FailCount += 1;
    return;
  }
  item.Fields[u"已采"] = u"1";
  if (AdoThread.WriteKeywordItem(item)) {
    RunLog.LogText = Format(kItemStored, pageUrl, title);
    RunLog.OkCount += 1;
  } else {
    RunLog.LogText = Format(kItemStoreFailed, pageUrl, title);
    RunLog.FailCount += 1;
  }
}

// ---- publish step ----

void CKite::StartPublishStep() {
  const uint64_t serial = ++stepSerial_;
  {
    std::lock_guard lock(lock_);
    ResetCounts(RunLog);
    RunLog.StatusText = u"运行中-发布内容";
  }
  if (!publish_) {
    {
      std::lock_guard lock(lock_);
      RunLog.LogText = u"<font color=\"red\">发布内容--此版本没有发布模块，跳过发布步骤</font>";
      Emit();
    }
    stepCode_ = StepGatherUrl;
    FinishJob();
    return;
  }
  AdoThread.OnFeedFinished.Connect(publish_.get(), &CPublishStep::InputFinished);
  AdoThread.OnPublishData.Connect(publish_.get(), &CPublishStep::PushItem);
  publish_->OnStepDone.Connect(this, &CKite::OnPublishStepFinished);
  publish_->OnPublished.Connect(this, &CKite::OnPublishItem);
  if (ContentDatabase* db = AdoThread.Database()) publish_->BeforeSelect(*db, *rule_);
  long count = 0;
  if (!OpenStepResult(StepPublish, count)) return;
  {
    std::lock_guard lock(lock_);
    RunLog.TotalCount = static_cast<int>(count);
    RunLog.LogText = Format(u"当前进入发布内容步骤,找到要发布的内容%d条...", count);
    Emit();
  }
  std::u16string message;
  if (!publish_->Start(rule_, rule_->DbSettings, message)) {
    if (!message.empty()) {
      std::lock_guard lock(lock_);
      RunLog.LogText = Format(kRed, message);
      Emit();
    }
    // Ends the step unless the worker's completion has done so already.
    if (stepSerial_.load() == serial && stepCode_ == StepPublish) OnPublishStepFinished();
    return;
  }
  if (stepSerial_.load() != serial || stepCode_ != StepPublish || !IsRunning.load()) return;
  AdoThread.StartFeeding(StepPublish);
}

void CKite::OnPublishItem(ToData& item) {
  std::lock_guard lock(lock_);
  if (!IsRunning.load() || !publish_) return;
  publish_->Record(item, AdoThread.Database(), RunLog);
  Emit();
}

void CKite::OnPublishStepFinished() {
  if (!IsRunning.load()) return;
  ++stepSerial_;
  DropConnections();
  ConnectLogForwarding();
  AdoThread.IsRunning = 0;
  AdoThread.CloseResult();
  {
    std::lock_guard lock(lock_);
    RunLog.StatusText = u"任务结束";
    RunLog.LogText =
        Format(u"<font color=\"black\">内容发布完成,总共采集到内容条数为%d个,失败内容%d个</font>",
               RunLog.DoneCount, RunLog.FailCount);
    Emit();
  }
  stepCode_ = StepGatherUrl;
  FinishJob();
}

// ---- pause, resume, stop ----

void CKite::PauseJob() {
  IsPaused = 1;
  AdoThread.SuspendAll();
  ListUrlThread.SuspendAll();
  ContentThread.SuspendAll();
  KeywordStep.Worker.SuspendAll();
  if (publish_) publish_->Pool().SuspendAll();
  OnStateChanged.Emit();
}

void CKite::ResumeJob() {
  IsPaused = 0;
  AdoThread.ResumeAll();
  ListUrlThread.ResumeAll();
  ContentThread.ResumeAll();
  KeywordStep.Worker.ResumeAll();
  if (publish_) publish_->Pool().ResumeAll();
  OnStateChanged.Emit();
}

void CKite::StopJob() {
  DropConnections();
  IsPaused = 0;
  AdoThread.IsRunning = 0;
  ListUrlThread.IsRunning = 0;
  ContentThread.IsRunning = 0;
  KeywordStep.Stop();
  if (publish_) publish_->Stop();
  IsRunning = 0;
  ++stepSerial_;
  // Parked workers must pass the gate to see the cleared flags and end.
  AdoThread.ResumeAll();
  ListUrlThread.ResumeAll();
  ContentThread.ResumeAll();
  KeywordStep.Worker.ResumeAll();
  if (publish_) publish_->Pool().ResumeAll();
  AdoThread.CloseResult();
  OnStateChanged.Emit();
}

}  // namespace rz
