#include "rewrite/Rewrite.h"

#include <atomic>
#include <mutex>
#include <random>

#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "rewrite/Plugins.h"
#include "rewrite/Rules.h"
#include "rewrite/Translate.h"

namespace rz {

namespace {

std::atomic<int> g_rewriteCount{0};

struct RandomSource {
  std::mutex lock;
  std::mt19937 engine{std::random_device{}()};
};

RandomSource& Random() {
  static RandomSource source;
  return source;
}

bool EndsWith(const std::u16string& text, const std::u16string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Contains(const std::u16string& text, const char16_t* part) {
  return text.find(part) != std::u16string::npos;
}

}  // namespace

int NextRewriteCount() { return g_rewriteCount.fetch_add(1) + 1; }
int CurrentRewriteCount() { return g_rewriteCount.load(); }

int RewriteRandom() {
  auto& r = Random();
  std::lock_guard<std::mutex> hold(r.lock);
  return std::uniform_int_distribution<int>(0, 32767)(r.engine);
}

int RewriteRandomBelow(int n) {
  if (n <= 0) return 0;
  auto& r = Random();
  std::lock_guard<std::mutex> hold(r.lock);
  return std::uniform_int_distribution<int>(0, n - 1)(r.engine);
}

int RewriteRandomBetween(int first, int second) {
  const long long r = RewriteRandom();
  const long long a = first, b = second;
  if (b != 0 && a == b) return 0;
  if (b != 0 && a == 0) return static_cast<int>(r % b);
  if (b == 0 && a == 0) return 0;
  if (a < b) return b == 0 ? 0 : static_cast<int>(r % b);
  return static_cast<int>(b + r % (a - b));
}

void SeedRewriteRandom(unsigned seed) {
  auto& r = Random();
  std::lock_guard<std::mutex> hold(r.lock);
  r.engine.seed(seed);
}

int RuleNumber(const std::u16string& text) {
  // Leading decimal digits with an optional sign, as the old atoi-style reading did.
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x7fffffff) return 0;
  }
  return static_cast<int>(negative ? -value : value);
}

bool CutToLength(std::u16string& text, int n) {
  if (n > 0 && static_cast<size_t>(n) < text.size()) text.resize(static_cast<size_t>(n));
  return true;
}

bool MarkNofollow(std::u16string& text) {
  try {
    pcutil::RegexReplace(text, u"(<a.*?)>", pcutil::Global, u"$1 ref=\"nofollow\">");
    return true;
  } catch (const pcutil::RegexError&) {
    return false;
  }
}

bool ApplyRewriteRule(std::u16string& text, const LabelOriginal& rule, const RewriteFields* fields,
                      int counter) {
  const std::u16string& id = rule.Id;
  if (Contains(id, u"YouDao"))
    return TranslateWithMarkup(text, TranslationService::YouDao, rule.Param1, RuleNumber(rule.Param2));
  if (Contains(id, u"Bing"))
    return TranslateWithMarkup(text, TranslationService::Microsoft, rule.Param1,
                               RuleNumber(rule.Param2));
  if (Contains(id, u"Google"))
    return TranslateWithMarkup(text, TranslationService::Google, rule.Param1, RuleNumber(rule.Param2));
  if (id == u"998") return EnglishSynonymRule(text, RuleNumber(rule.Param2));
  if (id == u"999") return ChineseSynonymRule(text);
  if (id == u"1000") return ShuffleParagraphs(text, rule.Param1);
  if (id == u"1001") return DeleteParagraphs(text, rule.Param1, RuleNumber(rule.Param2));
  if (id == u"1002") return InsertAfterParagraphs(text, rule.Param1);
  if (id == u"1004") return WebServiceRule(text, rule.Param1, rule.Param2, rule.Param3, fields);
  if (id == u"1003" || id == u"1005" || id == u"1006" || id == u"1009" || id == u"1012")
    return InsertSnippets(text, id, counter, rule.Param1, rule.Param2, rule.Param3, fields);
  if (id == u"1007") return CutToLength(text, RuleNumber(rule.Param1));
  if (id == u"1008") return RandomLine(text, rule.Param1);
  if (id == u"1010")
    return RandomSentence(text, rule.Param1, RuleNumber(rule.Param2), rule.Param3, fields);
  if (id == u"1011") return SpinnerChiefRule(text, rule.Param1);
  if (id == u"1013") return MarkNofollow(text);
  if (id == u"1014") return LookUpRelatedKeywords(rule.Param2, text, RuleNumber(rule.Param1), true);
  if (EndsWith(id, u"(PHP)")) return PhpRule(text, rule, fields);
  return true;  // unknown ids are skipped without a word
}

bool ApplyRewriteRules(std::u16string& text, const std::vector<LabelOriginal>& chain,
                       const RewriteFields* fields, int counter) {
  const std::u16string kept = text;
  for (const auto& rule : chain) {
    bool ok = false;
    try {
      ok = ApplyRewriteRule(text, rule, fields, counter);
    } catch (const std::exception&) {
      ok = false;  // a rule never ends the worker that runs it
    }
    if (!ok) {
      text = kept;
      return false;
    }
  }
  return true;
}

bool RewriteItemLabels(RewriteFields& fields, const std::vector<LabelRule>& labels,
                       std::u16string* message) {
  const int counter = NextRewriteCount();
  for (const auto& label : labels) {
    pcutil::PauseMs(1);
    std::u16string value = fields[label.LabelName];  // an absent label is added empty
    if (label.Original.empty()) continue;
    if (!ApplyRewriteRules(value, label.Original, &fields, counter)) {
      if (message) *message = kRewriteFailedMessage;
      return false;
    }
    fields[label.LabelName] = std::move(value);
  }
  return true;
}

bool RewriteItemLabels(ToData& item, const std::vector<LabelRule>& labels) {
  return RewriteItemLabels(item.Fields, labels, &item.Text);
}

}  // namespace rz
