// The rewrite pipeline: each label of an item runs its chain of rewrite rules; a rule that
// fails puts the label back as it was and stops the item's rewriting.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "collect/WorkData.h"
#include "store/JobRule.h"

namespace rz {

// An item's label values by name (the Fields of a ToData, a row of the content database).
using RewriteFields = std::map<std::u16string, std::u16string>;

inline constexpr char16_t kRewriteFailedMessage[] = u"伪原创失败，请检查伪原创规则是否设置正确！";
// The content step's red line, with the item's PageUrl in both places.
inline constexpr char16_t kContentRewriteFailedLog[] =
    u"<font color=\"red\">采内容--采集内容成功，但伪原创失败,出错的网址：<a href=\"%s\" "
    u"target=\"_blank\">%s</a></font>";

// The process-wide rewrite counter: one step per rewritten item. Safe from any thread.
int NextRewriteCount();
int CurrentRewriteCount();

// Runs every label's chain over the item's values. A label the item lacks is added empty.
// On failure `message` (when given) gets kRewriteFailedMessage; labels rewritten before the
// failing one keep their new values.
bool RewriteItemLabels(RewriteFields& fields, const std::vector<LabelRule>& labels,
                       std::u16string* message = nullptr);
// The same on a collected item: the failure message goes into item.Text.
bool RewriteItemLabels(ToData& item, const std::vector<LabelRule>& labels);

// Runs one chain over `text`. On failure the text is put back as it was before the chain.
// `fields` is the item the label belongs to (rules that read other labels); may be null.
bool ApplyRewriteRules(std::u16string& text, const std::vector<LabelOriginal>& chain,
                       const RewriteFields* fields, int counter);

// One rule on `text` (no undo): the dispatch by rule id. Unknown ids succeed unchanged.
bool ApplyRewriteRule(std::u16string& text, const LabelOriginal& rule, const RewriteFields* fields,
                      int counter);

// Rule parameters that hold numbers: decimal, an empty or non-numeric text is 0.
int RuleNumber(const std::u16string& text);

// Rule 1007: keeps the first n characters when 0 < n < length.
bool CutToLength(std::u16string& text, int n);
// Rule 1013: every "<a ...>" gets the attribute ref="nofollow".
bool MarkNofollow(std::u16string& text);

// The random source of the rewrite rules: one generator for the process, behind a lock.
// RewriteRandom gives 0..32767; tests fix the seed to make runs reproducible.
int RewriteRandom();
// Uniform in [0, n) for n > 0 (0 otherwise).
int RewriteRandomBelow(int n);
// RandomBetween's contract (foundation/Text.h) on the rewrite random source.
int RewriteRandomBetween(int first, int second);
void SeedRewriteRandom(unsigned seed);

}  // namespace rz
