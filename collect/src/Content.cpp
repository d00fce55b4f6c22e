#include "collect/Content.h"

#include <algorithm>

#include "TextBits.h"
#include "collect/Links.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace rz {

using namespace collect_detail;
using pcutil::ReplaceAll;

namespace {

constexpr unsigned kAreaFlags = pcutil::CaseInsensitive | pcutil::MultiLine | pcutil::SingleLine;
constexpr unsigned kAllMatches = kAreaFlags | pcutil::Global | pcutil::AllCaptures;

std::u16string MessageText(const ContentContext& ctx, const std::u16string& key) {
  return ctx.Message ? ctx.Message(key) : key;
}

// Literal rule text with "(*)" for any text, as pattern text.
std::u16string LiteralPattern(const std::u16string& text) {
  return Trim(ReplaceAll(WildcardToPattern(text, {u"(*)"}), u"(*)", u".*?"));
}

// Number of entries per match of `pattern` (whole match + groups), from its first match.
size_t EntriesPerMatch(const std::u16string& pattern, const std::u16string& subject,
                       unsigned flags) {
  std::vector<std::u16string> first;
  if (!pcutil::RegexCapture(pattern, subject, flags & ~(pcutil::Global | pcutil::AllCaptures),
                            first))
    return 0;
  return first.size();
}

bool Contains(const std::vector<std::u16string>& list, const std::u16string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

}  // namespace

std::u16string PatternErrorLine(const std::u16string& what, const pcutil::RegexError& error,
                                const std::u16string& pageUrl) {
  const std::u16string reason = pcutil::Utf8ToUtf16(error.what());
  const std::u16string format =
      error.Offset() < 0
          ? u"<font color=\"red\">采内容--%s匹配超出了正则引擎的限制(%s)，已跳过该文章：<a href=\"%s\" target=\"_blank\">%s</a></font>"
          : u"<font color=\"red\">采内容--%s的正则表达式有误(%s)，已跳过该文章：<a href=\"%s\" target=\"_blank\">%s</a></font>";
  return pcutil::Format(format, what, reason, pageUrl, pageUrl);
}

int ContentGroupIndex(const std::u16string& contentByRex) {
  const size_t marker = contentByRex.find(u"?<content>");
  if (marker == std::u16string::npos) return 0;
  int g = 0;
  for (size_t i = 0; i < marker; ++i)
    if (contentByRex[i] == u'(' && (i == 0 || contentByRex[i - 1] != u'\\')) ++g;
  return g;
}

std::vector<std::u16string> LabelRawValues(const LabelRule& label, const std::u16string& page) {
  std::vector<std::u16string> values;
  std::vector<std::u16string> m;
  switch (label.ContentRizedeType) {
    case 1: {
      if (label.ContentByRex.empty()) break;
      // Counted after the wildcard is gone: "(*)" is not a group.
      std::u16string pattern = Trim(ReplaceAll(label.ContentByRex, u"(*)", u".*?"));
      const size_t g = static_cast<size_t>(ContentGroupIndex(pattern));
      pattern = ReplaceAll(ReplaceAll(pattern, u"\r\n", u"\n"), u"?<content>", u"");
      const size_t stride = EntriesPerMatch(pattern, page, kAreaFlags);
      if (stride == 0 || !pcutil::RegexCapture(pattern, page, kAllMatches, m)) break;
      if (m.size() % stride != 0) break;
      for (size_t at = 0; at < m.size(); at += stride)
        values.push_back(g < stride ? m[at + g] : std::u16string());
      break;
    }
    case 2: {
      if (label.ContentRexText.empty()) break;
      const size_t n = static_cast<size_t>(pcutil::CountDelimiters(label.ContentRexText, u"[参数]"));
      std::u16string pattern = WildcardToPattern(label.ContentRexText, {u"(*)", u"[参数]"});
      pattern = ReplaceAll(ReplaceAll(pattern, u"(*)", u".*?"), u"[参数]", u"(.*?)");
      if (!pcutil::RegexCapture(pattern, page, kAllMatches, m) || m.size() % (n + 1) != 0) break;
      for (size_t at = 0; at < m.size(); at += n + 1) {
        std::u16string v = label.ContentRexRet;
        for (size_t i = 1; i <= n; ++i)
          v = ReplaceAll(v, pcutil::Format(u"[参数%d]", static_cast<int>(i)), m[at + i]);
        values.push_back(v);
      }
      break;
    }
    default: {
      if (label.StartStr.empty() || label.EndStr.empty()) break;
      const std::u16string pattern =
          LiteralPattern(label.StartStr) + u"(.*?)" + LiteralPattern(label.EndStr);
      if (!pcutil::RegexCapture(pattern, page, kAllMatches, m) || m.size() % 2 != 0) break;
      for (size_t at = 0; at < m.size(); at += 2) values.push_back(m[at + 1]);
      break;
    }
  }
  return values;
}

bool PostProcessValue(const LabelRule& label, const ContentRule& content,
                      const ContentContext& ctx, const std::u16string& pageUrl,
                      const std::u16string& base, std::u16string& value, ToData& item) {
  value = ApplyReplacements(value, label.RegexReplace);
  value = ApplyTagFilters(value, label.HtmlTags);
  std::vector<std::u16string> m;
  if (!label.LabelContentMust.empty() &&
      !pcutil::RegexCapture(label.LabelContentMust, value, pcutil::CaseInsensitive, m)) {
    item.Text = pcutil::Format(MessageText(ctx, u"LogDownloadContentMust"), label.LabelName,
                               pageUrl, pageUrl);
    return false;
  }
  if (!label.LabelContentForbid.empty() &&
      pcutil::RegexCapture(label.LabelContentForbid, value, pcutil::CaseInsensitive, m)) {
    item.Text = pcutil::Format(MessageText(ctx, u"LogDownloadContentForbid"), label.LabelName,
                               pageUrl, pageUrl);
    return false;
  }
  if (label.ToAbsolute != 0) value = RewriteLinks(value, base);
  if (label.DownImg != 0 || label.DownSwf != 0) {
    const std::u16string folder =
        content.BaseDir.empty() ? pcutil::ProgramPath(u"DB/" + ctx.JobId) : content.BaseDir;
    std::vector<DownloadFileRow> scratch;
    // Flash files go to the image folder as well; FlashDir is only shown.
    if (label.DownImg != 0)
      value = DownloadReferences(ctx.Files, value, pageUrl, label.Id, ReferenceKind::Image,
                                 label.SaveFileFormat, folder, content.ImageDir,
                                 ctx.ImageRows ? *ctx.ImageRows : scratch);
    if (label.DownSwf != 0)
      value = DownloadReferences(ctx.Files, value, pageUrl, label.Id, ReferenceKind::Flash,
                                 label.SaveFileFormat, folder, content.ImageDir,
                                 ctx.FlashRows ? *ctx.FlashRows : scratch);
  }
  return true;
}

bool StoreLabelValue(const LabelRule& label, std::vector<std::u16string>& list,
                     const std::u16string& value) {
  if (label.LabelLoop == 1) {
    list.push_back(value);
    return true;
  }
  if (label.LabelLoop == 2) {
    if (list.empty())
      list.push_back(value);
    else
      list[0] += label.MultiPageSplit + value;
    return true;
  }
  if (list.empty()) {
    list.push_back(value);
  } else if (label.EnableMultiPage != 0) {
    list[0] += label.MultiPageSplit + value;
  }
  return false;
}

int ExtractLabels(const std::u16string& page, const std::u16string& pageUrl,
                  const ContentRule& content, const ContentContext& ctx, LabelValues& values,
                  ToData& item) {
  pcutil::UnitPause();
  if (content.LabelRex.empty()) {
    item.Text = pcutil::Format(MessageText(ctx, u"LogDownloadContentNoLabel"), pageUrl, pageUrl);
    return 0;
  }
  const std::u16string base = FindBaseAddress(page, pageUrl);
  for (const auto& label : content.LabelRex) {
    pcutil::UnitPause();
    try {
      std::vector<std::u16string>& list = values[label.LabelName];
      for (auto value : LabelRawValues(label, page)) {
        if (!PostProcessValue(label, content, ctx, pageUrl, base, value, item)) continue;
        if (!StoreLabelValue(label, list, value)) break;
      }
    } catch (const pcutil::RegexError& e) {
      // A broken rule costs this item only; the run goes on with the next one.
      item.Text = PatternErrorLine(pcutil::Format(u"标签[%s]", label.LabelName), e, pageUrl);
      return -1;
    }
  }
  pcutil::UnitPause();
  return 1;
}

bool MultiPageArticleId(const MultiPageRule& rule, const std::u16string& articleUrl,
                        std::u16string& id) {
  if (rule.GatherFormat.empty()) return false;
  std::u16string pattern = WildcardToPattern(rule.GatherFormat, {u"<%id%>", u"(*)"});
  pattern = Trim(ReplaceAll(ReplaceAll(pattern, u"<%id%>", u"(.*?)"), u"(*)", u"(.*?)"));
  std::vector<std::u16string> m;
  if (!pcutil::RegexCapture(pattern, articleUrl, pcutil::CaseInsensitive, m) || m.size() % 2 != 0)
    return false;
  id = m[1];
  return true;
}

std::u16string MultiPageAddress(const MultiPageRule& rule, const std::u16string& id,
                                long long counter) {
  return ReplaceAll(ReplaceAll(rule.UrlFormat, u"<%step%>", pcutil::Format(u"%ld", static_cast<long>(counter))),
                    u"<%id%>", id);
}

std::vector<std::u16string> PaginationAddresses(const MultiPageRule& rule,
                                                const std::u16string& page,
                                                const std::u16string& articleUrl) {
  std::vector<std::u16string> out;
  std::vector<std::u16string> m;
  const std::u16string pattern = LiteralPattern(rule.Start) + u"(.*?)" + LiteralPattern(rule.End);
  if (!pcutil::RegexCapture(pattern, page, pcutil::CaseInsensitive | pcutil::SingleLine, m) ||
      m.size() % 2 != 0)
    return out;
  const std::u16string area = m[1];
  const std::u16string base = FindBaseAddress(page, articleUrl);
  auto take = [&](const std::u16string& raw) {
    std::u16string a = StripControls(DecodeCharRefs(ResolveLink(raw, articleUrl)));
    if (a.empty() || a.find(rule.MustUrl) == std::u16string::npos) return;
    out.push_back(a);
  };
  std::vector<Link> links;
  ExtractLinks(area, base, links);
  for (const auto& l : links) take(l.Url);
  std::vector<std::u16string> bare;
  if (pcutil::RegexCapture(
          u"(https?|ftp|file)://[-A-Z0-9+&@#/%?=~_|!:,.;]*[-A-Z0-9+&@#/%=~_|]", area,
          pcutil::CaseInsensitive | pcutil::Global | pcutil::AllCaptures, bare))
    for (size_t i = 0; i + 1 < bare.size(); i += 2) take(bare[i]);
  return out;
}

int CollectFurtherPages(const std::u16string& articlePage, const std::u16string& articleUrl,
                        const std::u16string& charset, const ContentRule& content,
                        const ContentContext& ctx, LabelValues& values,
                        std::vector<std::u16string>& visited, ToData& item) {
  const MultiPageRule& rule = content.MultiPage;
  int last = 1;
  try {
    if (rule.MultiPageType == 1) {
      if (rule.StartId.empty() || LeadingInt(rule.Step) == 0) return last;
      std::u16string id;
      if (!MultiPageArticleId(rule, articleUrl, id)) return last;
      std::u16string text = articlePage;  // a failed download leaves the last page text here
      long long counter = LeadingInt(rule.StartId);
      int failures = 0;
      bool seenVisited = false;
      for (int pages = 0; pages < kMaxFurtherPages; ++pages, ++counter) {
        const std::u16string address = MultiPageAddress(rule, id, counter);
        if (Contains(visited, address)) {
          if (seenVisited) break;
          seenVisited = true;
          continue;
        }
        if (failures > 3) break;
        std::u16string fetched;
        const int status = ctx.Fetch ? ctx.Fetch(address, charset, fetched) : 0;
        if (status != 0) text = fetched;
        if (!rule.MustContent.empty() && text.find(rule.MustContent) == std::u16string::npos)
          break;
        if (status == 200) {
          visited.push_back(address);
          last = ExtractLabels(text, address, content, ctx, values, item);
          if (last < 0) return last;
        } else {
          ++failures;
        }
      }
    } else if (rule.MultiPageType == 2) {
      for (const auto& address : PaginationAddresses(rule, articlePage, articleUrl)) {
        if (Contains(visited, address)) continue;
        visited.push_back(address);
        std::u16string text;
        if (ctx.Fetch && ctx.Fetch(address, charset, text) == 200) {
          last = ExtractLabels(text, address, content, ctx, values, item);
          if (last < 0) return last;
        }
      }
    }
  } catch (const pcutil::RegexError& e) {
    item.Text = PatternErrorLine(u"分页规则", e, articleUrl);
    return -1;
  }
  return last;
}

std::vector<ToData> BuildItems(const ToData& pageItem, const ContentRule& content,
                               const LabelValues& values) {
  size_t k = 1;
  for (const auto& [name, list] : values) k = std::max(k, list.size());
  std::vector<ToData> items;
  for (size_t i = 0; i < k; ++i) {
    ToData item = pageItem;
    for (const auto& label : content.LabelRex) {
      auto it = values.find(label.LabelName);
      std::u16string v;
      if (it != values.end() && !it->second.empty())
        v = i < it->second.size() ? it->second[i] : it->second[0];
      item.Fields[label.LabelName] = v;
    }
    for (const auto& label : content.LabelRex) {
      if (static_cast<long long>(item.Fields[label.LabelName].size()) < label.LabelNotNull) {
        const std::u16string& url = item.Fields[u"PageUrl"];
        item.Text = pcutil::Format(
            u"<font color=\"red\">采集内容标签[%s]不得为空,自动过滤该文章。<a href=\"%s\" target=\"_blank\">%s</a></font>",
            label.LabelName, url, url);
        item.ResultCode = 12;
      }
    }
    items.push_back(std::move(item));
  }
  return items;
}

int CollectPage(const std::u16string& rowId, const std::u16string& pageUrl,
                const std::u16string& charset, const ContentRule& content,
                const ContentContext& ctx, std::vector<ToData>& items,
                std::vector<std::u16string>& visited) {
  ToData item;
  item.Fields[u"PageUrl"] = pageUrl;
  if (!rowId.empty()) item.Fields[u"ID"] = rowId;
  std::u16string page;
  const int status = ctx.Fetch ? ctx.Fetch(pageUrl, charset, page) : 0;
  if (status != 200) {
    item.Text = pcutil::Format(MessageText(ctx, u"LogDownloadContentFail"), pageUrl, pageUrl);
    item.ResultCode = 0;
    pcutil::UnitPause();
    items.push_back(std::move(item));
    return 0;
  }
  pcutil::PauseMs(1);
  LabelValues values;
  for (const auto& label : content.LabelRex) values[label.LabelName];
  visited.push_back(pageUrl);
  int r = ExtractLabels(page, pageUrl, content, ctx, values, item);
  if (r > 0) r = CollectFurtherPages(page, pageUrl, charset, content, ctx, values, visited, item);
  if (r <= 0) {
    item.ResultCode = 0;
    pcutil::UnitPause();
    items.push_back(std::move(item));
    return 0;
  }
  std::vector<ToData> built = BuildItems(item, content, values);
  pcutil::UnitPause();
  items.insert(items.end(), built.begin(), built.end());
  return 1;
}

}  // namespace rz
