// Keyword jobs: the keyword worker looks each of the job's keywords up on the related-keyword
// sources; the runner merges what it finds into the job's keyword list; the keyword content
// feed turns the keywords into article addresses through the keyword content sources.
#pragma once

#include <atomic>
#include <functional>
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

// The blog-search host whose result links are cut at "&ad1=".
inline constexpr char16_t kBlogSearchHost[] = u"blogsearch.baidu.com";

}  // namespace rz
