#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "StoreTestUtil.h"
#include "store/JobRule.h"
#include "store/Sites.h"

using namespace storetest;
namespace fs = std::filesystem;

namespace {

rz::JobRulePtr Parse(const std::string& body) { return rz::ParseJobRule(U(kDecl + body)); }

// A rule that uses every part, with text that is hard to store: Chinese, quotes and
// apostrophes, markup, line breaks, tabs, control characters, and blanks at the edges of
// CDATA values (text-form values cannot keep edge blanks, by design).
rz::JobRule RichRule() {
  rz::JobRule r;
  r.Type = 2;
  r.SiteId = u"2026-01-02-03-04-05-100";
  r.SiteName = u"新浪 \"新闻\" & 'blog'";
  r.JobId = u"2026-01-02-03-04-06-101";
  r.JobName = u"采集<任务>\n第二行\t制表\x01控制";
  r.Charset = u"gb2312";
  r.IsGather = 0;
  r.IsOriginal = 1;
  r.IsPublish = 0;
  r.KeywordRex.Keywords = u"  关键词一\r\n关键词二\r\n";
  r.KeywordRex.MustKeyword = u"a|b(*)c";
  r.KeywordRex.NotKeyword = u" 广告 ";
  r.KeywordRex.MaxKeyWord = u"50";
  r.ListUrlRex.Deep = 0;
  r.ListUrlRex.ThreadCount = 1;
  r.ListUrlRex.Urls = {u"http://a.example/list_(*).html", u"#FILE#D:\\网址.txt"};
  r.ListUrlRex.MustUrls = u"/news/";
  r.ListUrlRex.CodeBegin = u"   <div class='list'>\r\n";
  r.ListUrlRex.CodeEnd = u"</div>";
  r.ListUrlRex.IsByHand = 1;
  r.ListUrlRex.UrlJs = u"href=\"(*)/[参数].html\"";
  r.ListUrlRex.RealUrl = u"http://a.example/[参数1].html";
  r.ContentRex.ThreadCount = 5;
  r.ContentRex.TestPageUrl = u"http://a.example/1.html?x=1&y='2'";
  r.ContentRex.MaxConentCount = -3;
  r.ContentRex.BaseDir = u"D:\\采集\\图片";
  r.ContentRex.MultiPage.MultiPageType = 1;
  r.ContentRex.MultiPage.Start = u" <div class=\"pages\">";
  r.ContentRex.MultiPage.GatherFormat = u"http://a.example/<%id%>.html";
  r.ContentRex.MultiPage.UrlFormat = u"http://a.example/<%id%>_<%step%>.html";
  r.ContentRex.MultiPage.StartId = u"2";
  rz::LabelRule title;
  title.Id = u"1";
  title.LabelName = u"标题";
  title.StartStr = u"  <h1>";
  title.EndStr = u"</h1>\n";
  title.HtmlTags = {u"<a.*?>|</a>", u"&nbsp;"};
  title.RegexReplace = {u"  旧|新  ", u"(*)广告|"};
  title.LabelNotNull = 1;
  title.Original = {rz::LabelOriginal{u"999", u"中文同义词替换", u"", u" 2 ", u"</p>", u"说明", u"http://h/x", 0},
                    rz::LabelOriginal{u"Google-zh2en", u"翻译", u"langpair=zh|en", u"1", u"", u"", u"", 2}};
  rz::LabelRule body;
  body.Id = u"2";
  body.LabelName = u"内容";
  body.ContentRizedeType = 1;
  body.ContentByRex = u"<div id=\"c\">(?<content>.*?)</div>";
  body.LabelLoop = 2;
  body.MultiPageSplit = u"<hr/>";
  body.LabelContentForbid = u"\t禁止";
  body.DownImg = 1;
  body.SaveFileFormat = u"[年][月]/[原文件名]";
  r.ContentRex.LabelRex = {title, body};
  r.TransThreadCount = 7;
  r.PublishThreadCount = 2;
  rz::PublishTarget web;
  web.Name = u"网站一";
  web.ModuleName = u"通用文章";
  web.ModuleType = u"POST";
  web.PostHost = u"http://b.example/";
  web.ListIds = {{u"1", u"新闻"}, {u"", u""}, {u"3", u"体育 & 健康"}};
  web.Param1 = u" 参数\r\n";
  web.Cookies = u"a=1; b=2";
  web.IsUserCookies = 0;
  web.IsWebLogin = 0;
  web.ContentTmpl = u"<p>[标签:内容]</p>\r\n[标签:标题]";
  r.WebPublish = {web, rz::PublishTarget{}};
  r.LocalFilePublish.ModuleType = u"LocalFile";
  r.LocalFilePublish.LocalPath = u"/srv/out";
  r.LocalFilePublish.FileNameTmpl = u"[标签:标题].html";
  rz::PublishTarget db;
  db.ModuleType = u"MySql";
  db.SqlHost = u"127.0.0.1";
  db.SqlPsw = u"p'w\"d";
  r.DBPublish = {db};
  r.EnableLocalFile = 1;
  r.PublishMaxCount = u"3-8";
  r.PublishOrder = 2;
  r.Report = u"备注";
  r.EnableFtp = 1;
  r.FtpServer = u"ftp.example";
  r.FtpDir = u"/up/";
  r.GatherInterval = 0;
  r.EnableChinaSrc = 0;
  return r;
}

}  // namespace

TEST(JobRule, EmptyCfgLoadsEveryDefault) {
  auto r = Parse("<Cfg></Cfg>");
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, rz::JobRule{});
  EXPECT_EQ(r->Type, 1);
  EXPECT_EQ(r->Charset, u"自动识别");
  EXPECT_EQ(r->ListUrlRex.ThreadCount, 3);
  EXPECT_EQ(r->ContentRex.ThreadCount, 3);
  EXPECT_EQ(r->TransThreadCount, 3);
  EXPECT_EQ(r->PublishThreadCount, 3);
  EXPECT_EQ(r->GatherInterval, 300);
  EXPECT_EQ(r->TransInterval, 300);
  EXPECT_EQ(r->PublishInterval, 300);
  EXPECT_EQ(r->ContentRex.ImageDir, u"/Image");
  EXPECT_EQ(r->ContentRex.FlashDir, u"/Flash");
  EXPECT_EQ(r->ListUrlRex.Deep, 1);
  EXPECT_EQ(r->FtpPort, u"21");
  EXPECT_EQ(r->FtpDir, u"/");
  EXPECT_EQ(r->KeywordRex.MaxKeyWord, u"0");
  EXPECT_TRUE(r->ContentRex.LabelRex.empty());
  EXPECT_EQ(r->DbSettings, rz::DbSettings{});
}

TEST(JobRule, DefaultRuleIsWrittenInTheFixedOrder) {
  // The fixture is the reviewed file of a default rule: key order, forms and empty lists.
  EXPECT_EQ(pcutil::Utf16ToUtf8(rz::JobRuleXml(rz::JobRule{})),
            Fixture("default-rule.xml").substr(kBom.size()));
}

TEST(JobRule, ValuesReadAsDesigned) {
  struct Case {
    const char* name;
    std::string body;
    std::function<void(const rz::JobRule&)> check;
  };
  const std::vector<Case> cases = {
      {"empty Deep reads 0", "<Cfg><ListUrlRex><Deep></Deep></ListUrlRex></Cfg>",
       [](const rz::JobRule& r) { EXPECT_EQ(r.ListUrlRex.Deep, 0); }},
      {"missing Deep reads 1", "<Cfg><ListUrlRex><ThreadCount>2</ThreadCount></ListUrlRex></Cfg>",
       [](const rz::JobRule& r) {
         EXPECT_EQ(r.ListUrlRex.Deep, 1);
         EXPECT_EQ(r.ListUrlRex.ThreadCount, 2);
       }},
      {"integers are leading decimal numbers",
       "<Cfg><Type> -12abc</Type><PublishOrder>abc</PublishOrder><GatherInterval>+7 ms</GatherInterval>"
       "<PublishInterval>99999999999</PublishInterval><TransInterval/></Cfg>",
       [](const rz::JobRule& r) {
         EXPECT_EQ(r.Type, -12);
         EXPECT_EQ(r.PublishOrder, 0);
         EXPECT_EQ(r.GatherInterval, 7);
         EXPECT_EQ(r.PublishInterval, 2147483647);
         EXPECT_EQ(r.TransInterval, 0);
       }},
      {"present text key without text is empty", "<Cfg><Charset></Charset><FtpDir /></Cfg>",
       [](const rz::JobRule& r) {
         EXPECT_EQ(r.Charset, u"");
         EXPECT_EQ(r.FtpDir, u"");
       }},
      {"empty Url items are dropped",
       "<Cfg><ListUrlRex><Urls><Item>a</Item><Item></Item><Item><![CDATA[]]></Item><Item>b</Item>"
       "</Urls></ListUrlRex></Cfg>",
       [](const rz::JobRule& r) { EXPECT_EQ(r.ListUrlRex.Urls, (std::vector<std::u16string>{u"a", u"b"})); }},
      {"CDATA keeps edge blanks, text loses them",
       "<Cfg><ContentRex><LabelRex><Item><Id>1</Id><LabelName>  标题  </LabelName>"
       "<StartStr><![CDATA[  <h1> ]]></StartStr></Item></LabelRex></ContentRex></Cfg>",
       [](const rz::JobRule& r) {
         ASSERT_EQ(r.ContentRex.LabelRex.size(), 1u);
         EXPECT_EQ(r.ContentRex.LabelRex[0].LabelName, u"标题");
         EXPECT_EQ(r.ContentRex.LabelRex[0].StartStr, u"  <h1> ");
       }},
      {"a repeated label id keeps the first place with the second's settings",
       "<Cfg><ContentRex><LabelRex>"
       "<Item><Id>a</Id><LabelName>one</LabelName><DownImg>1</DownImg></Item>"
       "<Item><Id>b</Id><LabelName>two</LabelName></Item>"
       "<Item><Id>a</Id><LabelName>three</LabelName></Item>"
       "<Item></Item>"
       "</LabelRex></ContentRex></Cfg>",
       [](const rz::JobRule& r) {
         ASSERT_EQ(r.ContentRex.LabelRex.size(), 2u);
         EXPECT_EQ(r.ContentRex.LabelRex[0].Id, u"a");
         EXPECT_EQ(r.ContentRex.LabelRex[0].LabelName, u"three");
         EXPECT_EQ(r.ContentRex.LabelRex[0].DownImg, 0);
         EXPECT_EQ(r.ContentRex.LabelRex[1].LabelName, u"two");
       }},
      {"labels without an id are all kept",
       "<Cfg><ContentRex><LabelRex><Item><LabelName>a</LabelName></Item><Item><LabelName>b</LabelName>"
       "</Item></LabelRex></ContentRex></Cfg>",
       [](const rz::JobRule& r) { EXPECT_EQ(r.ContentRex.LabelRex.size(), 2u); }},
      {"record lists keep empty entries",
       "<Cfg><WebPublish><Item></Item><Item><Name>x</Name><ListIds><Item/><Item><ListId>1</ListId>"
       "</Item></ListIds></Item></WebPublish><DBPublish><Item/></DBPublish></Cfg>",
       [](const rz::JobRule& r) {
         ASSERT_EQ(r.WebPublish.size(), 2u);
         EXPECT_EQ(r.WebPublish[0], rz::PublishTarget{});
         EXPECT_EQ(r.WebPublish[1].ListIds.size(), 2u);
         EXPECT_EQ(r.DBPublish.size(), 1u);
       }},
      {"LocalFilePublish holds its keys directly",
       "<Cfg><LocalFilePublish><LocalPath>/x</LocalPath><IsWebLogin><![CDATA[0]]></IsWebLogin>"
       "</LocalFilePublish></Cfg>",
       [](const rz::JobRule& r) {
         EXPECT_EQ(r.LocalFilePublish.LocalPath, u"/x");
         EXPECT_EQ(r.LocalFilePublish.IsWebLogin, 0);
         EXPECT_EQ(r.LocalFilePublish.Charset, u"utf-8");
       }},
      {"elements in any order, unknown ones and comments ignored",
       "<Cfg><!--note--><Unknown><Type>9</Type></Unknown><JobName>n</JobName><Type>2</Type>"
       "<ListUrlRex>Deep</ListUrlRex></Cfg>",
       [](const rz::JobRule& r) {
         EXPECT_EQ(r.Type, 2);
         EXPECT_EQ(r.JobName, u"n");
         EXPECT_EQ(r.ListUrlRex.Deep, 1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = Parse(c.body);
    ASSERT_TRUE(r);
    c.check(*r);
  }
}

TEST(JobRule, FromIsWrittenButNeverRead) {
  rztest::Sandbox box;
  rz::JobRule changed = RichRule();
  changed.DbSettings = {u"ACCESS", u"db.example", u"admin", u"secret", u"D:\\a.mdb", u"3306", 2};
  changed.Sql = u"select 1";
  changed.AfterSql = u"select 2";
  const std::u16string path = P(box / "Data/Job/from.xml");
  ASSERT_TRUE(rz::SaveJobRule(changed, path));
  ASSERT_NE(rztest::ReadFile(box / "Data/Job/from.xml").find("<From><SqlUser>admin</SqlUser><SqlDb>D:\\a.mdb"),
            std::string::npos);

  auto loaded = rz::ReadJobRuleFile(path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->DbSettings, rz::DbSettings{});
  EXPECT_EQ(loaded->Sql, u"");
  EXPECT_EQ(loaded->AfterSql, u"");
  const std::string again = pcutil::Utf16ToUtf8(rz::JobRuleXml(*loaded));
  EXPECT_NE(again.find("<From><SqlUser>root</SqlUser><SqlDb>kitesoft</SqlDb><Port>7795</Port><SqlPsw></SqlPsw>"
                       "<Type>MySql</Type><SqlHost>127.0.0.1</SqlHost><Sql></Sql><AfterSql></AfterSql></From>"),
            std::string::npos);
}

TEST(JobRule, RoundTripIsByteExact) {
  rztest::Sandbox box;
  const rz::JobRule rule = RichRule();
  ASSERT_TRUE(rz::SaveJobRule(rule));
  const fs::path file = box / ("Data/Job/" + S(rule.JobId) + ".xml");
  const std::string first = rztest::ReadFile(file);
  ASSERT_EQ(first.substr(0, kBom.size() + kDecl.size() + 5), kBom + kDecl + "<Cfg>");

  rz::SiteStore store;
  auto loaded = rz::LoadJobRule(store, rule.JobId);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, rule);
  EXPECT_EQ(store.FindRule(rule.JobId), loaded);
  ASSERT_EQ(store.JobRules.size(), 1u);
  EXPECT_EQ(store.JobRules[0].SiteId, rule.SiteId);

  ASSERT_TRUE(rz::SaveJobRule(*loaded));
  EXPECT_EQ(rztest::ReadFile(file), first);
  // No temporary file is left beside the rule.
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(box / "Data/Job")) ++files;
  EXPECT_EQ(files, 2) << "the template job and this rule";
}

TEST(JobRule, CDataValueHoldingTheEndMarkerSurvives) {
  rz::JobRule rule;
  rule.ListUrlRex.CodeBegin = u"a]]>b]]>]]>";
  rule.ContentRex.MultiPage.MustContent = u"]]>";
  auto loaded = rz::ParseJobRule(rz::JobRuleXml(rule));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->ListUrlRex.CodeBegin, rule.ListUrlRex.CodeBegin);
  EXPECT_EQ(loaded->ContentRex.MultiPage.MustContent, rule.ContentRex.MultiPage.MustContent);
  EXPECT_EQ(rz::JobRuleXml(*loaded), rz::JobRuleXml(rule));
}

TEST(JobRule, UnreadableFilesGiveNoRuleAndStayUntouched) {
  rztest::Sandbox box;
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"white space", "  \r\n "},
      {"not xml", "this is not a rule"},
      {"truncated", CfgBytes("<Cfg><Type>1</Type><JobName>半")},
      {"bad nesting", CfgBytes("<Cfg><Type>1</JobName></Cfg>")},
      {"no Cfg", CfgBytes("<Config><Type>1</Type></Config>")},
      {"bad reference", CfgBytes("<Cfg><JobName>&#65;</JobName></Cfg>")},
      {"binary", std::string("\x00\xFF\xFE\x01zz", 6)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const fs::path file = box / "Data/Job/bad.xml";
    rztest::WriteFile(file, bytes);
    rz::SiteStore store;
    EXPECT_FALSE(rz::LoadJobRule(store, u"bad"));
    EXPECT_TRUE(store.JobRules.empty());
    std::u16string error;
    EXPECT_FALSE(rz::ReadJobRuleFile(P(file), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(rztest::ReadFile(file), bytes);
  }
  rz::SiteStore store;
  EXPECT_FALSE(rz::LoadJobRule(store, u"missing"));
}

TEST(JobRule, PathsWithBackslashesAreAccepted) {
  rztest::Sandbox box;
  rz::JobRule rule;
  rule.JobId = u"j1";
  ASSERT_TRUE(rz::SaveJobRule(rule, P(box.Root()) + u"\\Data\\Job\\j1.xml"));
  EXPECT_TRUE(fs::exists(box / "Data/Job/j1.xml"));
  rz::SiteStore store;
  auto loaded = rz::LoadJobRule(store, u"", P(box.Root()) + u"\\Data\\Job\\j1.xml");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->JobId, u"j1");
}

TEST(JobRule, SavingWithoutIdOrIntoAFileFails) {
  rztest::Sandbox box;
  EXPECT_FALSE(rz::SaveJobRule(rz::JobRule{}));
  rztest::WriteFile(box / "blocker", "x");
  rz::JobRule rule;
  rule.JobId = u"j";
  EXPECT_FALSE(rz::SaveJobRule(rule, P(box / "blocker") + u"/j.xml"));
}

TEST(JobRule, AFailedSaveLeavesTheOldFileWhole) {
  rztest::Sandbox box;
  rz::JobRule rule = RichRule();
  ASSERT_TRUE(rz::SaveJobRule(rule));
  const fs::path file = box / ("Data/Job/" + S(rule.JobId) + ".xml");
  const std::string before = rztest::ReadFile(file);

  // Make the next write run out of room half-way: the file size limit stops it after 1 KB.
  rule.Report = std::u16string(100000, u'长');
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = rz::SaveJobRule(rule);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(rztest::ReadFile(file), before);
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(box / "Data/Job")) ++files;
  EXPECT_EQ(files, 2) << "no temporary file left behind";
}

TEST(JobRule, EveryTruncationOfAFileIsHandled) {
  // A file cut anywhere either fails to load or loads as a rule; it never crashes a reader.
  const std::u16string full = rz::JobRuleXml(RichRule());
  int loaded = 0;
  for (size_t n = 0; n <= full.size(); ++n)
    if (rz::ParseJobRule(full.substr(0, n))) ++loaded;
  EXPECT_GE(loaded, 1) << "the whole file loads";
  EXPECT_LE(loaded, 2) << "only the whole file (and at most one cut at its very end) is well-formed";
}
