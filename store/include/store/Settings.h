// Application settings (User/Cfg.xml) and the small shipped files: the rewrite rule
// catalogue, help texts, keyword-source rules and synonym lists.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "store/DbSettings.h"
#include "store/JobRule.h"

namespace rz {

// The built-in user agent used when the setting is empty.
inline constexpr char16_t kDefaultUserAgent[] =
    u"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Trident/4.0; QQDownload 665; .NET CLR "
    u"2.0.50727; .NET CLR 3.0.04506.30; .NET CLR 3.0.04506.648; .NET CLR 3.5.21022; InfoPath.2)";

struct AppSettings {
  std::u16string DBTYPE = u"MySql";
  std::u16string SqlHost = u"127.0.0.1";
  std::u16string SqlDb = u"kitesoft";
  std::u16string SqlUser = u"root";
  std::u16string SqlPsw;
  std::u16string Port = u"7795";
  std::u16string LocoyDir;
  std::u16string ArticleNum;
  std::u16string IsRanWeb;
  std::u16string LastTestHtml;
  int MaxRepeatCount = 20;
  int MaxJobCount = 3;
  int CloseLogView = 0;
  int IsFirstRun = 1;
  std::u16string UserAgent;  // empty: kDefaultUserAgent
  int OrigType = 0;
  int ArticleNumEx = 10;
  std::u16string ArticleSplit = u"</p>>";
  std::u16string ArticleTag = u"内容";
  // Our keys, written after the designed ones.
  int FixedPauseMs = 300;  // the workers' fixed pause; 0 for tests and benchmarks
  // Translation services of the rewrite rules: scheme://host[:port] of each (the request
  // path is the service's own) and the Microsoft application id. Empty: not configured.
  std::u16string YouDaoServer;
  std::u16string GoogleServer;
  std::u16string BingServer;
  std::u16string BingAppId;
  // The local UI server's port on 127.0.0.1 (the next free one is taken when it is busy).
  int UiPort = 7796;
  // The product web site (help, forum, ...) and the start page's address (empty: the start
  // page shipped with the program).
  std::u16string SiteUrl = u"https://rizede.example";
  std::u16string StartPageUrl;
  // scheme://host[:port] of the update server; the manifest archive is its
  // "/system/version.zip". Empty: no update check at start-up.
  std::u16string UpdateServer;

  // The default content database named by the first six keys.
  rz::DbSettings Database() const;
  void SetDatabase(const rz::DbSettings& db);
  // UserAgent, or the built-in value when it is empty.
  std::u16string EffectiveUserAgent() const;

  bool operator==(const AppSettings&) const = default;
};

std::u16string SettingsFilePath();

// Reads User/Cfg.xml; missing keys (or a missing or unreadable file) keep the defaults.
// Returns whether the file was read.
bool LoadSettings(AppSettings& settings);
bool SaveSettings(const AppSettings& settings);
std::u16string SettingsXml(const AppSettings& settings);
bool ParseSettings(const std::u16string& xml, AppSettings& settings);

// The application-wide settings record, read once at start-up.
AppSettings& GlobalSettings();
// Loads the global record and hands the values other layers keep to them (the fixed pause).
// The user agent belongs to the network layer, which the application wires up.
bool LoadGlobalSettings();
void ApplySettings(const AppSettings& settings);

// ---- rewrite rule catalogue ----

// Catalogue entries have the fields of a label's rewrite rule.
using RewriteRuleEntry = LabelOriginal;

// User/Original.xml, then System/Original.xml, then one entry per Plugin/*.php, merged by Id
// in order of first appearance (a later entry takes over an earlier one's fields in place).
std::vector<RewriteRuleEntry> LoadRewriteRules();
// Writes the user's file User/Original.xml.
bool SaveRewriteRules(const std::vector<RewriteRuleEntry>& rules);
// One catalogue file (root Cfg, element Original, one Item per rule); empty when unreadable.
std::vector<RewriteRuleEntry> ReadRewriteRuleFile(const std::u16string& path);
std::u16string RewriteRulesXml(const std::vector<RewriteRuleEntry>& rules);

// Help text shown for a plug-in rule without a help entry.
inline constexpr char16_t kNoParamHelp[] = u"此原创规则不需要参数";

// ---- help texts ----

// System/Help.xml: Id -> text; entries with an empty Id are skipped.
std::map<std::u16string, std::u16string> LoadHelpTexts();

// ---- keyword sources ----

enum Language : int { LanguageChinese = 0, LanguageEnglish = 1 };

struct KeywordContentSource {
  ListRule List;
  ContentRule Content;
};

struct KeywordSources {
  std::vector<ListRule> Related;               // KeyWords(_en).xml
  std::vector<KeywordContentSource> Content;   // KeyContent(_en).xml
};

// Reads the two keyword-source files of a language from System/KeyWord/, in file order.
// A file that cannot be read adds "读取相关关键字规则出错:" + its name to errors.
KeywordSources LoadKeywordSources(int language, std::vector<std::u16string>* errors = nullptr);

// ---- synonyms ----

using SynonymGroup = std::vector<std::u16string>;

// Word groups of "中文同义词库.txt" (language 0) or "英文同义词库.txt" (1), read as GBK from
// System/ and then from User/. When neither yields a group, "读取同义词库失败！" is added to errors.
std::vector<SynonymGroup> LoadSynonyms(int language, std::vector<std::u16string>* errors = nullptr);
// The groups of one text: one per line, words separated by "|", empty words and lines skipped.
std::vector<SynonymGroup> ParseSynonyms(const std::u16string& text);

}  // namespace rz
