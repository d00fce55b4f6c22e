#include "rewrite/Rules.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "collect/Links.h"
#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "patterns/Regex.h"
#include "xml/XmlFile.h"

namespace rz {

using pcutil::ReplaceAll;

namespace {

// The language numbers of the store's lists.
constexpr int kChinese = 0;
constexpr int kEnglish = 1;

// ---- synonym caches ----

struct SynonymSlot {
  std::mutex lock;  // held while loading, so one load serves every thread that waits
  std::shared_ptr<const SynonymList> list;
};

SynonymSlot& Slot(int language) {
  static SynonymSlot slots[2];
  return slots[language == kEnglish ? 1 : 0];
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\x3000' || c == u'\xa0';
}

std::u16string Trim(const std::u16string& text) {
  size_t a = 0, b = text.size();
  while (a < b && IsSpace(text[a])) ++a;
  while (b > a && IsSpace(text[b - 1])) --b;
  return text.substr(a, b - a);
}

std::u16string AsciiCase(std::u16string text, bool upper) {
  for (auto& c : text) {
    if (upper && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (!upper && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return text;
}

std::u16string Join(const std::vector<std::u16string>& parts, const std::u16string& between = u"") {
  std::u16string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += between;
    out += parts[i];
  }
  return out;
}

// Replaces every w (at `pos` in the group) by another word of the group, chosen uniformly.
void ReplaceWord(std::u16string& text, const SynonymGroup& group, size_t pos) {
  if (group.size() < 2) return;
  size_t k = static_cast<size_t>(RewriteRandomBelow(static_cast<int>(group.size() - 1)));
  if (k >= pos) ++k;
  text = ReplaceAll(std::move(text), group[pos], group[k]);
}

// A snippet source that is the name of a readable file: as given, then below the program folder.
bool ReadSourceFile(const std::u16string& source, std::u16string& text) {
  if (source.size() > 1024 || source.find_first_of(u"\r\n|") != std::u16string::npos) return false;
  for (const auto& path : {source, pcutil::ProgramPath(source)}) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(pcutil::ToFsPath(path), ec)) continue;
    std::u16string read;
    if (pcutil::ReadTextFile(path, read, pcutil::TextModeDetect) == 0) {
      text = std::move(read);
      return true;
    }
  }
  return false;
}

}  // namespace

// ---- synonyms ----

std::shared_ptr<const SynonymList> SynonymCache(int language) {
  SynonymSlot& slot = Slot(language);
  std::lock_guard<std::mutex> hold(slot.lock);
  if (slot.list) return slot.list;
  std::vector<std::u16string> errors;
  auto groups = LoadSynonyms(language, &errors);
  if (groups.empty()) {
    pcutil::WriteDiagnosticLog(u"读取同义词库失败！");
    return nullptr;
  }
  slot.list = std::make_shared<const SynonymList>(std::move(groups));
  return slot.list;
}

void ResetSynonymCaches() {
  for (int language : {0, 1}) {
    SynonymSlot& slot = Slot(language);
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.list.reset();
  }
}

void ReplaceSynonyms(std::u16string& text, const SynonymList& groups, bool oneWay) {
  for (const auto& group : groups) {
    if (group.size() < 2) continue;
    if (oneWay) {
      if (text.find(group[0]) != std::u16string::npos) ReplaceWord(text, group, 0);
      continue;
    }
    for (size_t i = 0; i < group.size(); ++i) {
      if (group[i].empty() || text.find(group[i]) == std::u16string::npos) continue;
      ReplaceWord(text, group, i);
      break;
    }
  }
}

bool ChineseSynonymRule(std::u16string& text) {
  auto list = SynonymCache(kChinese);
  if (!list) return false;
  ReplaceSynonyms(text, *list, false);
  return true;
}

bool EnglishSynonymRule(std::u16string& text, int mode) {
  auto list = SynonymCache(kEnglish);
  if (!list) return false;
  ReplaceSynonyms(text, *list, mode != 0);
  return true;
}

// ---- paragraphs ----

bool SplitParagraphs(const std::u16string& text, const std::u16string& separator, bool keep,
                     std::vector<std::u16string>& out) {
  out.clear();
  const std::u16string sep = separator.empty() ? std::u16string(u"</p>") : separator;
  const std::u16string lower = AsciiCase(sep, false), upper = AsciiCase(sep, true);
  if (text.empty()) return true;
  const std::u16string folded = ReplaceAll(text, upper, lower);
  if (!pcutil::Split(folded, lower, out)) return false;
  if (keep)
    for (auto& piece : out) piece += upper;
  return true;
}

bool ShuffleParagraphs(std::u16string& text, const std::u16string& separator) {
  std::vector<std::u16string> parts;
  if (!SplitParagraphs(text, separator, true, parts)) return false;
  for (size_t i = parts.size(); i > 1; --i)
    std::swap(parts[i - 1], parts[static_cast<size_t>(RewriteRandomBelow(static_cast<int>(i)))]);
  text = Join(parts);
  return true;
}

bool DeleteParagraphs(std::u16string& text, const std::u16string& separator, int count) {
  std::vector<std::u16string> parts;
  if (!SplitParagraphs(text, separator, true, parts)) return false;
  if (count < 0 || static_cast<size_t>(count) >= parts.size()) return true;
  for (int i = 0; i < count; ++i)
    parts.erase(parts.begin() + RewriteRandomBelow(static_cast<int>(parts.size())));
  text = Join(parts);
  return true;
}

bool InsertAfterParagraphs(std::u16string& text, const std::u16string& insert) {
  std::vector<std::u16string> parts;
  if (!SplitParagraphs(text, u"</p>", true, parts)) return false;
  size_t quota = std::max<size_t>(1, parts.size() / 10);
  std::u16string out;
  for (const auto& part : parts) {
    out += part;
    if (quota > 0 && RewriteRandomBelow(2) == 1) {
      out += insert;
      --quota;
    }
  }
  text = std::move(out);
  return true;
}

// ---- random line and sentence ----

bool RandomLine(std::u16string& text, const std::u16string& lines) {
  std::vector<std::u16string> list;
  if (!pcutil::Split(lines, u"\r\n", list)) return false;
  if (list.empty())
    text.clear();
  else if (list.size() == 1)
    text = lines;
  else
    text = list[static_cast<size_t>(RewriteRandomBelow(static_cast<int>(list.size())))];
  return true;
}

std::u16string EscapePattern(const std::u16string& text) {
  static const std::u16string special = u"\\^$.|?*+()[]{}";
  std::u16string out;
  for (char16_t c : text) {
    if (special.find(c) != std::u16string::npos) out += u'\\';
    out += c;
  }
  return out;
}

std::u16string SentenceMarkPattern(const std::u16string& marks) {
  std::vector<std::u16string> list;
  pcutil::Split(marks, u"|", list);
  std::u16string pattern;
  for (const auto& mark : list) {
    if (!pattern.empty()) pattern += u"|";
    pattern += u"(" + EscapePattern(mark) + u")";
  }
  return pattern;
}

bool RandomSentence(std::u16string& text, const std::u16string& label, int limit,
                    const std::u16string& marks, const RewriteFields* fields) {
  text.clear();
  std::u16string name = label;
  if (name.size() > 5) {
    if (name.rfind(u"[DB:", 0) == 0) name.erase(0, 4);
    if (!name.empty() && name.back() == u']') name.pop_back();
  }
  if (!fields) return true;
  auto found = fields->find(name);
  if (found == fields->end()) return true;
  const std::u16string pattern = SentenceMarkPattern(marks);
  std::vector<std::u16string> entries;
  if (pattern.empty()) {
    if (!found->second.empty()) entries.push_back(found->second);
  } else {
    try {
      pcutil::RegexSplit(entries, found->second, 0, pattern);
    } catch (const pcutil::RegexError&) {
      return true;
    }
  }
  // Entries alternate between a sentence and its mark; a sentence keeps its mark.
  std::vector<std::u16string> sentences;
  for (size_t i = 0; i < entries.size(); i += 2)
    sentences.push_back(entries[i] + (i + 1 < entries.size() ? entries[i + 1] : u""));
  if (sentences.empty()) return true;
  std::u16string sentence = sentences[static_cast<size_t>(RewriteRandomBelow(static_cast<int>(sentences.size())))];
  try {
    pcutil::RegexReplace(sentence, u"<[^>]*>", pcutil::Global, u"");
  } catch (const pcutil::RegexError&) {
  }
  sentence = Trim(sentence);
  if (limit > 0 && static_cast<size_t>(limit) < sentence.size()) sentence.resize(static_cast<size_t>(limit));
  text = std::move(sentence);
  return true;
}

// ---- snippets ----

bool InsertSnippets(std::u16string& text, const std::u16string& ruleId, int counter,
                    const std::u16string& sourceParam, const std::u16string& countParam,
                    const std::u16string& marks, const RewriteFields* fields) {
  int n = RuleNumber(countParam);
  if (sourceParam.empty() || text.empty()) return true;
  std::u16string source = sourceParam;

  if (source.find(u"KITE://") != std::u16string::npos || source.find(u"KITES://") != std::u16string::npos) {
    const bool utf8 = source.find(u"KITES://") != std::u16string::npos;
    // "KITES://" stands for an https address (it could not be fetched under its own scheme).
    std::u16string address = ReplaceAll(ReplaceAll(source, u"KITE://", u"http://"), u"KITES://", u"https://");
    std::u16string page;
    if (pcutil::FetchPage(address, page, utf8 ? u"utf-8" : u"gb2312") == 0) return false;
    source = std::move(page);
  } else {
    ReadSourceFile(source, source);
  }

  if (fields) {
    for (const auto& [name, value] : *fields)
      source = ReplaceAll(std::move(source), u"[DB:" + name + u"]", pcutil::HtmlEscape(pcutil::SqlEscape(value)));
    if (source.find(u"[百度相关关键字]") != std::u16string::npos) {
      auto title = fields->find(u"标题");
      std::u16string keywords = title != fields->end() ? title->second : std::u16string();
      const std::u16string titleText = keywords;
      if (!LookUpRelatedKeywords(u"|", keywords, 20, false)) keywords = titleText;
      source = ReplaceAll(std::move(source), u"[百度相关关键字]", keywords);
    }
  }

  std::vector<std::u16string> snippets;
  if (!pcutil::Split(source, u"|", snippets)) return false;
  if (snippets.empty()) return true;
  const size_t s = snippets.size();
  const bool byCounter = ruleId == u"1009";
  auto choose = [&]() -> const std::u16string& {
    const long long r = byCounter ? counter : RewriteRandom();
    return snippets[static_cast<size_t>(((r % static_cast<long long>(s)) + s) % s)];
  };

  if (ruleId == u"1005") {
    text = choose() + text;
    return true;
  }
  if (ruleId == u"1006") {
    text += choose();
    return true;
  }

  if (!marks.empty()) {
    std::vector<std::u16string> entries;
    try {
      pcutil::RegexSplit(entries, text, 0, SentenceMarkPattern(marks));
    } catch (const pcutil::RegexError&) {
      return false;
    }
    if (entries.empty()) return true;
    const int p = static_cast<int>(entries.size() / 2);
    if (n > p) n = p;
    for (int i = 0; i < n; ++i) {
      int f = RewriteRandomBetween(2 * p, 0);
      if (f % 2) --f;
      const std::u16string& snippet = choose();
      entries[static_cast<size_t>(ruleId == u"1012" ? f + 1 : f)] += snippet;
    }
    text = Join(entries);
    return true;
  }

  size_t u = 0;
  for (int i = 0; i < n; ++i) {
    const std::u16string& snippet = choose();
    if (u >= text.size()) break;
    const size_t p = static_cast<size_t>(
        RewriteRandomBetween(static_cast<int>(std::min<size_t>(text.size(), 0x7fffffff)), static_cast<int>(u)));
    text.insert(p, snippet);
    u = p + snippet.size();
  }
  return true;
}

// ---- related keywords ----

bool LookUpRelatedKeywords(const std::u16string& separator, std::u16string& text, int count,
                           bool append) {
  const KeywordSources sources = LoadKeywordSources(kChinese);
  std::vector<std::u16string> keywords;
  for (const auto& source : sources.Related) {
    if (source.Urls.empty()) continue;
    const std::u16string address =
        ReplaceAll(source.Urls.front(), u"[澜岳参数]", pcutil::UrlEncode(text, source.RealUrl));
    pcutil::CHttpClientSession http;
    http.UseGlobalUserAgent();
    if (http.Request(address, pcutil::kMethodGet, true) != 1) return false;
    const std::u16string page = http.DecodeBody(source.RealUrl);
    http.Close();
    std::vector<Link> links;
    try {
      ExtractLinks(CodeArea(source, page), address, links);
    } catch (const pcutil::RegexError&) {
      continue;  // a broken source rule yields nothing
    }
    for (const auto& link : links) keywords.push_back(Trim(link.Text));
    if (static_cast<long long>(keywords.size()) >= count) break;
  }
  if (count < 0) count = 0;
  if (keywords.size() > static_cast<size_t>(count)) keywords.resize(static_cast<size_t>(count));
  if (append) {
    for (const auto& k : keywords) text += separator + k;
  } else {
    text = Join(keywords, separator);
  }
  return true;
}

}  // namespace rz
