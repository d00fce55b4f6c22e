#include "collect/AdoThread.h"

#include "collect/KeyWordThread.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "storage/Conversion.h"

namespace rz {

using pcutil::Format;

CAdoThread::~CAdoThread() { StopAndWait(); }

void CAdoThread::EmitError(const std::u16string& text) {
  LogData record;
  record.LogText = Format(u"<font color=\"red\">%s</font>", text);
  OnLog.Emit(record);
}

bool CAdoThread::OpenJob(const JobRulePtr& rule) {
  if (!rule) {
    EmitError(u"加载采集规则出错！");
    return false;
  }
  {
    std::lock_guard lock(resultLock_);
    resultOpen_ = false;
  }
  rule_ = rule;
  db_ = std::make_unique<ContentDatabase>(rule->DbSettings, rule->JobId);
  // A job whose tables were never made (a rule written by hand) gets them here, and a label
  // added since gets its column; both statements leave what exists alone.
  const std::vector<std::u16string> labels = LabelNames(*rule);
  if (!db_->Open(true, labels)) {
    std::u16string error = db_->LastError;
    if (error.empty()) error = db_->Connection.ErrorText();
    EmitError(error);
    return false;
  }
  for (const auto& label : labels) db_->AddColumn(label);
  return true;
}

void CAdoThread::CloseJob() {
  CloseResult();
  if (db_) db_->Close();
}

int PublishRowCount(const std::u16string& text) {
  std::vector<std::u16string> parts;
  pcutil::Split(text, u"-", parts, true);
  auto number = [](const std::u16string& s) {
    try {
      return std::stoi(pcutil::Utf16ToUtf8(s));
    } catch (...) {
      return 0;
    }
  };
  if (parts.size() == 2) return pcutil::RandomBetween(number(parts[0]), number(parts[1]));
  return number(text);
}

bool CAdoThread::OpenResult(int stepCode, long& count) {
  count = 0;
  if (!db_) return false;
  std::lock_guard lock(resultLock_);
  bool ok = false;
  if (stepCode == StepGatherUrl) {
    ok = true;  // the URL step only writes
  } else if (stepCode == StepGatherContent || stepCode == StepKeywordContent) {
    ok = db_->SelectUncollected();
  } else if (stepCode == StepPublish) {
    ok = db_->SelectForPublish(rule_ ? PublishRowCount(rule_->PublishMaxCount) : 0,
                               rule_ ? rule_->PublishOrder : 0);
  }
  resultOpen_ = ok && stepCode != StepGatherUrl;
  resultCount_ = resultOpen_ ? db_->RecordCount() : 0;
  count = resultCount_;
  return ok;
}

void CAdoThread::CloseResult() {
  std::lock_guard lock(resultLock_);
  if (resultOpen_ && db_) db_->CloseQuery();
  resultOpen_ = false;
  resultCount_ = 0;
}

bool CAdoThread::StartFeeding(int stepCode) {
  const uint64_t serial = ++feedSerial_;
  return StartPool(1, [this, stepCode, serial](uint32_t) { Feed(stepCode, serial); });
}

void CAdoThread::Feed(int stepCode, uint64_t serial) {
  auto running = [&] { return IsRunning.load() && feedSerial_.load() == serial; };
  if (stepCode == StepKeywordContent) {
    CloseResult();  // the keyword feed needs no rows of its own
    if (rule_)
      FeedKeywordContent(
          *rule_, [this](const std::u16string& key) { return db_ && db_->CountLink(key) > 0; },
          [&](ListUrlData& unit) {
            OnListUrlData.Emit(unit);
            pcutil::UnitPause();
          },
          &IsRunning);
    if (running()) OnFeedFinished.Emit();
    return;
  }
  long count;
  {
    std::lock_guard lock(resultLock_);
    count = resultCount_;
  }
  for (long i = 0; i < count; ++i) {
    if (!running()) {
      CloseResult();
      return;  // a stopped feed does not report the input as finished
    }
    FieldMap row;
    bool read = false;
    {
      std::lock_guard lock(resultLock_);
      if (resultOpen_ && db_) read = db_->ReadRow(row, i);
    }
    if (read) {
      if (stepCode == StepPublish) {
        ToData item;
        item.Fields = row;
        OnPublishData.Emit(item);
      } else {
        ListUrlData unit;
        unit.Content = rule_->ContentRex;
        unit.Charset = rule_->Charset;
        unit.Pages.push_back({row[u"PageUrl"], row[u"ID"]});
        OnListUrlData.Emit(unit);
      }
    }
    // The publish step hands its rows over without a pause.
    if (stepCode != StepPublish) pcutil::UnitPause();
  }
  if (running()) OnFeedFinished.Emit();
}

bool CAdoThread::StoreLinkKey(const std::u16string& key) { return db_ && db_->InsertLink(key); }

void CAdoThread::BeginLinks() {
  if (db_) db_->BeginBatch();
}

void CAdoThread::EndLinks() {
  if (db_) db_->CommitBatch();
}

bool CAdoThread::KnownLinkKeys(const std::vector<std::u16string>& keys,
                               std::set<std::u16string>& known) {
  return db_ && db_->KnownLinks(keys, known);
}

bool CAdoThread::StoreNewLinks(const std::vector<std::u16string>& keys,
                               const std::vector<std::u16string>& pageUrls) {
  if (!db_ || !db_->BeginBatch()) return false;
  if (db_->InsertLinks(keys) && db_->InsertLinkRows(pageUrls)) return db_->CommitBatch();
  db_->RollbackBatch();
  return false;
}

bool CAdoThread::StoreLinkRow(const std::u16string& pageUrl) {
  return db_ && db_->InsertLinkRow(pageUrl);
}

bool CAdoThread::WriteItem(const ToData& item, int update) {
  if (!db_) return false;
  return update == 1 ? db_->UpdateItem(item.Fields) : db_->InsertItem(item.Fields);
}

bool CAdoThread::WriteKeywordItem(const ToData& item) {
  return db_ && db_->InsertKeywordItem(item.Fields);
}

bool CAdoThread::DeleteItem(const std::u16string& pageUrl) {
  return db_ && db_->DeleteByPageUrl(pageUrl);
}

bool CAdoThread::MarkPublished(const std::u16string& id) { return db_ && db_->MarkPublished(id); }

std::u16string CAdoThread::LastError() { return db_ ? db_->LastError : std::u16string(); }

}  // namespace rz
