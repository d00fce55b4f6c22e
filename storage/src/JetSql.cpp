#include "storage/JetSql.h"

namespace rz {

namespace {

bool IsWordChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c >= 0x80;
}

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

// The word `w` (lower case ASCII) at `i`, case-insensitive, standing alone.
bool WordAt(const std::u16string& s, size_t i, const char16_t* w) {
  size_t n = std::char_traits<char16_t>::length(w);
  if (i + n > s.size()) return false;
  if (i > 0 && IsWordChar(s[i - 1])) return false;
  for (size_t k = 0; k < n; ++k)
    if (Lower(s[i + k]) != w[k]) return false;
  return i + n == s.size() || !IsWordChar(s[i + n]);
}

size_t SkipSpace(const std::u16string& s, size_t i) {
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n')) ++i;
  return i;
}

// Words separated by blanks, from `i`; returns the position after the last or npos.
size_t WordsAt(const std::u16string& s, size_t i, std::initializer_list<const char16_t*> words) {
  for (const char16_t* w : words) {
    i = SkipSpace(s, i);
    if (!WordAt(s, i, w)) return std::u16string::npos;
    i += std::char_traits<char16_t>::length(w);
  }
  return i;
}

}  // namespace

std::u16string JetToSqlite(const std::u16string& sql) {
  std::u16string out;
  out.reserve(sql.size() + 16);
  std::u16string limit;
  size_t i = 0;
  const size_t first = SkipSpace(sql, 0);
  while (i < sql.size()) {
    char16_t c = sql[i];
    // Quoted text and names pass unchanged.
    if (c == u'\'' || c == u'"' || c == u'`' || c == u'[') {
      char16_t close = c == u'[' ? u']' : c;
      size_t end = i + 1;
      while (end < sql.size()) {
        if (sql[end] == close) {
          if (close != u']' && end + 1 < sql.size() && sql[end + 1] == close) {
            end += 2;  // doubled quote inside the text
            continue;
          }
          break;
        }
        ++end;
      }
      size_t stop = end < sql.size() ? end + 1 : end;
      out.append(sql, i, stop - i);
      i = stop;
      continue;
    }
    if (!IsWordChar(c) || (i > 0 && IsWordChar(sql[i - 1]))) {
      out += c;
      ++i;
      continue;
    }
    if (i == first && WordAt(sql, i, u"select")) {
      size_t j = WordsAt(sql, i + 6, {u"top"});
      if (j != std::u16string::npos) {
        j = SkipSpace(sql, j);
        size_t digits = j;
        while (digits < sql.size() && sql[digits] >= u'0' && sql[digits] <= u'9') ++digits;
        if (digits > j && digits < sql.size() && !IsWordChar(sql[digits])) {
          limit = sql.substr(j, digits - j);
          out.append(sql, i, 6);
          i = digits;
          continue;
        }
      }
    }
    if (WordAt(sql, i, u"delete")) {
      size_t j = SkipSpace(sql, i + 6);
      if (j < sql.size() && sql[j] == u'*') {
        size_t k = WordsAt(sql, j + 1, {u"from"});
        if (k != std::u16string::npos) {
          out += u"delete from";
          i = k;
          continue;
        }
      }
    }
    if (WordAt(sql, i, u"autoincrement") || WordAt(sql, i, u"counter")) {
      size_t j = i + (Lower(c) == u'a' ? 13 : 7);
      size_t k = SkipSpace(sql, j);
      if (k < sql.size() && sql[k] == u'(') {
        size_t close = sql.find(u')', k);
        if (close != std::u16string::npos) j = close + 1;
      }
      size_t pk = WordsAt(sql, j, {u"primary", u"key"});
      if (pk != std::u16string::npos) j = pk;
      out += u"INTEGER PRIMARY KEY AUTOINCREMENT";
      i = j;
      continue;
    }
    if (WordAt(sql, i, u"short")) {
      out += u"INTEGER";
      i += 5;
      continue;
    }
    if (WordAt(sql, i, u"rnd")) {
      size_t k = SkipSpace(sql, i + 3);
      if (k < sql.size() && sql[k] == u'(') {
        size_t close = sql.find(u')', k);
        if (close != std::u16string::npos) {
          out += u"random()";
          i = close + 1;
          continue;
        }
      }
    }
    // Copy the whole word so that no rule matches inside it.
    size_t end = i;
    while (end < sql.size() && IsWordChar(sql[end])) ++end;
    out.append(sql, i, end - i);
    i = end;
  }
  if (!limit.empty()) {
    while (!out.empty() && (out.back() == u' ' || out.back() == u';' || out.back() == u'\n' ||
                            out.back() == u'\r' || out.back() == u'\t'))
      out.pop_back();
    out += u" LIMIT " + limit;
  }
  return out;
}

}  // namespace rz
