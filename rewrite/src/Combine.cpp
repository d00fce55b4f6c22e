#include "rewrite/Combine.h"

#include <algorithm>

#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "rewrite/Rewrite.h"
#include "rewrite/Rules.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"

namespace rz {

namespace {

void Tell(const std::function<void(const std::u16string&)>& to, const std::u16string& text) {
  if (to) to(text);
}

struct Row {
  std::u16string Id;
  std::u16string Value;
};

}  // namespace

std::u16string CheckCombineOptions(const CombineOptions& options, const JobRule& job) {
  // A negative group size would never close a group: refused like 0.
  if (options.ArticleNumEx <= 0) return u"一次打乱多少篇填写不正确！";
  if (options.ArticleSplit.empty()) return u"分隔符填写不正确！";
  if (options.ArticleTag.empty()) return u"伪原创的标签不得为空！";
  for (const auto& label : job.ContentRex.LabelRex)
    if (label.LabelName == options.ArticleTag) return u"";
  return u"不存在对应伪原创的标签！";
}

std::vector<std::u16string> CombineSentences(const std::u16string& text, const std::u16string& marks) {
  std::vector<std::u16string> entries;
  const std::u16string pattern = SentenceMarkPattern(marks);
  if (pattern.empty()) {
    if (!text.empty()) entries.push_back(text);
  } else {
    pcutil::RegexSplit(entries, text, 0, pattern);  // throws on a pattern the engine refuses
  }
  std::vector<std::u16string> sentences;
  for (size_t i = 0; i < entries.size(); i += 2)
    sentences.push_back(entries[i] + (i + 1 < entries.size() ? entries[i + 1] : u""));
  return sentences;
}

std::vector<std::u16string> DealParts(const std::u16string& text, int rows) {
  std::vector<std::u16string> parts;
  if (rows <= 0) return parts;
  const size_t t = text.size() / static_cast<size_t>(rows);
  for (int i = 0; i < rows; ++i) {
    const size_t start = static_cast<size_t>(i) * t;
    parts.push_back(i + 1 < rows ? text.substr(start, t) : text.substr(start));
  }
  return parts;
}

CombineResult CombineArticles(const DbSettings& database, const std::u16string& jobId,
                              const CombineOptions& options, const CombineReport& report,
                              const std::atomic<bool>* running) {
  CombineResult result;
  auto end = [&](const std::u16string& message) {
    if (!message.empty()) Tell(report.Message, message);
    Tell(report.Caption, kCombineStart);
    return result;
  };

  ContentDatabase db(database, jobId);
  if (!db.Open(false)) return end(db.LastError.empty() ? db.Connection.ErrorText() : db.LastError);
  if (!db.SelectContent(u"")) return end(u"打开内容表失败！");

  // Read every row first: the updates then run on the same connection without a result set
  // in the way.
  std::vector<Row> rows;
  const long count = db.RecordCount();
  for (long i = 0; i < count; ++i) {
    FieldMap record;
    if (!db.ReadRow(record, i) || !record.count(u"ID")) {
      db.CloseQuery();
      return end(u"取数据不正确！");
    }
    rows.push_back({record[u"ID"], record[options.ArticleTag]});
  }
  db.CloseQuery();
  result.Rows = static_cast<int>(rows.size());

  const size_t groupSize = static_cast<size_t>(options.ArticleNumEx > 0 ? options.ArticleNumEx : 1);
  for (size_t first = 0; first < rows.size(); first += groupSize) {
    if (running && !*running) break;
    const size_t last = std::min(rows.size(), first + groupSize);
    std::u16string text;
    for (size_t i = first; i < last; ++i) text += rows[i].Value;

    std::vector<std::u16string> sentences;
    try {
      sentences = CombineSentences(text, options.ArticleSplit);
    } catch (const pcutil::RegexError&) {
      continue;  // a group whose text cannot be split stays as it is
    }
    for (size_t i = sentences.size(); i > 1; --i)
      std::swap(sentences[i - 1], sentences[static_cast<size_t>(RewriteRandomBelow(static_cast<int>(i)))]);
    std::u16string joined;
    for (const auto& s : sentences) joined += s;

    const auto parts = DealParts(joined, static_cast<int>(last - first));
    for (size_t i = first; i < last; ++i) {
      if (!db.UpdateLabel(rows[i].Id, options.ArticleTag, parts[i - first])) {
        db.Close();
        return end(u"伪原创失败！");
      }
      ++result.Updated;
    }
    if (report.Progress) report.Progress(static_cast<int>(last), static_cast<int>(last - first));
  }
  db.Close();
  result.Ok = true;
  return end(u"");
}

CArticleCombiner::~CArticleCombiner() {
  running_ = false;
  Wait();
}

void CArticleCombiner::Wait() {
  if (thread_.joinable()) thread_.join();
}

std::u16string CArticleCombiner::CaptionText() const {
  return started_ ? kCombinePause : kCombineStart;
}

void CArticleCombiner::Press(const DbSettings& database, const JobRule& job,
                             const CombineOptions& options, const CombineReport& report) {
  const std::u16string problem = CheckCombineOptions(options, job);
  if (!problem.empty()) {
    Tell(report.Message, problem);
    return;
  }
  AppSettings& settings = GlobalSettings();
  settings.ArticleNumEx = options.ArticleNumEx;
  settings.ArticleSplit = options.ArticleSplit;
  settings.ArticleTag = options.ArticleTag;
  SaveSettings(settings);

  if (!started_) {
    Wait();  // a run that was told to stop finishes its group first
    started_ = true;
    running_ = true;
    Tell(report.Caption, kCombinePause);
    const std::u16string jobId = job.JobId;
    thread_ = std::thread([this, database, jobId, options, report] {
      CombineReport own = report;
      own.Caption = [this, report](const std::u16string& caption) {
        started_ = caption == kCombinePause;
        Tell(report.Caption, caption);
      };
      CombineArticles(database, jobId, options, own, &running_);
      running_ = false;
      started_ = false;
    });
  } else {
    running_ = false;
    started_ = false;
    Tell(report.Caption, kCombineStart);
  }
}

}  // namespace rz
