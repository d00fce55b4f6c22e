#include "store/Settings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "XmlFields.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;

namespace rz {

using namespace detail;
using pcutil::CXmlNode;
using pcutil::CXmlTextWriter;

// ---- settings ----

DbSettings AppSettings::Database() const {
  DbSettings db;
  db.Type = DBTYPE;
  db.SqlHost = SqlHost;
  db.SqlDb = SqlDb;
  db.SqlUser = SqlUser;
  db.SqlPsw = SqlPsw;
  db.Port = Port;
  return db;
}

void AppSettings::SetDatabase(const DbSettings& db) {
  DBTYPE = db.Type;
  SqlHost = db.SqlHost;
  SqlDb = db.SqlDb;
  SqlUser = db.SqlUser;
  SqlPsw = db.SqlPsw;
  Port = db.Port;
}

std::u16string AppSettings::EffectiveUserAgent() const {
  return UserAgent.empty() ? std::u16string(kDefaultUserAgent) : UserAgent;
}

std::u16string SettingsFilePath() { return pcutil::ProgramPath(u"User/Cfg.xml"); }

std::u16string SettingsXml(const AppSettings& s) {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  CData(w, u"DBTYPE", s.DBTYPE);
  Text(w, u"SqlHost", s.SqlHost);
  Text(w, u"SqlDb", s.SqlDb);
  Text(w, u"SqlUser", s.SqlUser);
  Text(w, u"SqlPsw", s.SqlPsw);
  Text(w, u"Port", s.Port);
  CData(w, u"LocoyDir", s.LocoyDir);
  CData(w, u"ArticleNum", s.ArticleNum);
  CData(w, u"IsRanWeb", s.IsRanWeb);
  CData(w, u"LastTestHtml", s.LastTestHtml);
  CData(w, u"MaxRepeatCount", s.MaxRepeatCount);
  CData(w, u"MaxJobCount", s.MaxJobCount);
  CData(w, u"CloseLogView", s.CloseLogView);
  CData(w, u"IsFirstRun", s.IsFirstRun);
  CData(w, u"UserAgent", s.UserAgent);
  CData(w, u"OrigType", s.OrigType);
  CData(w, u"ArticleNumEx", s.ArticleNumEx);
  CData(w, u"ArticleSplit", s.ArticleSplit);
  CData(w, u"ArticleTag", s.ArticleTag);
  CData(w, u"FixedPauseMs", s.FixedPauseMs);
  CData(w, u"YouDaoServer", s.YouDaoServer);
  CData(w, u"GoogleServer", s.GoogleServer);
  CData(w, u"BingServer", s.BingServer);
  CData(w, u"BingAppId", s.BingAppId);
  CData(w, u"UiPort", s.UiPort);
  CData(w, u"SiteUrl", s.SiteUrl);
  CData(w, u"StartPageUrl", s.StartPageUrl);
  CData(w, u"UpdateServer", s.UpdateServer);
  w.CloseElement();
  return out;
}

bool ParseSettings(const std::u16string& xml, AppSettings& s) {
  CfgFile file;
  if (!ParseCfg(xml, file)) return false;
  const CXmlNode* e = file.Root;
  Read(e, u"DBTYPE", s.DBTYPE);
  Read(e, u"SqlHost", s.SqlHost);
  Read(e, u"SqlDb", s.SqlDb);
  Read(e, u"SqlUser", s.SqlUser);
  Read(e, u"SqlPsw", s.SqlPsw);
  Read(e, u"Port", s.Port);
  Read(e, u"LocoyDir", s.LocoyDir);
  Read(e, u"ArticleNum", s.ArticleNum);
  Read(e, u"IsRanWeb", s.IsRanWeb);
  Read(e, u"LastTestHtml", s.LastTestHtml);
  Read(e, u"MaxRepeatCount", s.MaxRepeatCount);
  Read(e, u"MaxJobCount", s.MaxJobCount);
  Read(e, u"CloseLogView", s.CloseLogView);
  Read(e, u"IsFirstRun", s.IsFirstRun);
  Read(e, u"UserAgent", s.UserAgent);
  Read(e, u"OrigType", s.OrigType);
  Read(e, u"ArticleNumEx", s.ArticleNumEx);
  Read(e, u"ArticleSplit", s.ArticleSplit);
  Read(e, u"ArticleTag", s.ArticleTag);
  Read(e, u"FixedPauseMs", s.FixedPauseMs);
  Read(e, u"YouDaoServer", s.YouDaoServer);
  Read(e, u"GoogleServer", s.GoogleServer);
  Read(e, u"BingServer", s.BingServer);
  Read(e, u"BingAppId", s.BingAppId);
  Read(e, u"UiPort", s.UiPort);
  Read(e, u"SiteUrl", s.SiteUrl);
  Read(e, u"StartPageUrl", s.StartPageUrl);
  Read(e, u"UpdateServer", s.UpdateServer);
  return true;
}

bool LoadSettings(AppSettings& settings) {
  return ParseSettings(pcutil::LoadXmlFile(SettingsFilePath(), u".xml"), settings);
}

bool SaveSettings(const AppSettings& settings) {
  return SaveCfg(SettingsFilePath(), SettingsXml(settings));
}

AppSettings& GlobalSettings() {
  static AppSettings settings;
  return settings;
}

void ApplySettings(const AppSettings& settings) {
  pcutil::SetFixedPauseMs(settings.FixedPauseMs);
}

bool LoadGlobalSettings() {
  bool read = LoadSettings(GlobalSettings());
  ApplySettings(GlobalSettings());
  return read;
}

// ---- rewrite rule catalogue ----

std::vector<RewriteRuleEntry> ReadRewriteRuleFile(const std::u16string& path) {
  std::vector<RewriteRuleEntry> rules;
  CfgFile file;
  if (!LoadCfg(path, u".xml", file)) return rules;
  ForEachItem(FindElement(file.Root, u"Original"), [&](const CXmlNode* item) {
    if (!HasChildElements(item)) return;
    RewriteRuleEntry rule;
    ReadLabelOriginal(item, rule);
    rules.push_back(std::move(rule));
  });
  return rules;
}

std::u16string RewriteRulesXml(const std::vector<RewriteRuleEntry>& rules) {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  w.OpenElement(u"Original");
  for (const auto& r : rules) {
    w.OpenElement(u"Item");
    CData(w, u"Id", r.Id);
    CData(w, u"Name", r.Name);
    CData(w, u"Param1", r.Param1);
    CData(w, u"Param2", r.Param2);
    CData(w, u"Param3", r.Param3);
    CData(w, u"Help", r.Help);
    Text(w, u"HelpUrl", r.HelpUrl);
    Text(w, u"ParamNum", r.ParamNum);
    w.CloseElement();
  }
  w.CloseElement();
  w.CloseElement();
  return out;
}

bool SaveRewriteRules(const std::vector<RewriteRuleEntry>& rules) {
  return SaveCfg(pcutil::ProgramPath(u"User/Original.xml"), RewriteRulesXml(rules));
}

static void MergeRule(std::vector<RewriteRuleEntry>& list, RewriteRuleEntry rule) {
  for (auto& existing : list)
    if (existing.Id == rule.Id) {
      existing = std::move(rule);
      return;
    }
  list.push_back(std::move(rule));
}

std::vector<RewriteRuleEntry> LoadRewriteRules() {
  std::vector<RewriteRuleEntry> list;
  for (const char16_t* file : {u"User/Original.xml", u"System/Original.xml"})
    for (auto& rule : ReadRewriteRuleFile(pcutil::ProgramPath(file))) MergeRule(list, std::move(rule));

  std::vector<std::u16string> scripts;
  std::error_code ec;
  for (fs::directory_iterator it(pcutil::ToFsPath(pcutil::ProgramPath(u"Plugin")), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc) || it->path().extension() != ".php") continue;
    std::u16string title = pcutil::Utf8ToUtf16(it->path().stem().string());
    if (!title.empty()) scripts.push_back(title);
  }
  std::sort(scripts.begin(), scripts.end());
  if (scripts.empty()) return list;

  const auto helps = ReadRewriteRuleFile(pcutil::ProgramPath(u"Plugin/Help.xml"));
  for (const auto& title : scripts) {
    auto help = std::find_if(helps.begin(), helps.end(), [&](const auto& h) { return h.Id == title; });
    RewriteRuleEntry rule;
    if (help != helps.end()) {
      rule = *help;
      rule.Name += u"(PHP)";
    } else {
      rule.Name = title + u"(PHP)";
      rule.Help = kNoParamHelp;
    }
    // The rewrite stage finds the script by taking "(PHP)" off the id, so the id is
    // always the script's title with that suffix.
    rule.Id = title + u"(PHP)";
    MergeRule(list, std::move(rule));
  }
  return list;
}

// ---- help texts ----

std::map<std::u16string, std::u16string> LoadHelpTexts() {
  std::map<std::u16string, std::u16string> texts;
  CfgFile file;
  if (!LoadCfg(pcutil::ProgramPath(u"System/Help.xml"), u".xml", file)) return texts;
  ForEachItem(file.Root, [&](const CXmlNode* item) {
    std::u16string id, help;
    Read(item, u"Id", id);
    Read(item, u"Help", help);
    if (!id.empty()) texts[id] = help;
  });
  return texts;
}

// ---- keyword sources ----

KeywordSources LoadKeywordSources(int language, std::vector<std::u16string>* errors) {
  KeywordSources sources;
  const std::u16string suffix = language == LanguageEnglish ? u"_en" : u"";
  auto load = [&](const std::u16string& title, auto each) {
    const std::u16string path = pcutil::ProgramPath(u"System/KeyWord/" + title + suffix + u".xml");
    CfgFile file;
    if (!LoadCfg(path, u".xml", file)) {
      if (errors) errors->push_back(u"读取相关关键字规则出错:" + path);
      return;
    }
    ForEachItem(file.Root, each);
  };
  load(u"KeyWords", [&](const CXmlNode* item) {
    const CXmlNode* list = FindElement(item, u"ListUrlRex");
    if (!list) return;
    ListRule rule;
    ReadListRule(list, rule);
    sources.Related.push_back(std::move(rule));
  });
  load(u"KeyContent", [&](const CXmlNode* item) {
    const CXmlNode* list = FindElement(item, u"ListUrlRex");
    if (!list) return;
    KeywordContentSource source;
    ReadListRule(list, source.List);
    ReadContentRule(FindElement(item, u"ContentRex"), source.Content);
    sources.Content.push_back(std::move(source));
  });
  return sources;
}

// ---- synonyms ----

std::vector<SynonymGroup> ParseSynonyms(const std::u16string& text) {
  std::vector<SynonymGroup> groups;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    SynonymGroup group;
    size_t p = 0;
    while (p <= line.size()) {
      size_t bar = line.find(u'|', p);
      if (bar == std::u16string::npos) bar = line.size();
      if (bar > p) group.push_back(line.substr(p, bar - p));
      p = bar + 1;
    }
    if (!group.empty()) groups.push_back(std::move(group));
    start = end + 1;
  }
  return groups;
}

std::vector<SynonymGroup> LoadSynonyms(int language, std::vector<std::u16string>* errors) {
  const std::u16string name = language == LanguageEnglish ? u"英文同义词库.txt" : u"中文同义词库.txt";
  std::vector<SynonymGroup> groups;
  for (const char16_t* folder : {u"System/", u"User/"}) {
    std::u16string text;
    if (pcutil::ReadTextFile(pcutil::ProgramPath(folder + name), text, pcutil::TextModeAnsi) != 0)
      continue;
    for (auto& g : ParseSynonyms(text)) groups.push_back(std::move(g));
  }
  if (groups.empty() && errors) errors->push_back(u"读取同义词库失败！");
  return groups;
}

}  // namespace rz
