// Keyword jobs: the keyword worker looks each of the job's keywords up on the related-keyword
// sources; the runner merges what it finds into the job's keyword list; the keyword content
// feed turns the keywords into article addresses through the keyword content sources.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "collect/WorkData.h"
#include "foundation/Worker.h"
#include "store/JobRule.h"
#include "store/Settings.h"

namespace rz {

inline constexpr char16_t kKeywordLookupFailed[] = u"采集相关关键字失败";

// The sources the job's switches select: the Chinese ones, then the English ones.
std::vector<ListRule> SelectedRelatedSources(bool chinese, bool english);
std::vector<KeywordContentSource> SelectedContentSources(bool chinese, bool english);

// MustKeyword (when set) must match the candidate and NotKeyword (when set) must not: "|"
// separates alternatives, "(*)" is any text, everything else is literal; case is ignored.
bool KeywordAllowed(const std::u16string& candidate, const std::u16string& mustKeyword,
                    const std::u16string& notKeyword);

// Keywords text <-> list ("\r\n"-separated, empty lines skipped).
std::vector<std::u16string> SplitKeywords(const std::u16string& keywords);
std::u16string JoinKeywords(const std::vector<std::u16string>& keywords);

class CKeyWordThread : public pcutil::CBaseThread {
 public:
  // One keyword looked up: Links = the accepted candidates, Text = the last search address.
  // A failed download gives ResultCode 0, Text kKeywordLookupFailed and no links.
  pcutil::Signal1<ToData&> OnKeywords;

  CKeyWordThread() = default;
  ~CKeyWordThread() override;

  // Queues the job's keywords and starts one thread; returns the number queued.
  int StartKeywords(bool chineseSources, bool englishSources, const KeywordRex& settings);
  // 1 when every source was read, 0 when a source page could not be downloaded.
  int RelatedKeywords(const std::u16string& keyword);
  // Stop slot: the worker ends after its current keyword.
  void Stop() { IsRunning = 0; }

 private:
  void Work(uint64_t serial);

  KeywordRex settings_;
  std::vector<ListRule> sources_;
  pcutil::LockedQueue<std::u16string> queue_;
  std::atomic<uint64_t> serial_{0};
};

// The runner's keyword slot for one result: each candidate is refused as repeated, stops the
// step at MaxKeyWord, or is added (only when Chinese sources are on). `list` is the job's
// keyword list, changed in place; every outcome gives one log line.
struct KeywordMerge {
  std::vector<std::u16string> LogLines;
  std::vector<int> Outcomes;  // per line: 1 added, 0 refused, 2 the limit
  int OkCount = 0;
  int FailCount = 0;
  bool LimitReached = false;  // the worker is to stop; the remaining candidates are ignored
};
KeywordMerge MergeFoundKeywords(std::vector<std::u16string>& list, const ToData& found,
                                int maxKeyword, bool chineseSources);

// The keyword content feed: for every keyword, content source and source address (the
// keyword put in for "[澜岳参数]"), the result page's links become one ListUrlData with the
// source's content section and the job's charset. Links whose link key `known` reports are
// left out. Stops when `running` is cleared. Returns the number of units emitted.
int FeedKeywordContent(const JobRule& job, const std::function<bool(const std::u16string& urlKey)>& known,
                       const std::function<void(ListUrlData&)>& emit,
                       const std::atomic<int32_t>* running = nullptr);

// The keyword step of a keyword job as the runner drives it (step code 1481 with Type 2):
// owns the keyword worker, merges what it finds into the job's Keywords under one lock and,
// when the list changed, saves the job rule file once the worker has ended. Every report
// goes through `Report` with the step's counters; `Finished` follows the final line.
class CKeywordStep : public pcutil::SignalReceiver {
 public:
  struct Counts {
    int TotalCount = 0;
    int OkCount = 0;
    int DoneCount = 0;
    int FailCount = 0;
  };
  std::function<void(const std::u16string& logText, const Counts& counts)> Report;
  std::function<void()> Finished;

  CKeywordStep() = default;
  ~CKeywordStep() override;

  // Starts the look-ups; returns the number of keywords queued (the step's TotalCount).
  int Start(const JobRulePtr& rule, bool saveRule = true);
  // Stop: the worker ends after its current keyword; Finished still follows.
  void Stop() { Worker.Stop(); }
  Counts Snapshot();

  CKeyWordThread Worker;

 private:
  void OnKeywords(ToData& found);
  void OnWorkerDone();

  std::mutex lock_;
  JobRulePtr rule_;
  bool saveRule_ = true;
  std::vector<std::u16string> list_;
  Counts counts_;
};

inline constexpr char16_t kKeywordStepStatus[] = u"运行中-采集关键词";
inline constexpr char16_t kKeywordStepStart[] = u"当前进入采集关键词步骤...";
inline constexpr char16_t kKeywordStepDone[] = u"采集相关关键词完成,总共采集到内容条数为%d个！";

// The blog-search host whose result links are cut at "&ad1=".
inline constexpr char16_t kBlogSearchHost[] = u"blogsearch.baidu.com";

}  // namespace rz
