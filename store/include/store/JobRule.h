// The job rule: everything one collection job needs, read from and written to
// Data/Job/<JobId>.xml. Every field is named by its key in the file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/DbSettings.h"

namespace pcutil {
class CXmlNode;
class CXmlTextWriter;
}  // namespace pcutil

namespace rz {

class SiteStore;

// Keyword settings of a keyword job (element KeywordRex).
struct KeywordRex {
  std::u16string Keywords;     // "\r\n"-separated
  std::u16string MustKeyword;
  std::u16string NotKeyword;
  std::u16string MaxKeyWord = u"0";

  bool operator==(const KeywordRex&) const = default;
};

// List pages and link collection (element ListUrlRex); also a keyword source.
struct ListRule {
  int Deep = 1;
  int ThreadCount = 3;
  std::vector<std::u16string> Urls;
  std::u16string MustUrls;
  std::u16string NotUrls;
  std::u16string CodeBegin;
  std::u16string CodeEnd;
  int IsByHand = 0;
  std::u16string UrlJs;
  std::u16string RealUrl;  // in keyword sources: the charset name

  bool operator==(const ListRule&) const = default;
};

// Multi-page articles (element ContentRex/MultiPage).
struct MultiPageRule {
  int MultiPageType = 0;
  std::u16string Start;
  std::u16string End;
  std::u16string MustUrl;
  std::u16string GatherFormat;
  std::u16string UrlFormat;
  std::u16string StartId = u"1";
  std::u16string Step = u"1";
  std::u16string MustContent;

  bool operator==(const MultiPageRule&) const = default;
};

// One rewrite rule attached to a label; also one entry of the rewrite rule catalogue.
struct LabelOriginal {
  std::u16string Id;
  std::u16string Name;
  std::u16string Param1;
  std::u16string Param2;
  std::u16string Param3;
  std::u16string Help;
  std::u16string HelpUrl;
  int ParamNum = 3;

  bool operator==(const LabelOriginal&) const = default;
};

// One label: how a field is cut out of the article page and cleaned.
struct LabelRule {
  std::u16string Id;
  std::u16string LabelName;
  std::u16string StartStr;
  std::u16string EndStr;
  std::vector<std::u16string> HtmlTags;
  std::vector<std::u16string> RegexReplace;
  int DownImg = 0;
  int DownSwf = 0;
  std::u16string SaveFileFormat = u"[随机文件名][原文件名]";
  int ToAbsolute = 0;
  int LabelLoop = 0;
  int ContentRizedeType = 0;
  std::u16string ContentByRex;
  std::u16string ContentRexText;
  std::u16string ContentRexRet;
  int EnableMultiPage = 0;
  std::u16string MultiPageSplit = u"|||";
  std::u16string LabelContentMust;
  std::u16string LabelContentForbid;
  int LabelNotNull = 0;
  int LabelNotRepeat = 0;
  std::vector<LabelOriginal> Original;

  bool operator==(const LabelRule&) const = default;
};

// Content extraction (element ContentRex).
struct ContentRule {
  int ThreadCount = 3;
  std::u16string TestPageUrl;
  int MaxConentCount = 0;  // the key is spelled so
  std::u16string BaseDir;
  std::u16string ImageDir = u"/Image";
  std::u16string FlashDir = u"/Flash";
  MultiPageRule MultiPage;
  std::vector<LabelRule> LabelRex;  // file order; ids unique

  bool operator==(const ContentRule&) const = default;
};

// A category of a publish target.
struct ListIdEntry {
  std::u16string ListId;
  std::u16string ListName;

  bool operator==(const ListIdEntry&) const = default;
};

// The job's copy of a publish module with its own values.
struct PublishTarget {
  std::u16string Name;
  std::u16string ModuleName;
  std::u16string ModuleType;
  std::u16string SqlHost;
  std::u16string SqlDb;
  std::u16string SqlUser;
  std::u16string SqlPsw;
  std::u16string Port;
  std::u16string TablePre;
  std::u16string Charset = u"utf-8";
  std::u16string PostHost;
  std::u16string ListId;
  std::u16string ListName;
  std::vector<ListIdEntry> ListIds;
  std::u16string Param1;
  std::u16string Param2;
  std::u16string Cookies;
  int IsUserCookies = 1;
  std::u16string WebTestTitle;
  std::u16string WebTestContent;
  int IsWebLogin = 1;
  std::u16string LocalPath;
  std::u16string FileNameTmpl;
  std::u16string ContentTmpl;

  bool operator==(const PublishTarget&) const = default;
};

struct JobRule {
  int Type = 1;  // 1 regular collection, 2 keyword collection
  std::u16string SiteId;
  std::u16string SiteName;
  std::u16string JobId;
  std::u16string JobName;
  std::u16string Charset = u"自动识别";
  int IsGather = 1;
  int IsOriginal = 1;
  int IsPublish = 1;
  rz::KeywordRex KeywordRex;
  ListRule ListUrlRex;
  ContentRule ContentRex;
  int TransThreadCount = 3;
  int PublishThreadCount = 3;
  // The content database of the job. Written as the From element, never read back:
  // a loaded job always starts from the defaults.
  rz::DbSettings DbSettings;
  std::u16string Sql;
  std::u16string AfterSql;
  std::vector<PublishTarget> WebPublish;
  PublishTarget LocalFilePublish;
  std::vector<PublishTarget> DBPublish;
  int EnableWebPublish = 1;
  int EnableLocalFile = 0;
  int EnableDB = 0;
  std::u16string PublishMaxCount;
  int PublishOrder = 0;
  std::u16string Report;
  int EnableFtp = 0;
  std::u16string FtpServer;
  std::u16string FtpPort = u"21";
  std::u16string FtpUserName;
  std::u16string FtpPassword;
  std::u16string UsePassive;
  std::u16string UseAnonymous;
  std::u16string FtpDir = u"/";
  std::u16string FileWebDir;
  int GatherInterval = 300;
  int TransInterval = 300;
  int PublishInterval = 300;
  int EnableEnglishSrc = 1;
  int EnableChinaSrc = 1;

  bool operator==(const JobRule&) const = default;
};

using JobRulePtr = std::shared_ptr<JobRule>;

// The rule file of a job: Data/Job/<JobId>.xml under the program folder.
std::u16string JobFilePath(const std::u16string& jobId);

// Loads a job rule. Without a path the job's own file is read. Returns null when the file
// is missing, empty, not well-formed or has no Cfg; on success the rule is also entered in
// the store under its SiteId and JobId.
JobRulePtr LoadJobRule(SiteStore& store, const std::u16string& jobId,
                       const std::u16string& path = u"");
// The same without a store, for checking and converting rule files. The file is read
// exactly at path (no extension added); error says why a file could not be read.
JobRulePtr ReadJobRuleFile(const std::u16string& path, std::u16string* error = nullptr);
// Parses the XML text of a rule file; null when it is not a rule file.
JobRulePtr ParseJobRule(const std::u16string& xml, std::u16string* error = nullptr);

// The file text as SaveJobRule writes it.
std::u16string JobRuleXml(const JobRule& rule);
// Writes the rule to path, by default the job's own file. The old file stays whole when
// the write fails. Returns whether the file was written.
bool SaveJobRule(const JobRule& rule, const std::u16string& path = u"");

// The list and content sections have readers and writers of their own: the keyword source
// files reuse them. Readers fill the record from the element's children (missing keys keep
// what the record holds); writers write the whole element named ListUrlRex / ContentRex.
void ReadListRule(const pcutil::CXmlNode* element, ListRule& rule);
void WriteListRule(pcutil::CXmlTextWriter& w, const ListRule& rule);
void ReadContentRule(const pcutil::CXmlNode* element, ContentRule& rule);
void WriteContentRule(pcutil::CXmlTextWriter& w, const ContentRule& rule);
void ReadLabelOriginal(const pcutil::CXmlNode* element, LabelOriginal& rule);

}  // namespace rz
