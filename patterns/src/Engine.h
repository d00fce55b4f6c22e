// Compiled pattern plus match state over one subject (PCRE2, 16-bit code units).
#pragma once

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <cstddef>
#include <memory>
#include <string>

namespace pcutil::regex_detail {

struct CodeFree {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};

// Where the first block of 32 units holding a unit with `wanted` starts (or the tail): every
// regex call scans its whole subject, and a block is checked in a few vector instructions
// when `wanted` is a plain comparison.
template <typename Wanted>
std::size_t SkipBlocksWithout(const std::u16string& text, Wanted wanted) {
  const char16_t* p = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    unsigned any = 0;
    for (std::size_t k = 0; k < 32; ++k) any |= wanted(p[i + k]);
    if (any) break;
  }
  return i;
}

// Lone surrogates become U+FFFD (same length, so offsets stay valid for the original).
// Returns `text` itself when it is well-formed, otherwise `scratch` filled with the copy.
const std::u16string& WellFormed(const std::u16string& text, std::u16string& scratch);

class Matcher {
 public:
  // Throws RegexError when the pattern does not compile.
  Matcher(const std::u16string& pattern, unsigned flags);

  // The subject must outlive the matcher's use of it.
  void SetSubject(const std::u16string& subject);

  // Searches from `start`; with `notEmptyAtStart` an empty match at `start` is refused.
  // Throws RegexError when the engine gives up (match limits).
  bool Find(std::size_t start, bool notEmptyAtStart);

  int GroupCount() const { return groups_; }
  bool Took(int group) const;  // whether the group took part in the last match
  std::size_t Start(int group) const;
  std::size_t End(int group) const;
  // Text of a group of the last match, from the original subject ("" when it took no part).
  std::u16string Text(int group) const;
  std::size_t SubjectLength() const { return subject_ ? subject_->size() : 0; }
  // Drops the subject (and any repaired copy of it) so a kept matcher holds no page text.
  void Release();

 private:
  std::unique_ptr<pcre2_code, CodeFree> code_;
  std::unique_ptr<pcre2_match_data, MatchDataFree> data_;
  std::unique_ptr<pcre2_match_context, MatchContextFree> context_;
  int groups_ = 0;
  bool useJit_ = true;
  bool jitCompiled_ = false;
  int lastRc_ = 0;
  const std::u16string* subject_ = nullptr;  // the caller's text, returned in results
  const std::u16string* matched_ = nullptr;  // what the engine sees (surrogates repaired)
  std::u16string scratch_;
};

// Calls onMatch() for the first match, or every non-overlapping match when `all`,
// advancing past empty matches the way Perl does. Returns the number of matches.
template <typename F>
int ForEachMatch(Matcher& m, bool all, F&& onMatch) {
  int count = 0;
  std::size_t start = 0;
  bool notEmpty = false;
  while (start <= m.SubjectLength() && m.Find(start, notEmpty)) {
    ++count;
    onMatch();
    if (!all) break;
    notEmpty = m.Start(0) == m.End(0);
    start = m.End(0);
  }
  return count;
}

}  // namespace pcutil::regex_detail
