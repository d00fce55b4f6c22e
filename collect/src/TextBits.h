// Small string helpers shared by the collect sources.
#pragma once

#include <string>

namespace rz::collect_detail {

inline bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

inline std::u16string Trim(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

inline bool StartsWith(const std::u16string& s, const std::u16string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

inline std::u16string RemoveChar(std::u16string s, char16_t c) {
  std::u16string out;
  out.reserve(s.size());
  for (char16_t x : s)
    if (x != c) out += x;
  return out;
}

// Drops control characters (tab, CR, LF, NUL ...): an address never keeps them.
inline std::u16string StripControls(const std::u16string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (char16_t x : s)
    if (x >= 0x20 && x != 0x7F) out += x;
  return out;
}

// Integer value of the leading digits, as C's atoi reads them (no number gives 0).
inline long long LeadingInt(const std::u16string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  long long v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    v = v * 10 + (s[i] - u'0');
    if (v > 1000000000000LL) break;  // far beyond any page number; keeps the product sane
  }
  return negative ? -v : v;
}

}  // namespace rz::collect_detail
