#include <array>
#include <chrono>
#include <random>

#include "foundation/Text.h"

namespace pcutil {

namespace {

// "%XX" for every byte value, built once.
const std::array<std::u16string, 256>& PercentTable() {
  static const std::array<std::u16string, 256> table = [] {
    std::array<std::u16string, 256> t;
    const char16_t* hex = u"0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) t[b] = {u'%', hex[b >> 4], hex[b & 0xF]};
    return t;
  }();
  return table;
}

bool IsAsciiAlnum(uint32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool KeptInUtf8Branch(char16_t c) {
  if (IsAsciiAlnum(c)) return true;
  switch (c) {
    case u'-': case u'_': case u'.': case u'!': case u'~': case u'*':
    case u'\'': case u'(': case u')': case u'/': case u':':
      return true;
    default:
      return false;
  }
}

void AppendUtf8Escaped(std::u16string& out, uint32_t c) {
  const auto& pct = PercentTable();
  if (c < 0x800) {
    out += pct[0xC0 | (c >> 6)];
    out += pct[0x80 | (c & 0x3F)];
  } else if (c < 0x10000) {
    out += pct[0xE0 | (c >> 12)];
    out += pct[0x80 | ((c >> 6) & 0x3F)];
    out += pct[0x80 | (c & 0x3F)];
  } else {
    out += pct[0xF0 | (c >> 18)];
    out += pct[0x80 | ((c >> 12) & 0x3F)];
    out += pct[0x80 | ((c >> 6) & 0x3F)];
    out += pct[0x80 | (c & 0x3F)];
  }
}

}  // namespace

std::u16string UrlEncode(const std::u16string& text, const std::u16string& charset) {
  const auto& pct = PercentTable();
  std::u16string out;
  out.reserve(text.size() * 3);
  if (charset == u"utf-8") {
    for (size_t i = 0; i < text.size(); ++i) {
      uint32_t c = text[i];
      if (c < 0x80) {
        if (KeptInUtf8Branch(static_cast<char16_t>(c)))
          out += static_cast<char16_t>(c);
        else
          out += pct[c];
        continue;
      }
      if (c >= 0xD800 && c <= 0xDFFF) {
        // A surrogate pair is one character and one 4-byte sequence; halves encoded on
        // their own would be invalid UTF-8 that servers reject. A lone half has no
        // character to encode and becomes U+FFFD.
        if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
          ++i;
        } else {
          c = 0xFFFD;
        }
      }
      AppendUtf8Escaped(out, c);
    }
    return out;
  }
  for (unsigned char b : Utf16ToLocal(text)) {
    if (IsAsciiAlnum(b) || b == '/' || b == ':')
      out += static_cast<char16_t>(b);
    else
      out += pct[b];
  }
  return out;
}

std::u16string ReplaceAll(std::u16string text, const std::u16string& from,
                          const std::u16string& to) {
  if (from.empty()) return text;
  size_t pos = text.find(from);
  if (pos == std::u16string::npos) return text;
  std::u16string out;
  out.reserve(text.size());
  size_t last = 0;
  for (; pos != std::u16string::npos; pos = text.find(from, last)) {
    out.append(text, last, pos - last);
    out += to;
    last = pos + from.size();
  }
  out.append(text, last, std::u16string::npos);
  return out;
}

std::u16string HtmlEscape(const std::u16string& text) {
  std::u16string s = ReplaceAll(text, u"&", u"&amp;");
  s = ReplaceAll(std::move(s), u"\"", u"&quot;");
  s = ReplaceAll(std::move(s), u"<", u"&lt;");
  return ReplaceAll(std::move(s), u">", u"&gt;");
}

std::u16string HtmlUnescape(const std::u16string& text) {
  std::u16string s = ReplaceAll(text, u"&quot;", u"\"");
  s = ReplaceAll(std::move(s), u"&lt;", u"<");
  s = ReplaceAll(std::move(s), u"&gt;", u">");
  return ReplaceAll(std::move(s), u"&amp;", u"&");
}

std::u16string SqlEscape(const std::u16string& text) {
  std::u16string s = ReplaceAll(text, u"\\", u"\\\\");
  s = ReplaceAll(std::move(s), u"'", u"\\'");
  return ReplaceAll(std::move(s), u"\"", u"\\\"");
}

std::u16string CsvQuote(const std::u16string& text) {
  return ReplaceAll(ReplaceAll(text, u"\"", u"\"\""), u"\n", u"\"\n\"");
}

bool Split(const std::u16string& text, const std::u16string& delimiter,
           std::vector<std::u16string>& out, bool keepEmpty) {
  constexpr size_t kMaxPieces = 500000;
  out.clear();
  if (delimiter.empty()) return false;
  // Walking the text with the delimiter appended, as the rule syntax expects: a trailing
  // delimiter yields no extra piece unless empty pieces are kept.
  const std::u16string s = text + delimiter;
  for (size_t start = 0; start < s.size();) {
    size_t pos = s.find(delimiter, start);
    if (pos != start || keepEmpty) {
      if (out.size() == kMaxPieces) {
        out.clear();
        return false;
      }
      out.emplace_back(s, start, pos - start);
    }
    start = pos + delimiter.size();
  }
  return true;
}

int CountDelimiters(const std::u16string& text, const std::u16string& delimiter) {
  if (delimiter.empty()) return 0;
  int n = 0;
  for (size_t pos = text.find(delimiter); pos != std::u16string::npos;
       pos = text.find(delimiter, pos + delimiter.size()))
    ++n;
  return n;
}

bool CutBetween(const std::u16string& text, const std::u16string& start,
                const std::u16string& end, std::u16string& inner) {
  inner.clear();
  if (start.empty() && end.empty()) {
    inner = text;
    return false;
  }
  size_t a = text.find(start);
  if (a == std::u16string::npos) return false;
  a += start.size();
  size_t b = text.find(end, a);
  if (b == std::u16string::npos) return false;
  inner = text.substr(a, b - a);
  return true;
}

bool IsNumber(const std::u16string& text) {
  size_t i = (!text.empty() && text[0] == u'-') ? 1 : 0;
  if (i == text.size()) return false;  // "" and a lone "-" are not numbers
  for (; i < text.size(); ++i)
    if (text[i] < u'0' || text[i] > u'9') return false;
  return true;
}

int RandomBetween(int first, int second) {
  // Reseeding a small generator from a clock at every call (as once designed) repeats
  // values for calls close together; a per-thread generator seeded once from the
  // system's entropy gives independent draws in the same 0..32767 range.
  thread_local std::mt19937 engine{std::random_device{}()};
  const long long r = std::uniform_int_distribution<int>(0, 32767)(engine);
  const long long a = first, b = second;
  if (b != 0 && a == b) return 0;
  if (b != 0 && a == 0) return static_cast<int>(r % b);
  if (b == 0 && a == 0) return 0;
  if (a < b) return b == 0 ? 0 : static_cast<int>(r % b);  // b == 0 here would divide by zero
  return static_cast<int>(b + r % (a - b));
}

}  // namespace pcutil
