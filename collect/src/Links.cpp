#include "collect/Links.h"

#include "TextBits.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace rz {

using namespace collect_detail;
using pcutil::ReplaceAll;

namespace {

constexpr size_t npos = std::u16string::npos;

// Reads the attribute value that starts at `pos` (just after "="). A quoted value ends at its
// closing quote, an unquoted one at the first white space or ">". `after` receives the
// position just behind the value.
std::u16string AttributeValue(const std::u16string& page, size_t pos, size_t& after) {
  size_t p = pos;
  while (p < page.size() && IsBlank(page[p])) ++p;
  if (p < page.size() && (page[p] == u'"' || page[p] == u'\'')) {
    const char16_t quote = page[p];
    size_t close = page.find(quote, p + 1);
    size_t lt = page.find(u'<', p + 1);
    if (close != npos && (lt == npos || close < lt)) {
      after = close + 1;
      return Trim(page.substr(p + 1, close - p - 1));
    }
    ++p;  // unbalanced quote: read the rest like an unquoted value
  }
  size_t e = p;
  while (e < page.size() && !IsBlank(page[e]) && page[e] != u'>') ++e;
  after = e;
  return RemoveChar(page.substr(p, e - p), u'"');
}

// The link address as stored: no control characters, resolved, no apostrophes.
std::u16string CleanAddress(const std::u16string& value, const std::u16string& base) {
  std::u16string v = StripControls(value);
  if (v.empty()) return v;
  return RemoveChar(ResolveLink(v, base), u'\'');
}

bool HasScheme(const std::u16string& s) {
  size_t i = 0;
  if (s.empty() || !((s[0] >= u'a' && s[0] <= u'z') || (s[0] >= u'A' && s[0] <= u'Z'))) return false;
  for (i = 1; i < s.size(); ++i) {
    char16_t c = s[i];
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
              c == u'+' || c == u'.' || c == u'-';
    if (!ok) break;
  }
  return s.compare(i, 3, u"://") == 0;
}

// Anchor-like occurrences of `attr` ("href=" or "url="): the resolved address and link text.
void ScanAttribute(const std::u16string& page, const std::u16string& attr,
                   const std::u16string& base, size_t minLength, std::vector<Link>& out) {
  size_t pos = 0;
  while ((pos = page.find(attr, pos)) != npos) {
    size_t valueStart = pos + attr.size();
    size_t after = valueStart;
    std::u16string value = AttributeValue(page, valueStart, after);
    size_t tagEnd = page.find(u'>', after);
    pos = valueStart;
    std::u16string address = CleanAddress(value, base);
    if (address.empty() || address.size() <= minLength) continue;
    out.push_back({address, tagEnd == npos ? std::u16string() : LinkText(page, tagEnd + 1)});
  }
}

}  // namespace

std::u16string WildcardToPattern(const std::u16string& text,
                                 const std::vector<std::u16string>& protectedTokens) {
  std::u16string s = text;
  std::vector<std::u16string> keys;
  for (size_t i = 0; i < protectedTokens.size(); ++i) {
    keys.push_back(pcutil::Format(u"%s%05d", u"string_key_", static_cast<int>(i)));
    if (!protectedTokens[i].empty()) s = ReplaceAll(s, protectedTokens[i], keys.back());
  }
  static const std::u16string special = u"\\^[?+().$*|";
  std::u16string escaped;
  escaped.reserve(s.size() + 16);
  for (char16_t c : s) {
    if (special.find(c) != npos) escaped += u'\\';
    escaped += c;
  }
  for (size_t i = 0; i < protectedTokens.size(); ++i)
    if (!protectedTokens[i].empty()) escaped = ReplaceAll(escaped, keys[i], protectedTokens[i]);
  return escaped;
}

std::u16string FindBaseAddress(const std::u16string& page, const std::u16string& pageUrl) {
  std::vector<std::u16string> m;
  try {
    if (pcutil::RegexCapture(u"base href\\=(\"|')(.*?)(\"|'| )", page,
                             pcutil::CaseInsensitive | pcutil::SingleLine, m) &&
        m.size() >= 3) {
      std::u16string base = Trim(StripControls(m[2]));
      if (!base.empty()) return base;
    }
  } catch (const pcutil::RegexError&) {
    // A page the engine cannot scan for a base simply has none.
  }
  return pageUrl;
}

std::u16string CodeArea(const std::u16string& codeBegin, const std::u16string& codeEnd,
                        const std::u16string& page) {
  if (codeBegin.empty() && codeEnd.empty()) return page;
  std::u16string begin = Trim(ReplaceAll(codeBegin, u"(*)", u".*?"));
  std::u16string end = Trim(ReplaceAll(codeEnd, u"(*)", u".*?"));
  std::vector<std::u16string> m;
  if (!pcutil::RegexCapture(begin + u"(.*?)" + end, page,
                            pcutil::CaseInsensitive | pcutil::MultiLine | pcutil::SingleLine, m) ||
      m.size() < 2)
    return std::u16string();
  return m[1];
}

static std::u16string FilterPattern(const std::u16string& fragments) {
  return ReplaceAll(WildcardToPattern(fragments, {u"|", u"(*)"}), u"(*)", u".*?");
}

bool UrlAllowed(const std::u16string& mustUrls, const std::u16string& notUrls,
                const std::u16string& address) {
  std::vector<std::u16string> m;
  if (!mustUrls.empty() &&
      !pcutil::RegexCapture(FilterPattern(mustUrls), address, pcutil::CaseInsensitive, m))
    return false;
  if (!notUrls.empty() &&
      pcutil::RegexCapture(FilterPattern(notUrls), address, pcutil::CaseInsensitive, m))
    return false;
  return true;
}

std::u16string LinkText(const std::u16string& page, size_t pos) {
  if (pos >= page.size()) return std::u16string();
  size_t end = page.find(u"</a>", pos);
  size_t open = page.find(u"<a>", pos);
  if (open != npos && (end == npos || open < end) && open - pos > 1) end = open;
  size_t href = page.find(u"href=", pos);
  if (href != npos && (end == npos || href < end)) return std::u16string();
  std::u16string text = page.substr(pos, end == npos ? npos : end - pos);
  // Up to 500 tags are taken out; the rest stays as written.
  size_t at = 0;
  for (int removed = 0; removed < 500; ++removed) {
    size_t lt = text.find(u'<', at);
    if (lt == npos) break;
    size_t gt = text.find(u'>', lt + 1);
    if (gt == npos) break;
    text.erase(lt, gt - lt + 1);
    at = lt;
  }
  return text;
}

std::u16string ResolveLink(const std::u16string& link, const std::u16string& base) {
  // Any "scheme://" address is absolute; pcutil::ToAbsolute knows that too, but an empty
  // base must not turn it into something else either.
  if (HasScheme(link)) return link;
  return pcutil::ToAbsolute(link, base);
}

void ExtractLinks(const std::u16string& pageIn, const std::u16string& base,
                  std::vector<Link>& out) {
  const std::u16string page = ReplaceAll(pageIn, u"HREF=", u"href=");
  std::vector<Link> found;

  // Frame sources.
  size_t pos = 0;
  while ((pos = page.find(u"<frame", pos)) != npos) {
    size_t blockEnd = page.find(u"</frameset>", pos);
    if (blockEnd == npos) blockEnd = page.size();
    size_t src = pos;
    while ((src = page.find(u"src", src)) != npos && src < blockEnd) {
      size_t p = src + 3;
      src = p;
      while (p < blockEnd && IsBlank(page[p])) ++p;
      if (p >= blockEnd || page[p] != u'=') continue;
      size_t after = p + 1;
      std::u16string address = CleanAddress(AttributeValue(page, p + 1, after), base);
      if (address.size() > 5) found.push_back({address, std::u16string()});
    }
    pos = blockEnd;
  }

  // Anchors.
  ScanAttribute(page, u"href=", base, 0, found);

  // Few anchors: the page may name its targets in "url=" (refresh tags, script calls).
  if (found.size() < 5) ScanAttribute(page, u"url=", base, 5, found);

  out.insert(out.end(), found.begin(), found.end());
}

std::u16string DecodeCharRefs(const std::u16string& text) {
  static const struct {
    const char16_t* name;
    char16_t c;
  } kNamed[] = {{u"&quot;", u'"'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&amp;", u'&'}};
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'&') {
      out += text[i++];
      continue;
    }
    bool done = false;
    for (const auto& n : kNamed) {
      std::u16string name(n.name);
      if (text.compare(i, name.size(), name) == 0) {
        out += n.c;
        i += name.size();
        done = true;
        break;
      }
    }
    if (done) continue;
    if (i + 2 < text.size() && text[i + 1] == u'#') {
      size_t p = i + 2;
      bool hex = p < text.size() && (text[p] == u'x' || text[p] == u'X');
      if (hex) ++p;
      unsigned long cp = 0;
      size_t digits = 0;
      while (p < text.size() && digits < 8) {
        char16_t c = text[p];
        int d = -1;
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
        if (d < 0) break;
        cp = cp * (hex ? 16 : 10) + d;
        ++p;
        ++digits;
      }
      if (digits > 0 && p < text.size() && text[p] == u';' && cp <= 0x10FFFF &&
          !(cp >= 0xD800 && cp <= 0xDFFF)) {
        pcutil::AppendUtf16(out, static_cast<char32_t>(cp));
        i = p + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::vector<std::u16string> ListPageLinks(const ListRule& rule, const std::u16string& page,
                                          const std::u16string& pageUrl) {
  const std::u16string base = FindBaseAddress(page, pageUrl);
  const std::u16string area = CodeArea(rule.CodeBegin, rule.CodeEnd, page);
  std::vector<std::u16string> raw;
  if (rule.IsByHand != 0) {
    // An empty manual pattern would match between every two characters: no links.
    if (!rule.UrlJs.empty()) {
      std::u16string pattern = WildcardToPattern(rule.UrlJs, {u"(*)", u"[参数]"});
      pattern = ReplaceAll(ReplaceAll(pattern, u"(*)", u".*?"), u"[参数]", u"(.*?)");
      const size_t n = static_cast<size_t>(pcutil::CountDelimiters(rule.UrlJs, u"[参数]"));
      std::vector<std::u16string> m;
      pcutil::RegexCapture(pattern, area,
                           pcutil::CaseInsensitive | pcutil::SingleLine | pcutil::Global |
                               pcutil::AllCaptures,
                           m);
      if (m.size() % (n + 1) == 0) {
        for (size_t at = 0; at < m.size(); at += n + 1) {
          std::u16string url = rule.RealUrl;
          for (size_t g = 1; g <= n; ++g)
            url = ReplaceAll(url, pcutil::Format(u"[参数%d]", static_cast<int>(g)), m[at + g]);
          raw.push_back(url);
        }
      }
    }
  } else {
    std::vector<Link> links;
    ExtractLinks(area, base, links);
    for (auto& l : links) raw.push_back(std::move(l.Url));
  }
  std::vector<std::u16string> out;
  for (auto& address : raw) {
    std::u16string a = ReplaceAll(address, u"target=_blank", u"");
    if (!UrlAllowed(rule.MustUrls, rule.NotUrls, a)) continue;
    a = StripControls(DecodeCharRefs(a));
    if (!a.empty()) out.push_back(a);
    pcutil::YieldPause();
  }
  return out;
}

}  // namespace rz
