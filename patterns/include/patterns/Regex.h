// The pattern dialect rules are written in, and the four operations every caller uses.
//
// Patterns, subjects, templates and results are UTF-16. Each call compiles its pattern
// afresh (PCRE2, 16-bit library, JIT when available), so the operations are safe to run
// on any number of threads at once.
//
// Dialect: Perl 5 syntax and semantics as PCRE2 implements it, in UTF mode:
//  - "." and classes match whole characters (a surrogate pair is one character);
//    a lone surrogate in a pattern or subject is matched as U+FFFD would be, and comes
//    back unchanged in the results;
//  - \w \d \s \b and POSIX classes are ASCII; case-insensitive matching folds all of
//    Unicode;
//  - line breaks are LF only: "$" matches at the end and before a final LF (with
//    MultiLine also before every LF), "." skips only LF;
//  - \C is refused (it could split a character).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace pcutil {

// Flags (bit values as stored in rules and used by callers).
inline constexpr unsigned CaseInsensitive = 0x1;
inline constexpr unsigned Global = 0x2;      // every match, left to right
inline constexpr unsigned MultiLine = 0x4;   // ^ and $ also at line breaks
inline constexpr unsigned SingleLine = 0x8;  // . also matches a line break
inline constexpr unsigned AllCaptures = 0x80;  // with Global: captures of every match
inline constexpr unsigned NormalizeReplacement = 0x100;  // \n \t \\ ... in templates
inline constexpr unsigned AllRegexFlags = 0x18F;

// A pattern that does not compile, or a match that exceeds the engine's limits
// (a pattern that would backtrack practically forever). what() is the engine's short
// English description, e.g. "numbers out of order in {} quantifier".
class RegexError : public std::runtime_error {
 public:
  RegexError(const std::string& message, int code, long offset)
      : std::runtime_error(message), code_(code), offset_(offset) {}
  int Code() const { return code_; }
  // Position in the pattern (UTF-16 units) where compiling stopped; -1 for match errors.
  long Offset() const { return offset_; }

 private:
  int code_;
  long offset_;
};

// Replaces CR LF by LF in pattern and subject, then matches. Uses the first match, or every
// match when both Global and AllCaptures are set. For each match used appends the matched
// text and then groups 1..n (empty for a group that took no part). Returns whether anything
// matched; on false `out` is unchanged. Pauses 1 ms (the fixed-pause facility) after each
// entry and after a failed match.
bool RegexCapture(const std::u16string& pattern, const std::u16string& subject, unsigned flags,
                  std::vector<std::u16string>& out);

// Like RegexCapture without line-break normalisation and pauses, appending only the entries
// at odd positions (2nd, 4th, ...) of the whole sequence. Returns whether anything matched.
bool RegexCaptureOdd(const std::u16string& pattern, const std::u16string& subject,
                     unsigned flags, std::vector<std::u16string>& out);

// Replaces the first match, or every match with Global, by the template:
//   $0 $& whole match; $1..$9, $10..$99 group (two digits only when that group exists);
//   ${n} any group; $$ a dollar; a group that does not exist or took no part gives "";
//   any other "$" is literal. With NormalizeReplacement, escapes \n \r \t \f \v \a \e
//   \xHH \x{H..} \uHHHH stand for their characters and any other escaped character
//   (\\, \$, ...) for itself. Always returns true; `replaced` (optional) gets the count.
bool RegexReplace(std::u16string& subject, const std::u16string& pattern, unsigned flags,
                  const std::u16string& replacement, int* replaced = nullptr);

// Appends the pieces of the subject between matches (all matches; Global is not needed),
// each followed by the groups of the match that ended it which took part in it. A match
// may not be empty at the start of a piece; trailing empty entries are dropped.
// Returns the number of entries appended.
int RegexSplit(std::vector<std::u16string>& out, const std::u16string& subject, unsigned flags,
               const std::u16string& pattern);

}  // namespace pcutil
