// The rewrite rules that work on the text itself: synonyms, paragraphs, random lines and
// sentences, snippets and related keywords. Each changes the text in place and reports
// success; the chain (rewrite/Rewrite.h) undoes a failure.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rewrite/Rewrite.h"
#include "store/Settings.h"

namespace rz {

// ---- synonyms (rules 998, 999) ----

using SynonymList = std::vector<SynonymGroup>;

// The cached list of a language (0 Chinese, 1 English): read once per run on first use, from
// System/ then User/. A list that yields no group is not kept (the next use reads again) and
// "读取同义词库失败！" goes to the diagnostic log; the result is then null.
std::shared_ptr<const SynonymList> SynonymCache(int language);
// Forgets both cached lists (tests, or after the lists were edited).
void ResetSynonymCaches();

// Applies the groups in order. oneWay: a group is used only when its first word occurs;
// otherwise the first word of the group that occurs is replaced.
void ReplaceSynonyms(std::u16string& text, const SynonymList& groups, bool oneWay);
bool ChineseSynonymRule(std::u16string& text);
bool EnglishSynonymRule(std::u16string& text, int mode);

// ---- paragraphs (rules 1000, 1001, 1002) ----

// Cuts at the separator ("</p>" when empty; its upper-case form counts too). With keep, each
// piece ends with the separator in upper case. False when the text has too many pieces.
bool SplitParagraphs(const std::u16string& text, const std::u16string& separator, bool keep,
                     std::vector<std::u16string>& out);
bool ShuffleParagraphs(std::u16string& text, const std::u16string& separator);
bool DeleteParagraphs(std::u16string& text, const std::u16string& separator, int count);
bool InsertAfterParagraphs(std::u16string& text, const std::u16string& insert);

// ---- random line and sentence (rules 1008, 1010) ----

bool RandomLine(std::u16string& text, const std::u16string& lines);
// The pattern of a list of sentence marks separated by "|": each mark escaped, in its own
// group, the groups joined by "|" ("。|！" gives "(。)|(！)"). Empty marks are skipped.
std::u16string SentenceMarkPattern(const std::u16string& marks);
// Escapes the pattern dialect's special characters.
std::u16string EscapePattern(const std::u16string& text);
bool RandomSentence(std::u16string& text, const std::u16string& label, int limit,
                    const std::u16string& marks, const RewriteFields* fields);

// ---- snippets and related keywords (rules 1003, 1005, 1006, 1009, 1012, 1014) ----

bool InsertSnippets(std::u16string& text, const std::u16string& ruleId, int counter,
                    const std::u16string& source, const std::u16string& count,
                    const std::u16string& marks, const RewriteFields* fields);
// Keywords related to `text` from the Chinese related-keyword sources. append: each keyword is
// added after the text, preceded by the separator; otherwise the text becomes the keywords
// joined by the separator. Fails (text unchanged) when a source page cannot be downloaded.
bool LookUpRelatedKeywords(const std::u16string& separator, std::u16string& text, int count,
                           bool append);

}  // namespace rz
