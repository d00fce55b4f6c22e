#include "publish/Template.h"

#include <ctime>
#include <mutex>
#include <random>
#include <vector>

#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "storage/ContentDatabase.h"

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;

size_t PublishRandomBelow(size_t n) {
  static std::mutex lock;
  static std::mt19937_64 engine{std::random_device{}()};
  if (n == 0) return 0;
  std::lock_guard guard(lock);
  return std::uniform_int_distribution<size_t>(0, n - 1)(engine);
}

std::u16string MakeLabelTag(const std::u16string& name) {
  if (name.size() < 6) return u"[DB:" + name + u"]";
  if (name.rfind(u"[DB:", 0) == 0 || name.back() == u']') return name;
  return u"[DB:" + name + u"]";
}

std::u16string FillLabelTags(const std::u16string& text,
                             const std::map<std::u16string, std::u16string>& fields) {
  std::vector<std::pair<std::u16string, const std::u16string*>> tags;
  for (const auto& [name, value] : fields) tags.emplace_back(MakeLabelTag(name), &value);
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const std::pair<std::u16string, const std::u16string*>* best = nullptr;
    if (text[i] == u'[')
      for (const auto& t : tags)
        if (text.compare(i, t.first.size(), t.first) == 0 &&
            (!best || t.first.size() > best->first.size()))
          best = &t;
    if (best) {
      out += *best->second;
      i += best->first.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

namespace {

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

// ---- html2Ubb ----

constexpr unsigned kCiGlobal = pcutil::CaseInsensitive | pcutil::Global;

void Rx(std::u16string& s, const char16_t* pattern, const char16_t* replacement) {
  pcutil::RegexReplace(s, pattern, kCiGlobal, replacement);
}

// Replaces the first match of the pattern only; false when there was none.
bool RxFirst(std::u16string& s, const char16_t* pattern, const std::u16string& replacement) {
  int n = 0;
  pcutil::RegexReplace(s, pattern, pcutil::CaseInsensitive, replacement, &n);
  return n > 0;
}

// Start and end tags of one element, matched without regard to case, in document order.
struct TagHit {
  size_t Pos;
  bool End;
  std::u16string Text;
};

std::u16string Lower(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

std::vector<TagHit> FindTags(const std::u16string& s, const std::u16string& name) {
  std::vector<TagHit> hits;
  const std::u16string lower = Lower(s);
  const std::u16string open = u"<" + name, close = u"</" + name + u">";
  for (size_t i = 0; i < lower.size(); ++i) {
    if (lower[i] != u'<') continue;
    if (lower.compare(i, close.size(), close) == 0) {
      hits.push_back({i, true, s.substr(i, close.size())});
    } else if (lower.compare(i, open.size(), open) == 0) {
      const size_t after = i + open.size();
      if (after < lower.size() && lower[after] != u'>' && lower[after] != u' ' &&
          lower[after] != u'/' && lower[after] != u'\t')
        continue;  // another element whose name starts the same
      const size_t end = lower.find(u'>', i);
      hits.push_back({i, false, s.substr(i, end == std::u16string::npos ? std::u16string::npos : end - i + 1)});
    }
  }
  return hits;
}

struct FontFlags {
  bool Face = false, Size = false, Color = false;
};

}  // namespace

std::u16string Html2Ubb(const std::u16string& html) {
  try {
    std::u16string s = ReplaceAll(html, u"\r\n", u"");
    s = ReplaceAll(s, u"\n", u"");
    s = ReplaceAll(s, u"\r", u"");

    // 1. coloured spans, code blocks
    Rx(s, u"<span[^>]*?style\\s*=\\s*[\"']?\\s*color\\s*:\\s*([^ '\";>]+)[^>]*>(.*?)</span>",
       u"[color=$1]$2[/color]");
    Rx(s, u"<div[^>]*?class\\s*=\\s*[\"']?htmlcode[\"']?[^>]*>(.*?)</div>", u"[code]$1[/code]");

    // 2. font tags: pair each end tag with the nearest open start tag
    std::vector<FontFlags> fontEnds;
    {
      std::vector<FontFlags> open;
      for (const TagHit& t : FindTags(s, u"font")) {
        if (!t.End) {
          const std::u16string l = Lower(t.Text);
          open.push_back({l.find(u"face") != std::u16string::npos,
                          l.find(u"size") != std::u16string::npos,
                          l.find(u"color") != std::u16string::npos});
        } else {
          FontFlags f;
          if (!open.empty()) {
            f = open.back();
            open.pop_back();
          }
          fontEnds.push_back(f);
        }
      }
    }

    // 3. scripts are shown as code
    Rx(s, u"<script([^>]*)>", u"<textarea$1>");
    Rx(s, u"</script>", u"</textarea>");

    // 4. attribute spelling
    s = ReplaceAll(s, u" = ", u"=");
    Rx(s, u"=[\"']", u"=");

    // 5. flash movies
    Rx(s, u"<param\\s+name=movie[^>]*?value=", u"<movie=");

    // 6. attributes that UBB has no use for (the terminating character goes with them)
    Rx(s, u" (border|target|classid|id|name|style|class|alt|title)=[^\"'>]*[\"'>]", u"");

    // 7. links
    struct Anchor {
      bool Mail;
      std::u16string Address;
    };
    std::vector<Anchor> anchors;
    for (const TagHit& t : FindTags(s, u"a")) {
      if (t.End) continue;
      const std::u16string l = Lower(t.Text);
      if (l.find(u"href") == std::u16string::npos) continue;
      const size_t m = l.find(u"mailto:");
      if (m != std::u16string::npos) {
        std::u16string addr;
        for (size_t i = m + 7; i < l.size() && l[i] != u'>' && l[i] != u' '; ++i)
          if (l[i] != u'"' && l[i] != u'\'') addr += l[i];
        anchors.push_back({true, addr});
      } else {
        anchors.push_back({false, u""});
      }
    }

    // 8. line breaks
    Rx(s, u"<br\\s*/?>", u"\r\n");
    Rx(s, u"<p(\\s[^>]*)?>", u"\r\n");

    // 9. blocks and lists
    Rx(s, u"<code(\\s[^>]*)?>", u"[code]");
    Rx(s, u"</code>", u"[/code]");
    Rx(s, u"<blockquote(\\s[^>]*)?>", u"[quote]");
    Rx(s, u"</blockquote>", u"[/quote]");
    Rx(s, u"<ul(\\s[^>]*)?>", u"[list]");
    Rx(s, u"<ol(\\s[^>]*)?>", u"[list=1]");
    Rx(s, u"</(ul|ol)>", u"[/list]");
    Rx(s, u"<li(\\s[^>]*)?>", u"[*]");

    // 10. images
    Rx(s, u"<img[^>]*?src=([^\"'>]*)[\"'][^>]*>", u"[img]$1[/img]");

    // 11. emphasis
    Rx(s, u"<(big|b|strong)(\\s[^>]*)?>", u"[b]");
    Rx(s, u"</(big|b|strong)>", u"[/b]");
    Rx(s, u"<u(\\s[^>]*)?>", u"[u]");
    Rx(s, u"</u>", u"[/u]");
    Rx(s, u"<i(\\s[^>]*)?>", u"[i]");
    Rx(s, u"</i>", u"[/i]");

    // 12. font faces
    Rx(s, u"(<font[^>]*?)\\s+face=[^ >\"']*[\"']?", u"$1");
    Rx(s, u"face=[^\"']*[\"']", u"");

    // 13. preformatted text
    Rx(s, u"<pre(\\s[^>]*)?>", u"[code]");
    Rx(s, u"</pre>", u"[/code]");
    Rx(s, u"<textarea(\\s[^>]*)?>", u"[code2]");
    Rx(s, u"</textarea>", u"[/code2]");

    // 14. tables
    Rx(s, u"<tr(\\s[^>]*)?>", u"\r\n");
    Rx(s, u"<(td|th)(\\s[^>]*)?>", u" ");
    Rx(s, u"</(tr|td|th)>", u" ");

    // 15. font size and colour openers
    Rx(s, u"<font\\s+size=", u"[size=");
    Rx(s, u"<font\\s+color=", u"[color=");
    Rx(s, u" color=", u"][color=");
    Rx(s, u" size=", u"][size=");

    // 16. font closers
    for (const FontFlags& f : fontEnds) {
      std::u16string closer;
      if (f.Color) closer += u"[/color]";
      if (f.Size) closer += u"[/size]";
      RxFirst(s, u"</font>", closer);
    }

    // 17. links
    for (const Anchor& a : anchors) {
      if (a.Mail) {
        RxFirst(s, u"<a\\s[^<]*</a>", a.Address);
      } else {
        RxFirst(s, u"<a\\s+href", u"[url");
        RxFirst(s, u"</a>", u"[/url]");
      }
    }

    // 18. everything else that is a tag goes
    Rx(s, u"<[^>]*>", u"");

    // 19. closing brackets
    s = ReplaceAll(s, u">", u"]");
    Rx(s, u"[\"']\\]", u"]");

    // 20. entities
    s = ReplaceAll(s, u"&nbsp;", u" ");
    s = ReplaceAll(s, u"&lt;", u"<");
    s = ReplaceAll(s, u"&gt;", u">");
    s = ReplaceAll(s, u"&amp;", u"&");
    s = ReplaceAll(s, u"&quot;", u"\"");
    s = ReplaceAll(s, u"&ldquo;", u"\u201c");
    s = ReplaceAll(s, u"&rdquo;", u"\u201d");
    return s;
  } catch (const std::exception&) {
    return u"";  // a conversion that cannot be carried out gives an empty value
  }
}

std::u16string ExpandPublishTemplate(const std::u16string& text, const ToData& item,
                                     const PublishTarget& target, const PublishModule* module,
                                     EscapeMode mode, const std::u16string& engine) {
  if (!module) return text;
  const std::u16string dbEngine = !engine.empty() ? engine
                                  : target.ModuleType == u"MySql" ? u"MySql"
                                                                   : target.ModuleType;
  auto escape = [&](const std::u16string& value) -> std::u16string {
    if (mode == Web) return pcutil::UrlEncode(value, target.Charset);
    if (mode == Database) return ContentDatabase::EscapeValue(value, dbEngine);
    return value;
  };

  std::u16string s = text;
  // Labels, in name order (the map's order).
  for (const auto& [name, value] : item.Fields) {
    const std::u16string tag = MakeLabelTag(name);
    if (s.find(tag) == std::u16string::npos) continue;
    std::u16string v = value;
    if (mode == Web && module->IsUBB != 0) v = Html2Ubb(v);
    s = ReplaceAll(s, tag, escape(v));
  }

  auto fields = item.Fields.find(u"PageUrl");
  s = ReplaceAll(s, u"[采集页面地址]", escape(fields == item.Fields.end() ? u"" : fields->second));

  auto replaceTime = [&](const char16_t* tag, const char16_t* format, auto pick) {
    if (s.find(tag) == std::u16string::npos) return;
    const std::tm tm = LocalNow();
    s = ReplaceAll(s, tag, escape(pick(tm, format)));
  };
  if (s.find(u"[当前时间]") != std::u16string::npos ||
      s.find(u"[Time:年-月-日 时:分:秒]") != std::u16string::npos) {
    const std::tm tm = LocalNow();
    const std::u16string now =
        escape(Format(u"%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec));
    s = ReplaceAll(s, u"[当前时间]", now);
    s = ReplaceAll(s, u"[Time:年-月-日 时:分:秒]", now);
  }
  replaceTime(u"[Time:年-月-日]", u"%04d-%02d-%02d", [](const std::tm& tm, const char16_t* f) {
    return Format(f, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  });
  replaceTime(u"[Time:年]", u"%04d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_year + 1900); });
  replaceTime(u"[Time:月]", u"%02d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_mon + 1); });
  replaceTime(u"[Time:日]", u"%02d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_mday); });
  replaceTime(u"[Time:时]", u"%02d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_hour); });
  replaceTime(u"[Time:分]", u"%02d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_min); });
  replaceTime(u"[Time:秒]", u"%02d",
              [](const std::tm& tm, const char16_t* f) { return Format(f, tm.tm_sec); });

  s = ReplaceAll(s, u"[自定义参数一]", escape(target.Param1));
  s = ReplaceAll(s, u"[自定义参数二]", escape(target.Param2));
  s = ReplaceAll(s, u"[分类名称]", escape(target.ListName));
  if (s.find(u"[分类ID]") != std::u16string::npos) {
    std::vector<std::u16string> ids;
    std::u16string chosen = target.ListId;
    if (pcutil::Split(target.ListId, u",", ids) && !ids.empty() && ids.size() <= 500000)
      chosen = ids[PublishRandomBelow(ids.size())];
    s = ReplaceAll(s, u"[分类ID]", escape(chosen));
  }
  s = ReplaceAll(s, u"[用户名]", escape(target.SqlUser));
  s = ReplaceAll(s, u"[密码]", escape(target.SqlPsw));
  if (s.find(u"[随机用户名]") != std::u16string::npos) {
    // A random pick leaves the shared module untouched (no in-place shuffle).
    const std::u16string user = module->RandUser.empty()
                                    ? target.SqlUser
                                    : module->RandUser[PublishRandomBelow(module->RandUser.size())];
    s = ReplaceAll(s, u"[随机用户名]", escape(user));
  }
  if (target.ModuleType != u"POST") s = ReplaceAll(s, u"数据表前缀", target.TablePre);
  return s;
}

}  // namespace rz
