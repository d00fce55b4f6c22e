#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "StoreTestUtil.h"
#include "foundation/Pause.h"
#include "store/Settings.h"
#include "xml/Xml.h"

using namespace storetest;
namespace fs = std::filesystem;

TEST(Settings, MissingFileKeepsDefaults) {
  rztest::Sandbox box;
  rz::AppSettings s;
  s.MaxJobCount = 9;
  EXPECT_FALSE(rz::LoadSettings(s));
  EXPECT_EQ(s.MaxJobCount, 9);
  rz::AppSettings d;
  EXPECT_EQ(d.Database(), rz::DbSettings{});
  EXPECT_EQ(d.MaxRepeatCount, 20);
  EXPECT_EQ(d.ArticleSplit, u"</p>>");
  EXPECT_EQ(d.ArticleTag, u"内容");
  EXPECT_EQ(d.EffectiveUserAgent(), rz::kDefaultUserAgent);
}

TEST(Settings, KeysReadAsDesigned) {
  struct Case {
    const char* name;
    std::string body;
    std::function<void(const rz::AppSettings&)> check;
  };
  const std::vector<Case> cases = {
      {"missing MaxRepeatCount is 20", "<Cfg><MaxJobCount><![CDATA[5]]></MaxJobCount></Cfg>",
       [](const rz::AppSettings& s) {
         EXPECT_EQ(s.MaxRepeatCount, 20);
         EXPECT_EQ(s.MaxJobCount, 5);
       }},
      {"empty CDATA MaxRepeatCount is 0", "<Cfg><MaxRepeatCount><![CDATA[]]></MaxRepeatCount></Cfg>",
       [](const rz::AppSettings& s) { EXPECT_EQ(s.MaxRepeatCount, 0); }},
      {"database keys", "<Cfg><DBTYPE><![CDATA[ACCESS]]></DBTYPE><SqlDb>D:\\a.mdb</SqlDb><Port>3306</Port></Cfg>",
       [](const rz::AppSettings& s) {
         EXPECT_EQ(s.Database().Type, u"ACCESS");
         EXPECT_EQ(s.Database().SqlDb, u"D:\\a.mdb");
         EXPECT_EQ(s.Database().Port, u"3306");
         EXPECT_EQ(s.Database().SqlHost, u"127.0.0.1");
       }},
      {"our pause key", "<Cfg><FixedPauseMs><![CDATA[0]]></FixedPauseMs></Cfg>",
       [](const rz::AppSettings& s) { EXPECT_EQ(s.FixedPauseMs, 0); }},
      {"user agent", "<Cfg><UserAgent><![CDATA[ Bot/1.0 ]]></UserAgent></Cfg>",
       [](const rz::AppSettings& s) { EXPECT_EQ(s.EffectiveUserAgent(), u" Bot/1.0 "); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rz::AppSettings s;
    ASSERT_TRUE(rz::ParseSettings(U(kDecl + c.body), s));
    c.check(s);
  }
}

TEST(Settings, RoundTripAndKeyOrder) {
  rztest::Sandbox box;
  rz::AppSettings s;
  s.SqlPsw = u"p'w<d>";
  s.LastTestHtml = u"  <html>\r\n<body>测试</body></html>  ";
  s.LocoyDir = u"D:\\火车头\\";
  s.OrigType = 1;
  s.CloseLogView = 1;
  s.FixedPauseMs = 0;
  ASSERT_TRUE(rz::SaveSettings(s));
  const std::string bytes = rztest::ReadFile(box / "User/Cfg.xml");
  rz::AppSettings loaded;
  ASSERT_TRUE(rz::LoadSettings(loaded));
  EXPECT_EQ(loaded, s);
  ASSERT_TRUE(rz::SaveSettings(loaded));
  EXPECT_EQ(rztest::ReadFile(box / "User/Cfg.xml"), bytes);

  const std::vector<std::string> order = {
      "<DBTYPE><![CDATA[MySql]]></DBTYPE>", "<SqlHost>127.0.0.1</SqlHost>", "<SqlDb>kitesoft</SqlDb>",
      "<SqlUser>root</SqlUser>", "<SqlPsw>p&apos;w&lt;d&gt;</SqlPsw>", "<Port>7795</Port>", "<LocoyDir>",
      "<ArticleNum>", "<IsRanWeb>", "<LastTestHtml>", "<MaxRepeatCount><![CDATA[20]]>",
      "<MaxJobCount><![CDATA[3]]>", "<CloseLogView><![CDATA[1]]>", "<IsFirstRun><![CDATA[1]]>",
      "<UserAgent><![CDATA[]]>", "<OrigType><![CDATA[1]]>", "<ArticleNumEx><![CDATA[10]]>",
      "<ArticleSplit><![CDATA[</p>>]]>", "<ArticleTag><![CDATA[内容]]>",
      "<FixedPauseMs><![CDATA[0]]></FixedPauseMs>", "<YouDaoServer><![CDATA[]]></YouDaoServer>",
      "<GoogleServer><![CDATA[]]></GoogleServer>", "<BingServer><![CDATA[]]></BingServer>",
      "<BingAppId><![CDATA[]]></BingAppId>", "<UiPort><![CDATA[7796]]></UiPort>",
      "<SiteUrl><![CDATA[https://rizede.example]]></SiteUrl>", "<StartPageUrl><![CDATA[]]></StartPageUrl>",
      "<UpdateServer><![CDATA[]]></UpdateServer></Cfg>"};
  size_t at = 0;
  for (const auto& key : order) {
    size_t found = bytes.find(key, at);
    ASSERT_NE(found, std::string::npos) << key;
    at = found + key.size();
  }
}

TEST(Settings, GlobalLoadHandsThePauseToTheWorkers) {
  rztest::Sandbox box;
  rztest::WriteFile(box / "User/Cfg.xml", CfgBytes("<Cfg><FixedPauseMs><![CDATA[7]]></FixedPauseMs></Cfg>"));
  const int before = pcutil::FixedPauseMs();
  EXPECT_TRUE(rz::LoadGlobalSettings());
  EXPECT_EQ(rz::GlobalSettings().FixedPauseMs, 7);
  EXPECT_EQ(pcutil::FixedPauseMs(), 7);
  pcutil::SetFixedPauseMs(before);
  rz::GlobalSettings() = rz::AppSettings{};
}

TEST(Settings, UnreadableFileLeavesDefaults) {
  rztest::Sandbox box;
  rztest::WriteFile(box / "User/Cfg.xml", "<Cfg><MaxJobCount>");
  rz::AppSettings s;
  EXPECT_FALSE(rz::LoadSettings(s));
  EXPECT_EQ(s, rz::AppSettings{});
  EXPECT_EQ(rztest::ReadFile(box / "User/Cfg.xml"), "<Cfg><MaxJobCount>");
}

TEST(RewriteCatalogue, MergesUserShippedAndPluginEntries) {
  rztest::Sandbox box;
  const std::vector<rz::RewriteRuleEntry> shipped = {
      {u"999", u"中文同义词", u"", u"", u"", u"shipped help", u"", 0},
      {u"1000", u"打乱段落", u"</p>", u"", u"", u"h", u"", 1},
  };
  const std::vector<rz::RewriteRuleEntry> user = {
      {u"mine", u"我的规则", u"a", u"b", u"c", u"user help", u"http://h/", 3},
      {u"1000", u"用户改过的名字", u"<br>", u"", u"", u"", u"", 1},
  };
  rztest::WriteFile(box / "System/Original.xml", pcutil::Utf16ToUtf8(rz::RewriteRulesXml(shipped)));
  ASSERT_TRUE(rz::SaveRewriteRules(user));
  fs::remove_all(box / "Plugin");  // only this test's plug-ins, not the shipped example
  fs::create_directories(box / "Plugin");
  for (const char* f : {"zeta.php", "alpha.php", "notes.txt"}) rztest::WriteFile(box / "Plugin" / f, "<?php ?>");
  const std::vector<rz::RewriteRuleEntry> pluginHelp = {{u"alpha", u"甲插件", u"[DB:内容]", u"", u"", u"插件说明", u"", 1}};
  rztest::WriteFile(box / "Plugin/Help.xml", pcutil::Utf16ToUtf8(rz::RewriteRulesXml(pluginHelp)));

  const auto list = rz::LoadRewriteRules();
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0], user[0]);
  EXPECT_EQ(list[1], shipped[1]) << "the user's 1000 keeps its place, with the shipped fields";
  EXPECT_EQ(list[2], shipped[0]);
  EXPECT_EQ(list[3], (rz::RewriteRuleEntry{u"alpha(PHP)", u"甲插件(PHP)", u"[DB:内容]", u"", u"", u"插件说明", u"", 1}));
  EXPECT_EQ(list[4], (rz::RewriteRuleEntry{u"zeta(PHP)", u"zeta(PHP)", u"", u"", u"", rz::kNoParamHelp, u"", 3}));

  // Without the user's file and plug-ins the shipped entries remain.
  fs::remove(box / "User/Original.xml");
  fs::remove_all(box / "Plugin");
  EXPECT_EQ(rz::LoadRewriteRules(), shipped);
}

TEST(RewriteCatalogue, UserFileRoundTrips) {
  rztest::Sandbox box;
  const std::vector<rz::RewriteRuleEntry> rules = {
      {u"1", u" 名字 ", u" p1 ", u"p]]>2", u"\r\n", u"多行\n帮助", u"http://h/?a=1&b=2", 2}};
  ASSERT_TRUE(rz::SaveRewriteRules(rules));
  const std::string bytes = rztest::ReadFile(box / "User/Original.xml");
  EXPECT_EQ(rz::ReadRewriteRuleFile(P(box / "User/Original.xml")), rules);
  ASSERT_TRUE(rz::SaveRewriteRules(rz::ReadRewriteRuleFile(P(box / "User/Original.xml"))));
  EXPECT_EQ(rztest::ReadFile(box / "User/Original.xml"), bytes);
}

TEST(Synonyms, LinesBecomeGroups) {
  EXPECT_EQ(rz::ParseSynonyms(u"美丽|漂亮|好看\r\n\r\n单独\n|a||b|\r\nx"),
            (std::vector<rz::SynonymGroup>{{u"美丽", u"漂亮", u"好看"}, {u"单独"}, {u"a", u"b"}, {u"x"}}));
  EXPECT_TRUE(rz::ParseSynonyms(u"").empty());
  EXPECT_TRUE(rz::ParseSynonyms(u"\r\n|||\n").empty());
}

TEST(Synonyms, SystemThenUserListsReadAsGbk) {
  rztest::Sandbox box;
  rztest::WriteFile(box / "System/中文同义词库.txt", pcutil::Utf16ToLocal(u"迅速|快速\r\n美丽|漂亮|好看\r\n"));
  rztest::WriteFile(box / "User/中文同义词库.txt", pcutil::Utf16ToLocal(u"开始|起初"));
  std::vector<std::u16string> errors;
  const auto groups = rz::LoadSynonyms(rz::LanguageChinese, &errors);
  EXPECT_EQ(groups, (std::vector<rz::SynonymGroup>{{u"迅速", u"快速"}, {u"美丽", u"漂亮", u"好看"}, {u"开始", u"起初"}}));
  EXPECT_TRUE(errors.empty());

  fs::remove(box / "System/英文同义词库.txt");
  rztest::WriteFile(box / "User/英文同义词库.txt", "\r\n");
  EXPECT_TRUE(rz::LoadSynonyms(rz::LanguageEnglish, &errors).empty());
  EXPECT_EQ(errors, (std::vector<std::u16string>{u"读取同义词库失败！"}));
}

TEST(KeywordSources, BrokenFileIsReportedAndTheOtherStillRead) {
  rztest::Sandbox box;
  rz::ListRule related;
  related.Urls = {u"http://127.0.0.1:1/s?q=[澜岳参数]"};
  related.RealUrl = u"gb2312";
  related.CodeBegin = u"<div id=\"rs\">";
  std::u16string xml;
  {
    pcutil::CXmlTextWriter w(xml);
    w.WriteDeclaration(u"1.0", u"utf-8");
    w.OpenElement(u"Cfg");
    w.OpenElement(u"Item");
    rz::WriteListRule(w, related);
    w.CloseElement();
    w.OpenElement(u"Item");  // an item without a list rule is skipped
    w.CloseElement();
    w.CloseElement();
  }
  rztest::WriteFile(box / "System/KeyWord/KeyWords.xml", pcutil::Utf16ToUtf8(xml));
  rztest::WriteFile(box / "System/KeyWord/KeyContent.xml", "<Cfg><Item>");
  std::vector<std::u16string> errors;
  const auto sources = rz::LoadKeywordSources(rz::LanguageChinese, &errors);
  ASSERT_EQ(sources.Related.size(), 1u);
  EXPECT_EQ(sources.Related[0], related);
  EXPECT_TRUE(sources.Content.empty());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].starts_with(u"读取相关关键字规则出错:"));
  EXPECT_TRUE(errors[0].ends_with(u"KeyContent.xml"));
}
