#include "collect/ContentThread.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "collect/Content.h"
#include "collect/ListPage.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"

namespace rz {

CContentThread::~CContentThread() { StopAndWait(); }

void CContentThread::SetMessages(std::map<std::u16string, std::u16string> messages) {
  auto texts = std::make_shared<const std::map<std::u16string, std::u16string>>(std::move(messages));
  std::lock_guard lock(messageLock_);
  messages_ = std::move(texts);
}

int CContentThread::StartContent(const ContentRule& content, int gatherInterval,
                                 const std::u16string& jobId, const DbSettings& db) {
  const uint64_t serial = ++serial_;
  Interval = gatherInterval;
  JobId = jobId;
  {
    std::lock_guard lock(fileLock_);
    if (!fileDb_) {
      auto fileDb = std::make_shared<ContentDatabase>(db, jobId);
      if (fileDb->Open(false)) fileDb_ = std::move(fileDb);  // rows are then not written
    }
  }
  WorkQueue.Clear();
  InputDone = 0;
  const int count = content.ThreadCount < 1 ? 0 : content.ThreadCount;
  active_ = count;
  queueLimit_ = std::max<size_t>(64, 4 * static_cast<size_t>(count));
  StartPool(static_cast<uint32_t>(count), [this, serial](uint32_t) { Work(serial); });
  if (count == 0) CloseFileDb();
  return 1;
}

void CContentThread::Enqueue(ListUrlData& unit) {
  // Without pauses the feeder would queue every row of the step at once, each unit with its
  // own copy of the content rule: it waits while the workers have plenty to do.
  while (IsRunning.load() && active_.load() > 0 && WorkQueue.Count() >= queueLimit_.load()) {
    pcutil::PassPauseGate();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  WorkQueue.Push(unit);
}

void CContentThread::SetInputDone() { InputDone = 1; }

void CContentThread::Stop() { IsRunning = 0; }

void CContentThread::CloseFileDb() {
  std::lock_guard lock(fileLock_);
  if (fileDb_) fileDb_->Close();
  fileDb_.reset();
}

bool CContentThread::RecordFile(const DownloadFileRow& row) {
  std::lock_guard lock(fileLock_);
  if (!fileDb_) return false;
  DownloadRow r;
  r.DownloadUrl = row.DownloadUrl;
  r.PageUrl = row.PageUrl;
  r.SaveUrl = row.SaveUrl;
  r.ReplaceUrl = row.ReplaceUrl;
  r.State = 1;
  r.Upload = row.Upload;
  r.LabelId = row.LabelId;
  return fileDb_->AddDownload(r);
}

void CContentThread::Work(uint64_t serial) {
  auto running = [&] { return IsRunning.load() && serial_.load() == serial; };
  ContentContext ctx;
  ctx.JobId = JobId;
  ctx.Fetch = NetPageFetch();
  bool haveFileDb;
  {
    std::lock_guard lock(fileLock_);
    haveFileDb = fileDb_ != nullptr;
  }
  ctx.Files = NetFileFetcher(haveFileDb ? std::function<bool(const DownloadFileRow&)>(
                                              [this](const DownloadFileRow& row) {
                                                return RecordFile(row);
                                              })
                                        : nullptr);
  std::shared_ptr<const std::map<std::u16string, std::u16string>> texts;
  {
    std::lock_guard lock(messageLock_);
    texts = messages_;
  }
  ctx.Message = [texts](const std::u16string& key) {
    if (!texts) return key;
    auto it = texts->find(key);
    return it != texts->end() ? it->second : key;
  };
  while (running()) {
    if (WorkQueue.Count() == 0) {
      if (InputDone.load()) break;
      pcutil::UnitPause();
      // Without a fixed pause the wait for input must still give the feeder the processor.
      if (pcutil::FixedPauseMs() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    ListUrlData unit;
    if (!WorkQueue.Pop(unit)) continue;
    pcutil::UnitPause();
    for (const auto& entry : unit.Pages) {
      if (!running()) break;
      std::vector<ToData> items;
      std::vector<std::u16string> visited;
      try {
        CollectPage(entry.ID, entry.PageUrl, unit.Charset, unit.Content, ctx, items, visited);
      } catch (const std::exception& e) {
        // Whatever a page does, it fails only its own item.
        ToData failed;
        failed.Fields[u"PageUrl"] = entry.PageUrl;
        if (!entry.ID.empty()) failed.Fields[u"ID"] = entry.ID;
        failed.ResultCode = 0;
        failed.Text = pcutil::Format(
            u"<font color=\"red\">采内容--处理内容页出错(%s)：<a href=\"%s\" target=\"_blank\">%s</a></font>",
            pcutil::Utf8ToUtf16(e.what()), entry.PageUrl, entry.PageUrl);
        items.assign(1, std::move(failed));
      }
      for (size_t i = 0; i < items.size(); ++i) OnItem.Emit(items[i], i == 0 ? 1 : 0);
      pcutil::UnitPause();
    }
    pcutil::PauseMs(Interval);
  }
  // The file connection is shared by the threads: the last one out closes it.
  if (--active_ == 0) CloseFileDb();
}

}  // namespace rz
