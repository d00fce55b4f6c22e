// Article combination: the stored items of a job are taken in groups; the sentences of one
// label of a group's items are shuffled together and dealt back to the items.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "store/DbSettings.h"
#include "store/JobRule.h"

namespace rz {

inline constexpr char16_t kCombineStart[] = u"开始";
inline constexpr char16_t kCombinePause[] = u"暂停";

struct CombineOptions {
  int ArticleNumEx = 10;         // items per group
  std::u16string ArticleSplit;   // sentence marks, "|"-separated
  std::u16string ArticleTag;     // the label to combine
};

// What the worker tells its dialog (or the command line).
struct CombineReport {
  // A message box text ("伪原创失败！", the connection's error...).
  std::function<void(const std::u16string&)> Message;
  // The start/pause button caption; the worker sets "开始" whenever it ends.
  std::function<void(const std::u16string&)> Caption;
  // After each group: rows done so far, rows updated in that group.
  std::function<void(int rowsDone, int groupRows)> Progress;
};

// The checks of the start button, in order; the first failing one's message, or empty.
std::u16string CheckCombineOptions(const CombineOptions& options, const JobRule& job);

// The sentences of a text: each sentence joined with the mark that ended it. Text after the
// last mark is kept as a last sentence.
std::vector<std::u16string> CombineSentences(const std::u16string& text,
                                             const std::u16string& marks);
// Deals a text out to `rows` parts of length/rows characters; the remainder goes with the
// last part so that no character is lost.
std::vector<std::u16string> DealParts(const std::u16string& text, int rows);

struct CombineResult {
  bool Ok = false;
  int Rows = 0;     // rows read
  int Updated = 0;  // rows written back
};

// The worker's whole run on one content database. `running` (optional) is checked between
// groups: clearing it ends the run after the current group.
CombineResult CombineArticles(const DbSettings& database, const std::u16string& jobId,
                              const CombineOptions& options, const CombineReport& report,
                              const std::atomic<bool>* running = nullptr);

// The dialog's worker: one thread per start, kept by its owner. Pausing ends the current
// run after the group it is on (a suspended thread that never resumes would hold the
// database connection); the next start begins again from the first row.
class CArticleCombiner {
 public:
  CArticleCombiner() = default;
  ~CArticleCombiner();
  CArticleCombiner(const CArticleCombiner&) = delete;
  CArticleCombiner& operator=(const CArticleCombiner&) = delete;

  // The start button: "开始" starts a run (caption "暂停"); "暂停" stops it (caption "开始").
  // The checks run first; their failure is reported as a message and nothing starts.
  void Press(const DbSettings& database, const JobRule& job, const CombineOptions& options,
             const CombineReport& report);
  std::u16string CaptionText() const;
  bool Running() const { return running_; }
  void Wait();

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> started_{false};
};

}  // namespace rz
