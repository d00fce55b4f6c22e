#include "store/JobRule.h"

#include "XmlFields.h"
#include "foundation/Text.h"
#include "store/Sites.h"
#include "xml/XmlFile.h"

namespace rz {

using namespace detail;
using pcutil::CXmlNode;
using pcutil::CXmlTextWriter;

std::u16string JobFilePath(const std::u16string& jobId) {
  return pcutil::ProgramPath(u"Data/Job/" + jobId + u".xml");
}

// ---- reading ----

static void ReadKeywordRex(const CXmlNode* e, KeywordRex& k) {
  Read(e, u"Keywords", k.Keywords);
  Read(e, u"MustKeyword", k.MustKeyword);
  Read(e, u"NotKeyword", k.NotKeyword);
  Read(e, u"MaxKeyWord", k.MaxKeyWord);
}

void ReadListRule(const CXmlNode* e, ListRule& r) {
  if (!e) return;
  Read(e, u"Deep", r.Deep);
  Read(e, u"ThreadCount", r.ThreadCount);
  ReadList(e, u"Urls", r.Urls);
  Read(e, u"MustUrls", r.MustUrls);
  Read(e, u"NotUrls", r.NotUrls);
  Read(e, u"CodeBegin", r.CodeBegin);
  Read(e, u"CodeEnd", r.CodeEnd);
  Read(e, u"IsByHand", r.IsByHand);
  Read(e, u"UrlJs", r.UrlJs);
  Read(e, u"RealUrl", r.RealUrl);
}

static void ReadMultiPage(const CXmlNode* e, MultiPageRule& m) {
  Read(e, u"MultiPageType", m.MultiPageType);
  Read(e, u"Start", m.Start);
  Read(e, u"End", m.End);
  Read(e, u"MustUrl", m.MustUrl);
  Read(e, u"GatherFormat", m.GatherFormat);
  Read(e, u"UrlFormat", m.UrlFormat);
  Read(e, u"StartId", m.StartId);
  Read(e, u"Step", m.Step);
  Read(e, u"MustContent", m.MustContent);
}

void ReadLabelOriginal(const CXmlNode* e, LabelOriginal& o) {
  Read(e, u"Id", o.Id);
  Read(e, u"Name", o.Name);
  Read(e, u"Param1", o.Param1);
  Read(e, u"Param2", o.Param2);
  Read(e, u"Param3", o.Param3);
  Read(e, u"Help", o.Help);
  Read(e, u"HelpUrl", o.HelpUrl);
  Read(e, u"ParamNum", o.ParamNum);
}

static void ReadLabel(const CXmlNode* e, LabelRule& l) {
  Read(e, u"Id", l.Id);
  Read(e, u"LabelName", l.LabelName);
  Read(e, u"StartStr", l.StartStr);
  Read(e, u"EndStr", l.EndStr);
  ReadList(e, u"HtmlTags", l.HtmlTags);
  ReadList(e, u"RegexReplace", l.RegexReplace);
  Read(e, u"DownImg", l.DownImg);
  Read(e, u"DownSwf", l.DownSwf);
  Read(e, u"SaveFileFormat", l.SaveFileFormat);
  Read(e, u"ToAbsolute", l.ToAbsolute);
  Read(e, u"LabelLoop", l.LabelLoop);
  Read(e, u"ContentRizedeType", l.ContentRizedeType);
  Read(e, u"ContentByRex", l.ContentByRex);
  Read(e, u"ContentRexText", l.ContentRexText);
  Read(e, u"ContentRexRet", l.ContentRexRet);
  Read(e, u"EnableMultiPage", l.EnableMultiPage);
  Read(e, u"MultiPageSplit", l.MultiPageSplit);
  Read(e, u"LabelContentMust", l.LabelContentMust);
  Read(e, u"LabelContentForbid", l.LabelContentForbid);
  Read(e, u"LabelNotNull", l.LabelNotNull);
  Read(e, u"LabelNotRepeat", l.LabelNotRepeat);
  if (const CXmlNode* list = FindElement(e, u"Original")) {
    l.Original.clear();
    ForEachItem(list, [&](const CXmlNode* item) {
      if (!HasChildElements(item)) return;
      LabelOriginal o;
      ReadLabelOriginal(item, o);
      l.Original.push_back(std::move(o));
    });
  }
}

void ReadContentRule(const CXmlNode* e, ContentRule& c) {
  if (!e) return;
  Read(e, u"ThreadCount", c.ThreadCount);
  Read(e, u"TestPageUrl", c.TestPageUrl);
  Read(e, u"MaxConentCount", c.MaxConentCount);
  Read(e, u"BaseDir", c.BaseDir);
  Read(e, u"ImageDir", c.ImageDir);
  Read(e, u"FlashDir", c.FlashDir);
  if (const CXmlNode* m = FindElement(e, u"MultiPage")) ReadMultiPage(m, c.MultiPage);
  if (const CXmlNode* list = FindElement(e, u"LabelRex")) {
    c.LabelRex.clear();
    ForEachItem(list, [&](const CXmlNode* item) {
      if (!HasChildElements(item)) return;
      LabelRule label;
      ReadLabel(item, label);
      // A repeated id takes over the earlier label's place. Labels without an id (hand-made
      // files) are all kept: merging them would silently drop every label but the last.
      for (auto& existing : c.LabelRex)
        if (!label.Id.empty() && existing.Id == label.Id) {
          existing = std::move(label);
          return;
        }
      c.LabelRex.push_back(std::move(label));
    });
  }
}

static void ReadTarget(const CXmlNode* e, PublishTarget& t) {
  Read(e, u"Name", t.Name);
  Read(e, u"ModuleName", t.ModuleName);
  Read(e, u"ModuleType", t.ModuleType);
  Read(e, u"SqlHost", t.SqlHost);
  Read(e, u"SqlDb", t.SqlDb);
  Read(e, u"SqlUser", t.SqlUser);
  Read(e, u"SqlPsw", t.SqlPsw);
  Read(e, u"Port", t.Port);
  Read(e, u"TablePre", t.TablePre);
  Read(e, u"Charset", t.Charset);
  Read(e, u"PostHost", t.PostHost);
  Read(e, u"ListId", t.ListId);
  Read(e, u"ListName", t.ListName);
  if (const CXmlNode* list = FindElement(e, u"ListIds")) {
    t.ListIds.clear();
    ForEachItem(list, [&](const CXmlNode* item) {
      ListIdEntry entry;
      Read(item, u"ListId", entry.ListId);
      Read(item, u"ListName", entry.ListName);
      t.ListIds.push_back(std::move(entry));
    });
  }
  Read(e, u"Param1", t.Param1);
  Read(e, u"Param2", t.Param2);
  Read(e, u"Cookies", t.Cookies);
  Read(e, u"IsUserCookies", t.IsUserCookies);
  Read(e, u"WebTestTitle", t.WebTestTitle);
  Read(e, u"WebTestContent", t.WebTestContent);
  Read(e, u"IsWebLogin", t.IsWebLogin);
  Read(e, u"LocalPath", t.LocalPath);
  Read(e, u"FileNameTmpl", t.FileNameTmpl);
  Read(e, u"ContentTmpl", t.ContentTmpl);
}

static void ReadTargets(const CXmlNode* root, const char16_t* key, std::vector<PublishTarget>& list) {
  const CXmlNode* container = FindElement(root, key);
  if (!container) return;
  list.clear();
  ForEachItem(container, [&](const CXmlNode* item) {
    PublishTarget t;
    ReadTarget(item, t);
    list.push_back(std::move(t));
  });
}

static void ReadRule(const CXmlNode* root, JobRule& r) {
  Read(root, u"Type", r.Type);
  Read(root, u"SiteId", r.SiteId);
  Read(root, u"SiteName", r.SiteName);
  Read(root, u"JobId", r.JobId);
  Read(root, u"JobName", r.JobName);
  Read(root, u"Charset", r.Charset);
  Read(root, u"IsGather", r.IsGather);
  Read(root, u"IsOriginal", r.IsOriginal);
  Read(root, u"IsPublish", r.IsPublish);
  if (const CXmlNode* e = FindElement(root, u"KeywordRex")) ReadKeywordRex(e, r.KeywordRex);
  ReadListRule(FindElement(root, u"ListUrlRex"), r.ListUrlRex);
  ReadContentRule(FindElement(root, u"ContentRex"), r.ContentRex);
  Read(root, u"TransThreadCount", r.TransThreadCount);
  Read(root, u"PublishThreadCount", r.PublishThreadCount);
  // From is deliberately not read: the job keeps the default database settings.
  ReadTargets(root, u"WebPublish", r.WebPublish);
  if (const CXmlNode* e = FindElement(root, u"LocalFilePublish")) ReadTarget(e, r.LocalFilePublish);
  ReadTargets(root, u"DBPublish", r.DBPublish);
  Read(root, u"EnableWebPublish", r.EnableWebPublish);
  Read(root, u"EnableLocalFile", r.EnableLocalFile);
  Read(root, u"EnableDB", r.EnableDB);
  Read(root, u"PublishMaxCount", r.PublishMaxCount);
  Read(root, u"PublishOrder", r.PublishOrder);
  Read(root, u"Report", r.Report);
  Read(root, u"EnableFtp", r.EnableFtp);
  Read(root, u"FtpServer", r.FtpServer);
  Read(root, u"FtpPort", r.FtpPort);
  Read(root, u"FtpUserName", r.FtpUserName);
  Read(root, u"FtpPassword", r.FtpPassword);
  Read(root, u"UsePassive", r.UsePassive);
  Read(root, u"UseAnonymous", r.UseAnonymous);
  Read(root, u"FtpDir", r.FtpDir);
  Read(root, u"FileWebDir", r.FileWebDir);
  Read(root, u"GatherInterval", r.GatherInterval);
  Read(root, u"TransInterval", r.TransInterval);
  Read(root, u"PublishInterval", r.PublishInterval);
  Read(root, u"EnableEnglishSrc", r.EnableEnglishSrc);
  Read(root, u"EnableChinaSrc", r.EnableChinaSrc);
}

// ---- writing ----

void WriteListRule(CXmlTextWriter& w, const ListRule& r) {
  w.OpenElement(u"ListUrlRex");
  Text(w, u"Deep", r.Deep);
  Text(w, u"ThreadCount", r.ThreadCount);
  TextList(w, u"Urls", r.Urls);
  CData(w, u"MustUrls", r.MustUrls);
  CData(w, u"NotUrls", r.NotUrls);
  CData(w, u"CodeBegin", r.CodeBegin);
  CData(w, u"CodeEnd", r.CodeEnd);
  Text(w, u"IsByHand", r.IsByHand);
  CData(w, u"UrlJs", r.UrlJs);
  CData(w, u"RealUrl", r.RealUrl);
  w.CloseElement();
}

static void WriteLabel(CXmlTextWriter& w, const LabelRule& l) {
  w.OpenElement(u"Item");
  Text(w, u"Id", l.Id);
  Text(w, u"LabelName", l.LabelName);
  CData(w, u"StartStr", l.StartStr);
  CData(w, u"EndStr", l.EndStr);
  TextList(w, u"HtmlTags", l.HtmlTags);
  CDataList(w, u"RegexReplace", l.RegexReplace);
  Text(w, u"DownImg", l.DownImg);
  Text(w, u"DownSwf", l.DownSwf);
  Text(w, u"SaveFileFormat", l.SaveFileFormat);
  Text(w, u"ToAbsolute", l.ToAbsolute);
  Text(w, u"LabelLoop", l.LabelLoop);
  Text(w, u"ContentRizedeType", l.ContentRizedeType);
  Text(w, u"ContentByRex", l.ContentByRex);
  Text(w, u"ContentRexText", l.ContentRexText);
  Text(w, u"ContentRexRet", l.ContentRexRet);
  Text(w, u"EnableMultiPage", l.EnableMultiPage);
  CData(w, u"MultiPageSplit", l.MultiPageSplit);
  CData(w, u"LabelContentMust", l.LabelContentMust);
  CData(w, u"LabelContentForbid", l.LabelContentForbid);
  Text(w, u"LabelNotNull", l.LabelNotNull);
  Text(w, u"LabelNotRepeat", l.LabelNotRepeat);
  w.OpenElement(u"Original");
  for (const auto& o : l.Original) {
    w.OpenElement(u"Item");
    Text(w, u"Id", o.Id);
    Text(w, u"Name", o.Name);
    CData(w, u"Param1", o.Param1);
    CData(w, u"Param2", o.Param2);
    CData(w, u"Param3", o.Param3);
    Text(w, u"Help", o.Help);
    Text(w, u"HelpUrl", o.HelpUrl);
    Text(w, u"ParamNum", o.ParamNum);
    w.CloseElement();
  }
  w.CloseElement();
  w.CloseElement();
}

void WriteContentRule(CXmlTextWriter& w, const ContentRule& c) {
  w.OpenElement(u"ContentRex");
  Text(w, u"ThreadCount", c.ThreadCount);
  Text(w, u"TestPageUrl", c.TestPageUrl);
  Text(w, u"MaxConentCount", c.MaxConentCount);
  Text(w, u"BaseDir", c.BaseDir);
  Text(w, u"ImageDir", c.ImageDir);
  Text(w, u"FlashDir", c.FlashDir);
  const MultiPageRule& m = c.MultiPage;
  w.OpenElement(u"MultiPage");
  Text(w, u"MultiPageType", m.MultiPageType);
  CData(w, u"Start", m.Start);
  CData(w, u"End", m.End);
  Text(w, u"MustUrl", m.MustUrl);
  Text(w, u"GatherFormat", m.GatherFormat);
  Text(w, u"UrlFormat", m.UrlFormat);
  Text(w, u"StartId", m.StartId);
  Text(w, u"Step", m.Step);
  CData(w, u"MustContent", m.MustContent);
  w.CloseElement();
  w.OpenElement(u"LabelRex");
  for (const auto& l : c.LabelRex) WriteLabel(w, l);
  w.CloseElement();
  w.CloseElement();
}

// The keys of one target, without the surrounding element.
static void WriteTargetKeys(CXmlTextWriter& w, const PublishTarget& t) {
  Text(w, u"Name", t.Name);
  Text(w, u"ModuleName", t.ModuleName);
  Text(w, u"ModuleType", t.ModuleType);
  Text(w, u"SqlHost", t.SqlHost);
  Text(w, u"SqlDb", t.SqlDb);
  Text(w, u"SqlUser", t.SqlUser);
  Text(w, u"SqlPsw", t.SqlPsw);
  Text(w, u"Port", t.Port);
  Text(w, u"TablePre", t.TablePre);
  Text(w, u"Charset", t.Charset);
  Text(w, u"PostHost", t.PostHost);
  Text(w, u"ListId", t.ListId);
  Text(w, u"ListName", t.ListName);
  w.OpenElement(u"ListIds");
  for (const auto& entry : t.ListIds) {
    w.OpenElement(u"Item");
    Text(w, u"ListId", entry.ListId);
    Text(w, u"ListName", entry.ListName);
    w.CloseElement();
  }
  w.CloseElement();
  CData(w, u"Param1", t.Param1);
  CData(w, u"Param2", t.Param2);
  Text(w, u"Cookies", t.Cookies);
  Text(w, u"IsUserCookies", t.IsUserCookies);
  Text(w, u"WebTestTitle", t.WebTestTitle);
  Text(w, u"WebTestContent", t.WebTestContent);
  CData(w, u"IsWebLogin", t.IsWebLogin);
  Text(w, u"LocalPath", t.LocalPath);
  Text(w, u"FileNameTmpl", t.FileNameTmpl);
  Text(w, u"ContentTmpl", t.ContentTmpl);
}

static void WriteTargets(CXmlTextWriter& w, const char16_t* key, const std::vector<PublishTarget>& list) {
  w.OpenElement(key);
  for (const auto& t : list) {
    w.OpenElement(u"Item");
    WriteTargetKeys(w, t);
    w.CloseElement();
  }
  w.CloseElement();
}

std::u16string JobRuleXml(const JobRule& r) {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  Text(w, u"Type", r.Type);
  Text(w, u"SiteId", r.SiteId);
  Text(w, u"SiteName", r.SiteName);
  Text(w, u"JobId", r.JobId);
  Text(w, u"JobName", r.JobName);
  Text(w, u"Charset", r.Charset);
  Text(w, u"IsGather", r.IsGather);
  Text(w, u"IsOriginal", r.IsOriginal);
  Text(w, u"IsPublish", r.IsPublish);
  w.OpenElement(u"KeywordRex");
  CData(w, u"Keywords", r.KeywordRex.Keywords);
  CData(w, u"MustKeyword", r.KeywordRex.MustKeyword);
  CData(w, u"NotKeyword", r.KeywordRex.NotKeyword);
  Text(w, u"MaxKeyWord", r.KeywordRex.MaxKeyWord);
  w.CloseElement();
  WriteListRule(w, r.ListUrlRex);
  WriteContentRule(w, r.ContentRex);
  Text(w, u"TransThreadCount", r.TransThreadCount);
  Text(w, u"PublishThreadCount", r.PublishThreadCount);
  w.OpenElement(u"From");
  Text(w, u"SqlUser", r.DbSettings.SqlUser);
  Text(w, u"SqlDb", r.DbSettings.SqlDb);
  Text(w, u"Port", r.DbSettings.Port);
  Text(w, u"SqlPsw", r.DbSettings.SqlPsw);
  Text(w, u"Type", r.DbSettings.Type);
  Text(w, u"SqlHost", r.DbSettings.SqlHost);
  Text(w, u"Sql", r.Sql);
  Text(w, u"AfterSql", r.AfterSql);
  w.CloseElement();
  WriteTargets(w, u"WebPublish", r.WebPublish);
  w.OpenElement(u"LocalFilePublish");
  WriteTargetKeys(w, r.LocalFilePublish);
  w.CloseElement();
  WriteTargets(w, u"DBPublish", r.DBPublish);
  Text(w, u"EnableWebPublish", r.EnableWebPublish);
  Text(w, u"EnableLocalFile", r.EnableLocalFile);
  Text(w, u"EnableDB", r.EnableDB);
  Text(w, u"PublishMaxCount", r.PublishMaxCount);
  Text(w, u"PublishOrder", r.PublishOrder);
  Text(w, u"Report", r.Report);
  Text(w, u"EnableFtp", r.EnableFtp);
  Text(w, u"FtpServer", r.FtpServer);
  Text(w, u"FtpPort", r.FtpPort);
  Text(w, u"FtpUserName", r.FtpUserName);
  Text(w, u"FtpPassword", r.FtpPassword);
  Text(w, u"UsePassive", r.UsePassive);
  Text(w, u"UseAnonymous", r.UseAnonymous);
  Text(w, u"FtpDir", r.FtpDir);
  Text(w, u"FileWebDir", r.FileWebDir);
  Text(w, u"GatherInterval", r.GatherInterval);
  Text(w, u"TransInterval", r.TransInterval);
  Text(w, u"PublishInterval", r.PublishInterval);
  Text(w, u"EnableEnglishSrc", r.EnableEnglishSrc);
  Text(w, u"EnableChinaSrc", r.EnableChinaSrc);
  w.CloseElement();
  return out;
}

// ---- files ----

JobRulePtr ParseJobRule(const std::u16string& xml, std::u16string* error) {
  CfgFile file;
  if (!ParseCfg(xml, file)) {
    if (error) *error = file.Error;
    return nullptr;
  }
  auto rule = std::make_shared<JobRule>();
  ReadRule(file.Root, *rule);
  return rule;
}

JobRulePtr ReadJobRuleFile(const std::u16string& path, std::u16string* error) {
  // An empty extension is contained in every path, so the file is read as named.
  return ParseJobRule(pcutil::LoadXmlFile(path, u""), error);
}

JobRulePtr LoadJobRule(SiteStore& store, const std::u16string& jobId, const std::u16string& path) {
  JobRulePtr rule = ReadJobRuleFile(path.empty() ? JobFilePath(jobId) : path);
  if (rule) store.PutRule(rule);
  return rule;
}

bool SaveJobRule(const JobRule& rule, const std::u16string& path) {
  if (path.empty() && rule.JobId.empty()) return false;
  return SaveCfg(path.empty() ? JobFilePath(rule.JobId) : path, JobRuleXml(rule));
}

}  // namespace rz
