#include "collect/KeyWordThread.h"

#include <algorithm>

#include "collect/Links.h"
#include "collect/ListPage.h"
#include "collect/ListUrl.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "patterns/Regex.h"

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;

namespace {

std::u16string Trimmed(const std::u16string& text) {
  auto space = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\x3000' || c == u'\xa0';
  };
  size_t a = 0, b = text.size();
  while (a < b && space(text[a])) ++a;
  while (b > a && space(text[b - 1])) --b;
  return text.substr(a, b - a);
}

bool Matches(const std::u16string& rule, const std::u16string& candidate) {
  const std::u16string pattern =
      ReplaceAll(WildcardToPattern(rule, {u"|", u"(*)"}), u"(*)", u".*?");
  std::vector<std::u16string> found;
  return pcutil::RegexCaptureOdd(pattern, candidate, pcutil::CaseInsensitive, found);
}

std::u16string HostOf(const std::u16string& address) {
  pcutil::HttpAddress parsed;
  return pcutil::ParseHttpAddress(address, parsed) ? parsed.Host : std::u16string();
}

}  // namespace

std::vector<ListRule> SelectedRelatedSources(bool chinese, bool english) {
  std::vector<ListRule> out;
  if (chinese)
    for (auto& s : LoadKeywordSources(LanguageChinese).Related) out.push_back(std::move(s));
  if (english)
    for (auto& s : LoadKeywordSources(LanguageEnglish).Related) out.push_back(std::move(s));
  return out;
}

std::vector<KeywordContentSource> SelectedContentSources(bool chinese, bool english) {
  std::vector<KeywordContentSource> out;
  if (chinese)
    for (auto& s : LoadKeywordSources(LanguageChinese).Content) out.push_back(std::move(s));
  if (english)
    for (auto& s : LoadKeywordSources(LanguageEnglish).Content) out.push_back(std::move(s));
  return out;
}

bool KeywordAllowed(const std::u16string& candidate, const std::u16string& mustKeyword,
                    const std::u16string& notKeyword) {
  try {
    if (!mustKeyword.empty() && !Matches(mustKeyword, candidate)) return false;
    if (!notKeyword.empty() && Matches(notKeyword, candidate)) return false;
  } catch (const pcutil::RegexError&) {
    return false;  // a filter the engine refuses lets nothing through
  }
  return true;
}

std::vector<std::u16string> SplitKeywords(const std::u16string& keywords) {
  std::vector<std::u16string> list;
  pcutil::Split(keywords, u"\r\n", list);
  return list;
}

std::u16string JoinKeywords(const std::vector<std::u16string>& keywords) {
  std::u16string out;
  for (size_t i = 0; i < keywords.size(); ++i) {
    if (i) out += u"\r\n";
    out += keywords[i];
  }
  return out;
}

CKeyWordThread::~CKeyWordThread() { StopAndWait(); }

int CKeyWordThread::StartKeywords(bool chineseSources, bool englishSources, const KeywordRex& settings) {
  settings_ = settings;
  sources_ = SelectedRelatedSources(chineseSources, englishSources);
  queue_.Clear();
  const auto keywords = SplitKeywords(settings.Keywords);
  for (const auto& k : keywords) queue_.Push(k);
  const uint64_t serial = ++serial_;
  StartPool(1, [this, serial](uint32_t) { Work(serial); });
  return static_cast<int>(keywords.size());
}

void CKeyWordThread::Work(uint64_t serial) {
  while (IsRunning.load() && serial_.load() == serial) {
    std::u16string keyword;
    if (!queue_.Pop(keyword)) break;
    RelatedKeywords(keyword);
    pcutil::UnitPause();
  }
}

int CKeyWordThread::RelatedKeywords(const std::u16string& keyword) {
  for (const auto& source : sources_) {
    if (source.Urls.empty()) continue;
    const std::u16string address =
        ReplaceAll(source.Urls.front(), u"[澜岳参数]", pcutil::UrlEncode(keyword, source.RealUrl));
    pcutil::CHttpClientSession http;
    http.UseGlobalUserAgent();
    if (http.Request(address, pcutil::kMethodGet, true) != 1) {
      ToData failed;
      failed.ResultCode = 0;
      failed.Text = kKeywordLookupFailed;
      OnKeywords.Emit(failed);
      return 0;
    }
    const std::u16string page = http.DecodeBody(source.RealUrl);
    http.Close();
    ToData found;
    found.ResultCode = 1;
    found.Text = address;
    std::vector<Link> links;
    try {
      ExtractLinks(CodeArea(source, page), address, links);
    } catch (const pcutil::RegexError&) {
      links.clear();  // a source whose area pattern is broken finds nothing
    }
    for (const auto& link : links) {
      const std::u16string candidate = Trimmed(link.Text);
      if (KeywordAllowed(candidate, settings_.MustKeyword, settings_.NotKeyword))
        found.Links.push_back(candidate);
    }
    OnKeywords.Emit(found);
  }
  return 1;
}

KeywordMerge MergeFoundKeywords(std::vector<std::u16string>& list, const ToData& found,
                                int maxKeyword, bool chineseSources) {
  KeywordMerge merge;
  for (const auto& candidate : found.Links) {
    if (std::find(list.begin(), list.end(), candidate) != list.end()) {
      merge.LogLines.push_back(Format(u"关键词“%s”重复出现！已被排除！", candidate));
      merge.Outcomes.push_back(0);
      merge.FailCount += 1;
    } else if (maxKeyword != 0 && static_cast<long long>(list.size()) >= maxKeyword) {
      merge.LogLines.push_back(Format(u"关键词采集达到每次采集相关关键词数量上限%d条！", maxKeyword));
      merge.Outcomes.push_back(2);
      merge.LimitReached = true;
      break;
    } else if (chineseSources) {
      list.push_back(candidate);
      merge.LogLines.push_back(Format(u"关键词“%s”添加成功！\r\n", candidate));
      merge.Outcomes.push_back(1);
      merge.OkCount += 1;
    } else {
      merge.LogLines.push_back(
          Format(u"关键词“%s”添加失败（您未选择采集中文源，过滤此关键词）！\r\n", candidate));
      merge.Outcomes.push_back(0);
      merge.FailCount += 1;
    }
  }
  return merge;
}

CKeywordStep::~CKeywordStep() {
  // No more reports, then let a running look-up end while the members are still here.
  DisconnectAll();
  Worker.StopAll();
}

int CKeywordStep::Start(const JobRulePtr& rule, bool saveRule) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    rule_ = rule;
    saveRule_ = saveRule;
    list_ = SplitKeywords(rule->KeywordRex.Keywords);
    counts_ = Counts();
  }
  DisconnectAll();
  Worker.OnKeywords.Connect(this, &CKeywordStep::OnKeywords);
  Worker.OnAllDone.Connect(this, &CKeywordStep::OnWorkerDone);
  if (Report) Report(kKeywordStepStart, Snapshot());
  const int total = Worker.StartKeywords(rule->EnableChinaSrc != 0, rule->EnableEnglishSrc != 0,
                                         rule->KeywordRex);
  std::lock_guard<std::mutex> hold(lock_);
  counts_.TotalCount = total;
  return total;
}

CKeywordStep::Counts CKeywordStep::Snapshot() {
  std::lock_guard<std::mutex> hold(lock_);
  return counts_;
}

void CKeywordStep::OnKeywords(ToData& found) {
  std::vector<std::pair<std::u16string, Counts>> lines;
  bool limit = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    counts_.DoneCount += 1;
    int maxKeyword = 0;
    for (char16_t c : rule_->KeywordRex.MaxKeyWord) {
      if (c < u'0' || c > u'9' || maxKeyword > 100000000) break;
      maxKeyword = maxKeyword * 10 + (c - u'0');
    }
    KeywordMerge merge = MergeFoundKeywords(list_, found, maxKeyword, rule_->EnableChinaSrc != 0);
    // The counters move with each line, as the runner's report shows them.
    Counts running = counts_;
    for (size_t i = 0; i < merge.LogLines.size(); ++i) {
      if (merge.Outcomes[i] == 1) running.OkCount += 1;
      if (merge.Outcomes[i] == 0) running.FailCount += 1;
      lines.emplace_back(merge.LogLines[i], running);
    }
    counts_ = running;
    limit = merge.LimitReached;
  }
  if (Report)
    for (const auto& [line, counts] : lines) Report(line, counts);
  if (limit) Worker.Stop();
}

void CKeywordStep::OnWorkerDone() {
  Counts counts;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const std::u16string joined = JoinKeywords(list_);
    if (rule_ && joined != rule_->KeywordRex.Keywords) {
      rule_->KeywordRex.Keywords = joined;
      if (saveRule_) SaveJobRule(*rule_);
    }
    counts = counts_;
  }
  if (Report) Report(Format(kKeywordStepDone, counts.OkCount), counts);
  if (Finished) Finished();
}

int FeedKeywordContent(const JobRule& job, const std::function<bool(const std::u16string& urlKey)>& known,
                       const std::function<void(ListUrlData&)>& emit, const std::atomic<int32_t>* running) {
  auto goOn = [&] { return !running || running->load() != 0; };
  const auto sources = SelectedContentSources(job.EnableChinaSrc != 0, job.EnableEnglishSrc != 0);
  int units = 0;
  for (const auto& keyword : SplitKeywords(job.KeywordRex.Keywords)) {
    for (const auto& source : sources) {
      std::vector<std::u16string> addresses;
      for (const auto& item : source.List.Urls) ExpandListUrl(item, addresses, 0);
      for (const auto& pattern : addresses) {
        if (!goOn()) return units;
        const std::u16string address =
            ReplaceAll(pattern, u"[澜岳参数]", pcutil::UrlEncode(keyword, source.List.RealUrl));
        std::u16string charset = source.List.RealUrl.empty() ? u"自动识别" : source.List.RealUrl;
        ToData page;
        if (ParseListPage(source.List, charset, address, page) != 1) continue;  // skipped
        ListUrlData unit;
        unit.Content = source.Content;
        unit.Charset = job.Charset;
        for (auto link : page.Links) {
          if (HostOf(link) == kBlogSearchHost) {
            const size_t cut = link.find(u"&ad1=");
            if (cut != std::u16string::npos) link.resize(cut);
          }
          if (known && known(pcutil::UrlKey(link))) continue;
          unit.Pages.push_back({link, u""});
        }
        emit(unit);
        ++units;
      }
    }
  }
  return units;
}

}  // namespace rz
