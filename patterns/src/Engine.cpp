#include "Engine.h"

#include "patterns/Regex.h"

namespace pcutil::regex_detail {
namespace {

// Limits that turn catastrophic backtracking into an error instead of a hung worker.
// Ordinary rules over large pages stay far below them.
constexpr uint32_t kMatchLimit = 10'000'000;  // the engine's own default
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKiB = 256 * 1024;
// Compiling for the JIT costs about as much as interpreting a couple of thousand
// characters, so short texts (labels, addresses) are left to the interpreter.
constexpr std::size_t kJitMinSubject = 2048;

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

std::string ErrorText(int code) {
  PCRE2_UCHAR buffer[256];
  int n = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
  if (n < 0) return "regular expression error " + std::to_string(code);
  std::string text;
  for (int i = 0; i < n; ++i) text += buffer[i] < 0x80 ? static_cast<char>(buffer[i]) : '?';
  return text;
}

}  // namespace

const std::u16string& WellFormed(const std::u16string& text, std::u16string& scratch) {
  const std::size_t n = text.size();
  // Most pages hold no surrogates at all.
  std::size_t i = SkipBlocksWithout(text, [](char16_t c) { return (c & 0xF800u) == 0xD800u; });
  // Then unit by unit: proper pairs pass, the first lone surrogate means a repaired copy.
  for (; i < n; ++i) {
    char16_t c = text[i];
    if (IsHigh(c) && i + 1 < n && IsLow(text[i + 1])) {
      ++i;
      continue;
    }
    if (IsHigh(c) || IsLow(c)) break;
  }
  if (i == n) return text;
  scratch = text;
  for (; i < n; ++i) {
    char16_t c = scratch[i];
    if (IsHigh(c) && i + 1 < n && IsLow(scratch[i + 1]))
      ++i;
    else if (IsHigh(c) || IsLow(c))
      scratch[i] = 0xFFFD;
  }
  return scratch;
}

Matcher::Matcher(const std::u16string& pattern, unsigned flags) {
  std::unique_ptr<pcre2_compile_context, CompileContextFree> cc(pcre2_compile_context_create(nullptr));
  if (!cc) throw std::bad_alloc();
  pcre2_set_newline(cc.get(), PCRE2_NEWLINE_LF);

  uint32_t options = PCRE2_UTF | PCRE2_NO_UTF_CHECK | PCRE2_NEVER_BACKSLASH_C;
  if (flags & CaseInsensitive) options |= PCRE2_CASELESS;
  if (flags & MultiLine) options |= PCRE2_MULTILINE;
  if (flags & SingleLine) options |= PCRE2_DOTALL;

  std::u16string patternScratch;
  const std::u16string& p = WellFormed(pattern, patternScratch);
  int error = 0;
  PCRE2_SIZE offset = 0;
  code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.data()), p.size(), options, &error,
                            &offset, cc.get()));
  if (!code_) throw RegexError(ErrorText(error), error, static_cast<long>(offset));

  uint32_t captures = 0;
  pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
  groups_ = static_cast<int>(captures);
  data_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
  context_.reset(pcre2_match_context_create(nullptr));
  if (!data_ || !context_) throw std::bad_alloc();
  pcre2_set_match_limit(context_.get(), kMatchLimit);
  pcre2_set_depth_limit(context_.get(), kDepthLimit);
  pcre2_set_heap_limit(context_.get(), kHeapLimitKiB);
}

void Matcher::SetSubject(const std::u16string& subject) {
  subject_ = &subject;
  matched_ = &WellFormed(subject, scratch_);
  if (useJit_ && !jitCompiled_ && matched_->size() >= kJitMinSubject) {
    // JIT is an optimisation only: when it is missing or refuses the pattern, the
    // interpreter runs it.
    jitCompiled_ = true;
    pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);
  }
  lastRc_ = 0;
}

void Matcher::Release() {
  subject_ = matched_ = nullptr;
  std::u16string().swap(scratch_);
  lastRc_ = 0;
}

bool Matcher::Find(std::size_t start, bool notEmptyAtStart) {
  lastRc_ = 0;
  if (!matched_ || start > matched_->size()) return false;
  uint32_t options = PCRE2_NO_UTF_CHECK;
  if (notEmptyAtStart) options |= PCRE2_NOTEMPTY_ATSTART;
  auto run = [&](uint32_t extra) {
    return pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(matched_->data()),
                       matched_->size(), start, options | extra, data_.get(), context_.get());
  };
  int rc = run(useJit_ ? 0 : PCRE2_NO_JIT);
  if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
    // Deep recursion outgrew the JIT's stack. A bigger stack only delays the end (time
    // grows faster than the stack), while the interpreter keeps to the depth and heap
    // limits: run this pattern there from now on.
    useJit_ = false;
    rc = run(PCRE2_NO_JIT);
  }
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) throw RegexError(ErrorText(rc), rc, -1);
  // rc 0 means the ovector was too small, which cannot happen with data sized from the
  // pattern; treat it as "all groups present" to stay safe.
  lastRc_ = rc == 0 ? groups_ + 1 : rc;
  return true;
}

bool Matcher::Took(int group) const {
  if (group < 0 || group >= lastRc_) return false;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_.get());
  return ov[2 * group] != PCRE2_UNSET;
}

std::size_t Matcher::Start(int group) const {
  if (!Took(group)) return 0;
  return pcre2_get_ovector_pointer(data_.get())[2 * group];
}

std::size_t Matcher::End(int group) const {
  if (!Took(group)) return 0;
  return pcre2_get_ovector_pointer(data_.get())[2 * group + 1];
}

std::u16string Matcher::Text(int group) const {
  if (!Took(group)) return {};
  std::size_t s = Start(group), e = End(group);
  if (e <= s || e > subject_->size()) return {};
  return subject_->substr(s, e - s);
}

}  // namespace pcutil::regex_detail
