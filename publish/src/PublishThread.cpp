#include "publish/PublishThread.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "foundation/DiagLog.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "publish/Destinations.h"
#include "publish/Template.h"
#include "store/Settings.h"
#include "xml/XmlFile.h"
#ifdef RZ_HAVE_REWRITE
#include "rewrite/Rewrite.h"
#endif

namespace rz {

using pcutil::Format;

namespace fs = std::filesystem;

int PublishCountFromText(const std::u16string& text) {
  const size_t dash = text.find(u'-');
  auto number = [](const std::u16string& t) {
    long v = 0;
    for (char16_t c : t) {
      if (c == u' ') continue;
      if (c < u'0' || c > u'9') return 0L;
      v = v * 10 + (c - u'0');
      if (v > 100000000) return 100000000L;
    }
    return v;
  };
  if (dash == std::u16string::npos) return static_cast<int>(number(text));
  const long lo = number(text.substr(0, dash)), hi = number(text.substr(dash + 1));
  if (lo < hi) return static_cast<int>(lo + static_cast<long>(PublishRandomBelow(hi - lo)));
  if (hi < lo) return static_cast<int>(PublishRandomBelow(static_cast<size_t>(lo)));
  return 0;
}

std::u16string CutForLog(const std::u16string& text) {
  if (text.size() <= 200) return text;
  size_t n = 200;
  // Never leave half a surrogate pair behind.
  if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n) + u"……</br>";
}

namespace {

std::u16string JobDataFolder(const std::u16string& jobId) {
  return pcutil::ProgramPath(u"DB/" + jobId);
}

// "file:///" + the path without its leading slash.
std::u16string FileLink(const std::u16string& path) {
  std::u16string p = pcutil::ReplaceAll(path, u"\\", u"/");
  while (!p.empty() && p[0] == u'/') p.erase(0, 1);
  return p;
}

bool IsDigits(const std::u16string& s) {
  if (s.empty()) return false;
  for (char16_t c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

std::u16string FieldOf(const ToData& item, const char16_t* name) {
  auto it = item.Fields.find(name);
  return it == item.Fields.end() ? u"" : it->second;
}

}  // namespace

std::u16string WriteWebPostLog(const std::u16string& jobId, const std::u16string& html) {
  static std::atomic<int> counter{0};
  const std::u16string folder = JobDataFolder(jobId) + u"/WebPostLog";
  std::error_code ec;
  fs::create_directories(pcutil::ToFsPath(folder), ec);
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::u16string path =
      folder + u"/" +
      Format(u"%d-%02d-%02d-%02d-%02d-%02d-%d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
             tm.tm_hour, tm.tm_min, tm.tm_sec, ++counter) +
      u".html";
  if (!pcutil::WriteTextFile(path, html, pcutil::TextModeUtf8)) return u"";
  return path;
}

bool RecordPublishResult(ToData& item, ContentDatabase* db, const std::u16string& jobId,
                         PublishTally& tally, LogData& log) {
  item.Text = pcutil::ReplaceAll(item.Text, kTestMarkerLabel, u"");
  const int code = item.ResultCode;
  if (code == kPublishMessage) {
    log.LogText = item.Text;
    return false;
  }
  ++tally.Processed;
  auto detailLine = [&](const char16_t* format) {
    const std::u16string path = WriteWebPostLog(jobId, item.Text);
    return Format(format, CutForLog(FileLink(path)));
  };
  std::u16string line;
  if (code == kPublishWebOk || code == kPublishFileSaved || code == kPublishDbDone) {
    const std::u16string id = FieldOf(item, u"ID");
    if (db && db->MarkPublished(id)) {
      ++tally.Published;
      if (code == kPublishWebOk) {
        const std::u16string title = FieldOf(item, u"标题");
        const std::u16string url = CutForLog(FieldOf(item, u"PageUrl"));
        line = !title.empty()
                   ? Format(u"发布内容--成功发布内容：%s", CutForLog(title))
                   : Format(u"发布内容--成功发布内容：<a href=\"%s\" target=\"_blank\">%s</a>", url, url);
      } else if (code == kPublishFileSaved) {
        line = Format(u"发布内容--成功保存为本地文件：%s", CutForLog(item.Text));
      } else {
        line = CutForLog(item.Text);
      }
    } else {
      ++tally.Failed;
      const std::u16string url = CutForLog(FieldOf(item, u"PageUrl"));
      line = Format(
          u"<font color=\"red\">发布内容--发布内容错误,错误位置：插入数据库出错<a href=\"%s\" "
          u"target=\"_blank\">%s</a></font>",
          url, url);
    }
  } else {
    ++tally.Failed;
    switch (code) {
      case kPublishSaveFailed:
      case kPublishLoginFailed:
      case kPublishPostFailed:
      case kPublishRandFailed:
        line = detailLine(
            u"<font color=\"red\">发布内容--发布内容失败：<a href=\"file:///%s\" "
            u"target=\"_blank\">查看详细日志</a></font>");
        break;
      case kPublishUnknown:
        line = detailLine(
            u"<font color=\"red\">发布内容--发布内容是否成功未知：<a href=\"file:///%s\" "
            u"target=\"_blank\">查看详细日志</a></font>");
        break;
      case kPublishDbFailed:
        line = CutForLog(item.Text);
        break;
      default:
        break;  // no line of its own (13 among them)
    }
  }
  log.DoneCount = tally.Processed;
  log.OkCount = tally.Published;
  log.FailCount = tally.Failed;
  log.LogText = line;
  return true;
}

// ---- journal ----

namespace {
std::u16string JournalPath(const std::u16string& jobId) {
  return JobDataFolder(jobId) + u"/PublishJournal.txt";
}
std::mutex& JournalLock() {
  static std::mutex m;
  return m;
}
}  // namespace

bool AppendPublishJournal(const std::u16string& jobId, const std::u16string& id) {
  if (jobId.empty() || !IsDigits(id)) return false;
  std::lock_guard guard(JournalLock());
  std::error_code ec;
  fs::create_directories(pcutil::ToFsPath(JobDataFolder(jobId)), ec);
  const int fd = ::open(pcutil::ToFsPath(JournalPath(jobId)).c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string line = pcutil::Utf16ToUtf8(id) + "\n";
  const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                  ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::set<std::u16string> ReplayPublishJournal(ContentDatabase& db, const std::u16string& jobId) {
  std::set<std::u16string> ids;
  if (jobId.empty()) return ids;
  std::lock_guard guard(JournalLock());
  const std::string path = pcutil::ToFsPath(JournalPath(jobId));
  std::ifstream in(path);
  if (!in) return ids;
  std::string line;
  bool allMarked = true;
  while (std::getline(in, line)) {
    const std::u16string id = pcutil::Utf8ToUtf16(line);
    if (!IsDigits(id)) continue;
    ids.insert(id);
    if (!db.MarkPublished(id)) allMarked = false;
  }
  in.close();
  // Keep the journal when a mark failed: the next run tries again.
  if (allMarked) {
    std::error_code ec;
    fs::remove(path, ec);
  }
  return ids;
}

// ---- runner ----

CPublishThread::CPublishThread() = default;

CPublishThread::~CPublishThread() {
  Stop();
  StopAndWait();
  CloseConnections();
}

bool CPublishThread::OpenContentDb(const DbSettings& settings, const std::u16string& jobId) {
  std::lock_guard guard(contentDbLock_);
  if (contentDb_ && contentDb_->Connection.IsOpen()) return true;
  contentDb_ = std::make_unique<ContentDatabase>(settings, jobId);
  if (contentDb_->Open(false)) return true;
  pcutil::WriteDiagnosticLog(u"发布内容--打开内容数据库失败：" + contentDb_->LastError);
  contentDb_.reset();
  return false;
}

bool CPublishThread::Start(const JobRulePtr& job, const DbSettings& contentDb) {
  job_ = job;
  StartMessage.clear();
  CloseConnections();  // what an earlier run left open
  OpenContentDb(contentDb, job->JobId);
  {
    std::lock_guard guard(queueLock_);
    inputFinished_ = false;
    queue_.clear();
    skipIds_.clear();
  }
  destinations_.clear();
  if (contentDb_) {
    std::lock_guard guard(contentDbLock_);
    skipIds_ = ReplayPublishJournal(*contentDb_, job->JobId);
  }

  if (job->EnableWebPublish) {
    for (const PublishTarget& t : job->WebPublish) {
      if (t.ModuleType != u"POST") continue;
      if (PublishModulePtr m = LoadModule(kModuleFolderPost, t.ModuleName))
        destinations_.push_back({t, m, nullptr, u""});
    }
  }
  if (job->EnableLocalFile) {
    destinations_.push_back({job->LocalFilePublish, std::make_shared<PublishModule>(), nullptr, u""});
    if (job->LocalFilePublish.ModuleName == u"csv") {
      std::error_code ec;
      fs::remove(pcutil::ToFsPath(CsvFilePath(*job)), ec);
    }
  }
  if (job->EnableDB) {
    for (const PublishTarget& t : job->DBPublish) {
      PublishModulePtr m = LoadModule(kModuleFolderDb, t.ModuleName);
      if (!m) continue;
      PublishDestination d{t, m, nullptr, u""};
      if (t.ModuleType == u"ACCESS" || t.ModuleType == u"MySql" || t.ModuleType == u"SAMEDB") {
        const DbSettings s = TargetDbSettings(t, contentDb, job->JobId);
        auto c = std::make_shared<CAdo>();
        c->SetType(s.Type);
        c->SetStrictWrites(true);  // a value that does not fit fails instead of being cut
        if (c->Open(s))
          d.Connection = c;
        else
          d.ConnectionError = c->ErrorText();
      } else {
        d.ConnectionError =
            Format(u"不支持的数据库类型：%s（本程序没有该数据库的客户端）", t.ModuleType);
      }
      destinations_.push_back(std::move(d));
    }
  }

  if (destinations_.empty()) {
    StartMessage = kNoPublishTargetMessage;
    {
      std::lock_guard guard(contentDbLock_);
      if (contentDb_) contentDb_->Close();
      contentDb_.reset();
    }
    OnAllDone.Emit();
    return false;
  }
  const uint32_t count = static_cast<uint32_t>(std::max(1, job->PublishThreadCount));
  activeWorkers_ = static_cast<int>(count);
  return StartPool(count, [this](uint32_t index) { Worker(index); });
}

void CPublishThread::AddItem(const ToData& item) {
  {
    std::lock_guard guard(queueLock_);
    queue_.push_back(item);
  }
  queueCv_.notify_one();
}

void CPublishThread::InputFinished() {
  {
    std::lock_guard guard(queueLock_);
    inputFinished_ = true;
  }
  queueCv_.notify_all();
}

void CPublishThread::Stop() {
  IsRunning = 0;
  queueCv_.notify_all();
}

size_t CPublishThread::QueuedCount() {
  std::lock_guard guard(queueLock_);
  return queue_.size();
}

bool CPublishThread::TakeItem(ToData& item) {
  std::unique_lock lock(queueLock_);
  for (;;) {
    if (!IsRunning) return false;
    if (!queue_.empty()) {
      item = std::move(queue_.front());
      queue_.pop_front();
      return true;
    }
    if (inputFinished_) return false;
    // A stop that only clears IsRunning is seen within the timeout.
    queueCv_.wait_for(lock, std::chrono::milliseconds(200));
  }
}

PublishDestination* CPublishThread::FindDestination(const PublishTarget& target) {
  for (auto& d : destinations_)
    if (d.Target == target) return &d;
  return nullptr;
}

void CPublishThread::Worker(uint32_t index) {
  ToData item;
  while (IsRunning && TakeItem(item)) {
    const std::u16string id = FieldOf(item, u"ID");
    if (skipIds_.count(id)) continue;  // delivered by an earlier run; marked at start
    std::vector<ToData> results;
    bool delivered = false;
    for (const PublishDestination& d : destinations_) {
      PublishToTarget(d.Target, item, *job_, d.Module.get());
      const int code = item.ResultCode;
      if (code == kPublishWebOk || code == kPublishFileSaved || code == kPublishDbDone)
        delivered = true;
      results.push_back(item);
      pcutil::UnitPause();
    }
    if (delivered) AppendPublishJournal(job_->JobId, id);
    pcutil::UnitPause();
    {
      std::lock_guard guard(resultLock_);
      for (const ToData& r : results) OnResult.Emit(r);
    }
    pcutil::PauseMs(job_->PublishInterval);
  }
  if (--activeWorkers_ == 0) CloseConnections();
}

void CPublishThread::CloseConnections() {
  {
    std::lock_guard guard(contentDbLock_);
    if (contentDb_) contentDb_->Close();
    contentDb_.reset();
  }
  std::lock_guard guard(publishLock_);
  for (auto& d : destinations_)
    if (d.Connection) {
      d.Connection->Close();
      d.Connection.reset();
    }
}

int CPublishThread::PublishToTarget(const PublishTarget& target, ToData& item, const JobRule& job,
                                    const PublishModule* module) {
  item.Text.clear();
  UploadItemFiles(*this, job, item);
  if (GlobalSettings().OrigType == 1) {
#ifdef RZ_HAVE_REWRITE
    const bool ok = RewriteItemLabels(item, job.ContentRex.LabelRex);
#else
    const bool ok = false;  // built without the rewrite pipeline
#endif
    if (!ok) {
      item.Text = u"伪原创失败，请检查伪原创规则是否设置正确！";
      item.ResultCode = kPublishRewriteFailed;
      return item.ResultCode;
    }
  }
  static const PublishModule kEmpty;
  const PublishModule& m = module ? *module : kEmpty;
  if (target.ModuleType == u"POST")
    item.ResultCode = PublishToWeb(m, item, target);
  else if (target.ModuleType == u"LocalFile")
    item.ResultCode = PublishToLocalFile(*this, item, target, job);
  else
    item.ResultCode = PublishToDatabase(*this, item, target, m);
  return item.ResultCode;
}

}  // namespace rz
