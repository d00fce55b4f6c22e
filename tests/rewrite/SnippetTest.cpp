// Snippet rules (1003, 1005, 1006, 1009, 1012) and related keywords (1014) against local pages.
#include <gtest/gtest.h>

#include <set>

#include "HttpFixture.h"
#include "RewriteTestUtil.h"
#include "Sandbox.h"
#include "rewrite/Rewrite.h"
#include "rewrite/Rules.h"

using namespace rwtest;

namespace {

std::set<std::string> Snippets(const char* id, const char* source, const char* count, const char* marks,
                               const char* text, const rz::RewriteFields* item = nullptr, int runs = 40) {
  std::set<std::string> seen;
  for (int seed = 1; seed <= runs; ++seed) {
    rz::SeedRewriteRandom(static_cast<unsigned>(seed));
    std::u16string t = U(text);
    EXPECT_TRUE(rz::InsertSnippets(t, U(id), seed, U(source), U(count), U(marks), item)) << id;
    seen.insert(S(t));
  }
  return seen;
}

// Related-keyword sources pointing at the local site: two pages of two keywords each.
void WriteKeywordSources(const rztest::Sandbox& box, const rztest::HttpFixture& site) {
  std::string xml = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg>";
  for (const char* path : {"/s1", "/s2"}) {
    xml += "<Item><ListUrlRex><Deep>1</Deep><Urls><Item>" + site.Url(path) +
           "?wd=[澜岳参数]</Item></Urls><CodeBegin><![CDATA[<div id=\"rs\">]]></CodeBegin>"
           "<CodeEnd><![CDATA[</div>]]></CodeEnd><RealUrl><![CDATA[utf-8]]></RealUrl></ListUrlRex></Item>";
  }
  xml += "</Cfg>";
  rztest::WriteFile(box / "System/KeyWord/KeyWords.xml", xml);
}

std::string ResultPage(const char* a, const char* b) {
  return std::string("<html><body><a href=/x>outside</a><div id=\"rs\"><a href=\"/k?1\"> ") + a +
         " </a><a href=\"/k?2\">" + b + "</a></div></body></html>";
}

}  // namespace

TEST(SnippetRules, StartEndAndEmptyCases) {
  EXPECT_EQ(Snippets("1005", "A|B", "0", "", "x"), (std::set<std::string>{"Ax", "Bx"}));
  EXPECT_EQ(Snippets("1006", "A|B", "9", "。", "x"), (std::set<std::string>{"xA", "xB"}));
  EXPECT_EQ(Snippets("1003", "A|B", "0", "", "一。二。"), (std::set<std::string>{"一。二。"}));
  EXPECT_EQ(Snippets("1003", "", "3", "", "一。二。"), (std::set<std::string>{"一。二。"}));
  EXPECT_EQ(Snippets("1003", "A", "3", "", ""), (std::set<std::string>{""}));
  EXPECT_EQ(Snippets("1006", "||", "1", "", "x"), (std::set<std::string>{"x"}));
}

TEST(SnippetRules, InsertionsBeforeOrAfterMarks) {
  for (const char* id : {"1003", "1012"}) {
    const bool after = std::string(id) == "1012";
    for (const auto& s : Snippets(id, "S", "5", "。", "一。二。")) {
      const std::u16string t = U(s);
      EXPECT_EQ(Count(t, u"S"), 2u) << s;  // N is lowered to the two sentences
      std::u16string stripped = t;
      std::erase(stripped, u'S');
      EXPECT_EQ(S(stripped), "一。二。");
      for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != u'S') continue;
        if (after)
          EXPECT_TRUE(i > 0 && (t[i - 1] == u'。' || t[i - 1] == u'S')) << s;
        else
          EXPECT_TRUE(i + 1 < t.size() && (t[i + 1] == u'。' || t[i + 1] == u'S')) << s;
      }
    }
  }
}

TEST(SnippetRules, InsertionsWithoutMarksMoveForward) {
  for (const auto& s : Snippets("1003", "[1]|[2]", "3", "", "abcdefghij")) {
    std::u16string t = U(s);
    EXPECT_EQ(Count(t, u"[1]") + Count(t, u"[2]"), 3u) << s;
    std::u16string stripped = pcutil::ReplaceAll(pcutil::ReplaceAll(t, u"[1]", u""), u"[2]", u"");
    EXPECT_EQ(stripped, u"abcdefghij");
    EXPECT_NE(t.substr(t.size() - 1), u"]") << "never inserted at the very end: " << s;
  }
}

TEST(SnippetRules, CounterPicksTheSnippetInTurn) {
  for (int counter : {3, 4, 5}) {
    std::u16string t = U("一。二。三。");
    ASSERT_TRUE(rz::InsertSnippets(t, u"1009", counter, u"A|B|C", u"3", U("。"), nullptr));
    const char16_t expected = u"ABC"[counter % 3];
    EXPECT_EQ(Count(t, std::u16string(1, expected)), 3u) << S(t);
    EXPECT_EQ(t.size(), U("一。二。三。").size() + 3);
  }
}

TEST(SnippetRules, LabelTagsFilesAndPages) {
  rztest::Sandbox box;
  rz::RewriteFields item;
  item[U("标题")] = U("a'b");
  EXPECT_EQ(Snippets("1005", "[DB:标题]的相关内容", "0", "", "x", &item),
            (std::set<std::string>{"a\\'b的相关内容x"}));

  rztest::WriteFile(box / "snippets.txt", "\xEF\xBB\xBF" "文件甲|文件乙");
  const std::string absolute = (box / "snippets.txt").string();
  EXPECT_EQ(Snippets("1006", absolute.c_str(), "0", "", "x"), (std::set<std::string>{"x文件甲", "x文件乙"}));
  EXPECT_EQ(Snippets("1006", "snippets.txt", "0", "", "x"), (std::set<std::string>{"x文件甲", "x文件乙"}));
  EXPECT_EQ(Snippets("1006", "no-such-file.txt", "0", "", "x"), (std::set<std::string>{"xno-such-file.txt"}));

  rztest::HttpFixture site;
  site.Serve("/gbk", rztest::Page(pcutil::EncodeCharset(U("页甲|页乙"), "gbk"), "text/plain"));
  site.Serve("/utf8", rztest::Page("页丙", "text/plain"));
  const std::string kite = "KITE://" + site.HostPort() + "/gbk";
  EXPECT_EQ(Snippets("1006", kite.c_str(), "0", "", "x", nullptr, 6), (std::set<std::string>{"x页甲", "x页乙"}));
  const std::string kites = "KITES://" + site.HostPort() + "/utf8";
  std::u16string t = u"x";
  // KITES:// selects UTF-8 and https; the plain local site cannot answer over TLS.
  EXPECT_FALSE(rz::InsertSnippets(t, u"1006", 1, U(kites), u"0", u"", nullptr));
  rztest::HttpFixture secure(rztest::HttpFixture::Scheme::Https);
  secure.Serve("/utf8", rztest::Page("页丙", "text/plain"));
  t = u"x";
  EXPECT_TRUE(rz::InsertSnippets(t, u"1006", 1, U("KITES://" + secure.HostPort() + "/utf8"), u"0", u"", nullptr));
  EXPECT_EQ(S(t), "x页丙");

  const std::string missing = "KITE://" + site.HostPort() + "/missing";
  t = u"x";
  EXPECT_FALSE(rz::ApplyRewriteRules(t, {Rule("1006", missing.c_str())}, nullptr, 1));
  EXPECT_EQ(t, u"x");
}

TEST(KeywordRules, RelatedKeywordsFromTheSources) {
  rztest::Sandbox box;
  rztest::HttpFixture site;
  WriteKeywordSources(box, site);
  site.Serve("/s1", rztest::Page(ResultPage("k1", "k2"), "text/html; charset=utf-8"));
  site.Serve("/s2", rztest::Page(ResultPage("k3", "k4"), "text/html; charset=utf-8"));

  std::u16string text = u"t";
  ASSERT_TRUE(rz::ApplyRewriteRules(text, {Rule("1014", "3", ",")}, nullptr, 1));
  EXPECT_EQ(text, u"t,k1,k2,k3");
  ASSERT_EQ(site.Requests().size(), 2u);
  EXPECT_EQ(site.Requests()[0].Target, "/s1?wd=t");

  // Enough keywords after the first source: the second is not asked.
  site.ClearRequests();
  text = U("关键");
  ASSERT_TRUE(rz::LookUpRelatedKeywords(u"|", text, 2, false));
  EXPECT_EQ(text, u"k1|k2");
  ASSERT_EQ(site.Requests().size(), 1u);
  EXPECT_EQ(site.Requests()[0].Target, "/s1?wd=%E5%85%B3%E9%94%AE");

  // The keyword tag of the snippet rules.
  rz::RewriteFields item;
  item[U("标题")] = U("标题");
  EXPECT_EQ(Snippets("1006", "[百度相关关键字]", "0", "", "x", &item, 8),
            (std::set<std::string>{"xk1", "xk2", "xk3", "xk4"}));

  // A source that cannot be downloaded fails 1014 and leaves the title in the tag's place.
  site.Serve("/s1", rztest::HttpReply{404, {}, "gone"});
  text = u"t";
  EXPECT_FALSE(rz::ApplyRewriteRules(text, {Rule("1014", "3", ",")}, nullptr, 1));
  EXPECT_EQ(text, u"t");
  EXPECT_EQ(Snippets("1006", "[百度相关关键字]|", "0", "", "x", &item, 4), (std::set<std::string>{"x标题"}));
}
