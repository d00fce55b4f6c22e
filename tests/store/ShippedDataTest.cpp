// The files shipped in the program folder load and carry what the engine looks up.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "StoreTestUtil.h"
#include "store/JobRule.h"
#include "store/Settings.h"
#include "store/Sites.h"

using namespace storetest;
namespace fs = std::filesystem;

namespace {

// The printf directives of a text, in order ("%s%d"...), "%%" left out.
std::string Directives(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == u'%') {
      size_t j = i + 1;
      while (j < text.size() && (text[j] == u'0' || (text[j] >= u'1' && text[j] <= u'9') || text[j] == u'l'))
        ++j;
      if (j < text.size() && std::u16string_view(u"sdux").find(text[j]) != std::u16string_view::npos)
        out += "%" + S(text.substr(i + 1, j - i));
      i = j;
    }
  return out;
}

}  // namespace

TEST(ShippedData, MessageTextsHaveExactlyTheirPlaceholders) {
  rztest::Sandbox box;
  const auto help = rz::LoadHelpTexts();
  const std::vector<std::pair<std::u16string, std::string>> keys = {
      {u"LogLoadSiteUrls", ""},
      {u"LogDownloadListOk", "%s"},
      {u"LogDownloadListRepeat", "%s"},
      {u"LogDownloadListFail", "%s%s"},
      {u"LogDownloadListResult", "%d%d"},
      {u"LogDownloadContentResult", "%d%d"},
      {u"LogDownloadContentFail", "%s%s"},
      {u"LogDownloadContentNoLabel", "%s%s"},
      {u"LogDownloadContentMust", "%s%s%s"},
      {u"LogDownloadContentForbid", "%s%s%s"},
  };
  for (const auto& [key, directives] : keys) {
    auto it = help.find(key);
    ASSERT_NE(it, help.end()) << S(key);
    EXPECT_FALSE(it->second.empty()) << S(key);
    EXPECT_EQ(Directives(it->second), directives) << S(key);
  }
  EXPECT_NE(pcutil::Format(help.at(u"LogDownloadListFail"), u"http://a/", u"http://a/").find(u"http://a/"),
            std::u16string::npos);
  EXPECT_GT(help.size(), keys.size() + 20);
}

TEST(ShippedData, RewriteCatalogueCoversEveryBuiltInRule) {
  rztest::Sandbox box;
  const auto rules = rz::LoadRewriteRules();
  std::set<std::u16string> ids;
  for (const auto& r : rules) {
    ids.insert(r.Id);
    EXPECT_FALSE(r.Name.empty()) << S(r.Id);
    EXPECT_FALSE(r.Help.empty()) << S(r.Id);
    EXPECT_GE(r.ParamNum, 0);
    EXPECT_LE(r.ParamNum, 3);
  }
  for (int id = 998; id <= 1014; ++id) EXPECT_TRUE(ids.count(U(std::to_string(id)))) << id;
  for (const char16_t* service : {u"YouDao", u"Bing", u"Google"})
    EXPECT_TRUE(std::any_of(rules.begin(), rules.end(),
                            [&](const auto& r) { return r.Id.find(service) != std::u16string::npos; }))
        << S(service);
  // Rules that take no parameters say so in the designed words.
  for (const auto& r : rules) {
    if (r.ParamNum == 0) {
      EXPECT_NE(r.Help.find(rz::kNoParamHelp), std::u16string::npos) << S(r.Id);
    }
  }
}

TEST(ShippedData, KeywordSourcesLoadForBothLanguages) {
  rztest::Sandbox box;
  for (int language : {rz::LanguageChinese, rz::LanguageEnglish}) {
    std::vector<std::u16string> errors;
    const auto sources = rz::LoadKeywordSources(language, &errors);
    EXPECT_TRUE(errors.empty()) << language;
    EXPECT_FALSE(sources.Related.empty()) << language;
    EXPECT_FALSE(sources.Content.empty()) << language;
    for (const auto& list : sources.Related) {
      ASSERT_FALSE(list.Urls.empty());
      EXPECT_NE(list.Urls[0].find(u"[澜岳参数]"), std::u16string::npos);
      EXPECT_FALSE(list.RealUrl.empty()) << "the charset";
      EXPECT_FALSE(list.CodeBegin.empty());
    }
    for (const auto& source : sources.Content) {
      EXPECT_NE(source.List.Urls.at(0).find(u"[澜岳参数]"), std::u16string::npos);
      ASSERT_FALSE(source.Content.LabelRex.empty());
      EXPECT_EQ(source.Content.LabelRex[0].LabelName, u"标题");
    }
  }
}

TEST(ShippedData, SynonymListsAreGbkWithHundredsOfGroups) {
  rztest::Sandbox box;
  for (int language : {rz::LanguageChinese, rz::LanguageEnglish}) {
    std::vector<std::u16string> errors;
    const auto groups = rz::LoadSynonyms(language, &errors);
    EXPECT_GE(groups.size(), 300u) << language;
    EXPECT_TRUE(errors.empty());
    for (const auto& g : groups) {
      EXPECT_GE(g.size(), 2u) << S(g[0]);
      for (const auto& w : g) EXPECT_EQ(w.find(u'\uFFFD'), std::u16string::npos);
    }
  }
  EXPECT_EQ(rz::LoadSynonyms(rz::LanguageChinese)[0][0], u"美丽");
  // GBK bytes on disk, not UTF-8.
  const std::string raw = rztest::ReadFile(box / "System/中文同义词库.txt");
  EXPECT_EQ(raw.substr(0, 4), pcutil::Utf16ToLocal(u"美丽"));
}

TEST(ShippedData, TemplateJobIsCanonicalWithATitleAndABody) {
  rztest::Sandbox box;
  rz::SiteStore store;
  auto rule = rz::LoadJobRule(store, rz::kTemplateJobId);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->JobId, rz::kTemplateJobId);
  ASSERT_EQ(rule->ContentRex.LabelRex.size(), 2u);
  EXPECT_EQ(rule->ContentRex.LabelRex[0].LabelName, u"标题");
  EXPECT_EQ(rule->ContentRex.LabelRex[1].LabelName, u"内容");
  const std::string shipped = rztest::ReadFile(box / ("Data/Job/" + S(rz::kTemplateJobId) + ".xml"));
  EXPECT_EQ(kBom + pcutil::Utf16ToUtf8(rz::JobRuleXml(*rule)), shipped) << "written as the program writes it";
}
