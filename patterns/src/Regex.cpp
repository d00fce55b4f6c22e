#include "patterns/Regex.h"

#include <map>
#include <string_view>

#include "Engine.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"

namespace pcutil {
namespace {

using regex_detail::ForEachMatch;
using regex_detail::Matcher;

// Every capture call asks this of a whole page: blocks without any CR go first.
bool HasCrLf(const std::u16string& text) {
  const std::size_t i = regex_detail::SkipBlocksWithout(text, [](char16_t c) { return c == u'\r'; });
  return text.find(u"\r\n", i) != std::u16string::npos;
}

std::u16string CrLfToLf(const std::u16string& text) {
  if (!HasCrLf(text)) return text;
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    out += text[i];
  }
  return out;
}

// A compiled pattern taken from this thread's cache for one call. Rules run the same few
// patterns on every page, and compiling (with the JIT) costs more than matching a page.
// A pattern already in use further up this thread's stack gets a compiled copy of its own.
class CachedMatcher {
 public:
  CachedMatcher(const std::u16string& pattern, unsigned flags) {
    Cache& cache = ThreadCache();
    auto it = cache.find(Key{flags, pattern});
    if (it == cache.end()) {
      if (cache.size() >= kMaxEntries) std::erase_if(cache, [](const auto& e) { return !e.second->busy; });
      it = cache.emplace(Key{flags, pattern}, std::make_unique<Entry>(pattern, flags)).first;
    }
    if (it->second->busy) {
      own_ = std::make_unique<Matcher>(pattern, flags);
      matcher_ = own_.get();
    } else {
      entry_ = it->second.get();
      entry_->busy = true;
      matcher_ = &entry_->matcher;
    }
  }
  ~CachedMatcher() {
    if (!entry_) return;
    entry_->matcher.Release();
    entry_->busy = false;
  }
  CachedMatcher(const CachedMatcher&) = delete;
  CachedMatcher& operator=(const CachedMatcher&) = delete;
  Matcher& operator*() { return *matcher_; }

 private:
  static constexpr std::size_t kMaxEntries = 64;
  struct Entry {
    Entry(const std::u16string& pattern, unsigned flags) : matcher(pattern, flags) {}
    Matcher matcher;
    bool busy = false;
  };
  using Key = std::pair<unsigned, std::u16string>;
  using Cache = std::map<Key, std::unique_ptr<Entry>>;
  static Cache& ThreadCache() {
    thread_local Cache cache;
    return cache;
  }

  Entry* entry_ = nullptr;
  std::unique_ptr<Matcher> own_;
  Matcher* matcher_ = nullptr;
};

bool EveryMatch(unsigned flags) { return (flags & Global) && (flags & AllCaptures); }

// The entries of every match used, in order: whole match, then groups 1..n.
template <typename F>
int ForEachEntry(Matcher& m, unsigned flags, F&& onEntry) {
  return ForEachMatch(m, EveryMatch(flags), [&] {
    for (int g = 0; g <= m.GroupCount(); ++g) onEntry(m.Text(g));
  });
}

// One piece of a replacement template: literal text, or a group reference.
struct Piece {
  std::u16string text;
  int group = -1;
};

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  AppendUtf16(out, cp > 0x10FFFF ? 0xFFFD : cp);
}

// Reads up to `maxDigits` hex digits at `i`; returns how many were read.
std::size_t ReadHex(const std::u16string& s, std::size_t i, std::size_t maxDigits, uint32_t& value) {
  std::size_t n = 0;
  value = 0;
  while (n < maxDigits && i + n < s.size() && HexValue(s[i + n]) >= 0) {
    if (value <= 0x10FFFF) value = value * 16 + HexValue(s[i + n]);
    ++n;
  }
  return n;
}

// Decodes the escape whose backslash is at `i`; returns the index after it.
std::size_t DecodeEscape(const std::u16string& s, std::size_t i, std::u16string& out) {
  if (i + 1 >= s.size()) {
    out += u'\\';  // a trailing backslash stays as written
    return i + 1;
  }
  char16_t c = s[i + 1];
  std::size_t next = i + 2;
  uint32_t value = 0;
  switch (c) {
    case u'n': out += u'\n'; break;
    case u'r': out += u'\r'; break;
    case u't': out += u'\t'; break;
    case u'f': out += u'\f'; break;
    case u'v': out += u'\v'; break;
    case u'a': out += u'\a'; break;
    case u'e': out += u'\x1B'; break;
    case u'x':
      if (next < s.size() && s[next] == u'{') {
        std::size_t n = ReadHex(s, next + 1, 8, value);
        if (n > 0 && next + 1 + n < s.size() && s[next + 1 + n] == u'}') {
          AppendCodePoint(out, value);
          return next + n + 2;
        }
        out += u'x';  // malformed: the character stands for itself
        return next;
      } else {
        std::size_t n = ReadHex(s, next, 2, value);
        if (n == 0) {
          out += u'x';
          return next;
        }
        AppendCodePoint(out, value);
        return next + n;
      }
    case u'u': {
      std::size_t n = ReadHex(s, next, 4, value);
      if (n != 4) {
        out += u'u';
        return next;
      }
      out += static_cast<char16_t>(value);
      return next + 4;
    }
    default: out += c; break;  // \\, \$ and anything else: the character itself
  }
  return next;
}

std::vector<Piece> ParseTemplate(const std::u16string& t, int groups, bool normalize) {
  std::vector<Piece> pieces;
  std::u16string literal;
  auto flush = [&] {
    if (!literal.empty()) pieces.push_back({std::move(literal), -1});
    literal.clear();
  };
  auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  std::size_t i = 0;
  while (i < t.size()) {
    char16_t c = t[i];
    if (c == u'\\' && normalize) {
      i = DecodeEscape(t, i, literal);
      continue;
    }
    if (c != u'$' || i + 1 >= t.size()) {
      literal += c;
      ++i;
      continue;
    }
    char16_t d = t[i + 1];
    if (d == u'$') {
      literal += u'$';
      i += 2;
    } else if (d == u'&') {
      flush();
      pieces.push_back({{}, 0});
      i += 2;
    } else if (isDigit(d)) {
      int group = d - u'0';
      i += 2;
      if (i < t.size() && isDigit(t[i]) && group * 10 + (t[i] - u'0') <= groups) {
        group = group * 10 + (t[i] - u'0');
        ++i;
      }
      flush();
      pieces.push_back({{}, group});
    } else if (d == u'{') {
      std::size_t j = i + 2;
      long group = 0;
      while (j < t.size() && isDigit(t[j]) && group < 100000) group = group * 10 + (t[j++] - u'0');
      if (j > i + 2 && j < t.size() && t[j] == u'}') {
        flush();
        pieces.push_back({{}, static_cast<int>(group)});
        i = j + 1;
      } else {
        literal += u'$';
        ++i;
      }
    } else {
      literal += u'$';
      ++i;
    }
  }
  flush();
  return pieces;
}

}  // namespace

// The 1 ms pauses keep long page scans from monopolising a processor; they are also safe
// points where a suspended worker parks.
bool RegexCapture(const std::u16string& pattern, const std::u16string& subject, unsigned flags,
                  std::vector<std::u16string>& out) {
  CachedMatcher cached(HasCrLf(pattern) ? CrLfToLf(pattern) : pattern, flags);
  Matcher& m = *cached;
  // Most pages hold no CR LF: they are matched in place instead of copied.
  const bool crlf = HasCrLf(subject);
  const std::u16string converted = crlf ? CrLfToLf(subject) : std::u16string();
  const std::u16string& text = crlf ? converted : subject;
  m.SetSubject(text);
  int matches = ForEachEntry(m, flags, [&](std::u16string entry) {
    out.push_back(std::move(entry));
    PauseMs(1);
  });
  if (matches == 0) PauseMs(1);
  return matches > 0;
}

bool RegexCaptureOdd(const std::u16string& pattern, const std::u16string& subject,
                     unsigned flags, std::vector<std::u16string>& out) {
  CachedMatcher cached(pattern, flags);
  Matcher& m = *cached;
  m.SetSubject(subject);
  std::size_t position = 0;
  int matches = ForEachEntry(m, flags, [&](std::u16string entry) {
    if (position++ % 2 == 1) out.push_back(std::move(entry));
  });
  return matches > 0;
}

bool RegexReplace(std::u16string& subject, const std::u16string& pattern, unsigned flags,
                  const std::u16string& replacement, int* replaced) {
  CachedMatcher cached(pattern, flags);
  Matcher& m = *cached;
  const std::vector<Piece> pieces =
      ParseTemplate(replacement, m.GroupCount(), (flags & NormalizeReplacement) != 0);
  m.SetSubject(subject);
  std::u16string result;
  std::size_t copied = 0;
  int count = ForEachMatch(m, (flags & Global) != 0, [&] {
    std::size_t start = m.Start(0);
    if (start > copied) result.append(subject, copied, start - copied);
    for (const Piece& p : pieces) result += p.group < 0 ? p.text : m.Text(p.group);
    if (m.End(0) > copied) copied = m.End(0);
  });
  if (replaced) *replaced = count;
  if (count > 0) {
    result.append(subject, copied, std::u16string::npos);
    subject = std::move(result);
  }
  return true;
}

int RegexSplit(std::vector<std::u16string>& out, const std::u16string& subject, unsigned flags,
               const std::u16string& pattern) {
  CachedMatcher cached(pattern, flags);
  Matcher& m = *cached;
  m.SetSubject(subject);
  std::vector<std::u16string> entries;
  std::size_t pieceStart = 0;
  // A match must not be empty at the start of a piece; otherwise an empty match would
  // give an empty piece and never move on.
  while (pieceStart < subject.size() && m.Find(pieceStart, true)) {
    entries.push_back(subject.substr(pieceStart, m.Start(0) - pieceStart));
    for (int g = 1; g <= m.GroupCount(); ++g)
      if (m.Took(g)) entries.push_back(m.Text(g));
    pieceStart = m.End(0);
  }
  entries.push_back(subject.substr(pieceStart));
  while (!entries.empty() && entries.back().empty()) entries.pop_back();
  for (auto& e : entries) out.push_back(std::move(e));
  return static_cast<int>(entries.size());
}

}  // namespace pcutil
