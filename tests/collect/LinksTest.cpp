#include <gtest/gtest.h>

#include "collect/Links.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace {

using pcutil::U16;
const std::u16string kBase = u"http://s/dir/list.html";

std::vector<std::string> Urls(const std::string& page, const std::u16string& base = kBase) {
  std::vector<rz::Link> links;
  rz::ExtractLinks(U16(page.c_str()), base, links);
  std::vector<std::string> out;
  for (auto& l : links) out.push_back(pcutil::Utf16ToUtf8(l.Url));
  return out;
}

using V = std::vector<std::string>;

TEST(ExtractLinks, AddressesAsPagesWriteThem) {
  struct Case {
    const char* name;
    const char* page;
    V expected;
  } cases[] = {
      {"double quoted", R"(<a href="a.html">A</a>)", {"http://s/dir/a.html"}},
      {"single quoted", R"(<a href='a.html'>A</a>)", {"http://s/dir/a.html"}},
      {"quoted value ends at its quote", R"(<a href="x"/>)", {"http://s/dir/x"}},
      {"quote then attributes", R"(<a href="a.html" class="c">A</a>)", {"http://s/dir/a.html"}},
      {"unquoted ends at a space", R"(<a href=a.html class=c>A</a>)", {"http://s/dir/a.html"}},
      {"unquoted ends at a tab", "<a href=a.html\tclass=c>A</a>", {"http://s/dir/a.html"}},
      {"unquoted ends at a line feed", "<a href=a.html\nclass=c>A</a>", {"http://s/dir/a.html"}},
      {"attributes on the next line", "<a href=\"a.html\"\r\n   target=\"_blank\">A</a>",
       {"http://s/dir/a.html"}},
      {"line breaks inside the quotes", "<a href=\"/news/\r\n\t2.html\">A</a>",
       {"http://s/news/2.html"}},
      {"upper-case attribute", R"(<A HREF="a.html">A</A>)", {"http://s/dir/a.html"}},
      {"root relative", R"(<a href="/x/1.html">)", {"http://s/x/1.html"}},
      {"parent relative", R"(<a href="../up.html">)", {"http://s/up.html"}},
      {"absolute http", R"(<a href="http://o/x.html">)", {"http://o/x.html"}},
      {"absolute https stays", R"(<a href="https://o/x.html">)", {"https://o/x.html"}},
      {"scheme-relative takes the base scheme", R"(<a href="//cdn.o/x.html">)",
       {"http://cdn.o/x.html"}},
      {"quoted value with a space", R"(<a href="a b.html">)", {"http://s/dir/a b.html"}},
      {"empty value is no link", R"(<a href="">x</a><a href=b.html>)", {"http://s/dir/b.html"}},
      {"javascript resolves like a relative link", R"h(<a href="javascript:void(0)">)h",
       {"http://s/dir/javascript:void(0)"}},
      {"apostrophes removed", R"(<a href="it's.html">)", {"http://s/dir/its.html"}},
      {"two anchors in order", R"(<a href="1.html">1</a><a href="2.html">2</a>)",
       {"http://s/dir/1.html", "http://s/dir/2.html"}},
      {"frames", R"(<frameset><frame src="left.html"><frame src=main.html name=m></frameset>)",
       {"http://s/dir/left.html", "http://s/dir/main.html"}},
      {"url= when anchors are few", R"(<meta http-equiv="refresh" content="0;url=http://s/next.html">)",
       {"http://s/next.html"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Urls(c.page), c.expected) << c.name;
}

TEST(ExtractLinks, UrlAttributesOnlyWhenFewerThanFiveLinks) {
  std::string page;
  for (int i = 0; i < 5; ++i) page += "<a href=\"" + std::to_string(i) + ".html\">x</a>";
  page += "<meta content=\"0;url=http://s/next.html\">";
  EXPECT_EQ(Urls(page).size(), 5u);
}

TEST(ExtractLinks, LinkTextWithoutTags) {
  std::vector<rz::Link> links;
  rz::ExtractLinks(u"<li><a href=\"a.html\" title=\"t\"><b>标题</b> one</a></li>"
                   u"<a href=\"b.html\"><img src=\"i.gif\"></a>",
                   kBase, links);
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].Text, u"标题 one");
  EXPECT_EQ(links[1].Text, u"");
  EXPECT_EQ(rz::LinkText(u"x<a href=q>y</a>", 1), u"");  // another anchor inside: no text
}

TEST(DecodeCharRefs, NamedAndNumeric) {
  EXPECT_EQ(rz::DecodeCharRefs(u"a&amp;b&#38;c&#x26;d&#X26;e&lt;&gt;&quot;"), u"a&b&c&d&e<>\"");
  EXPECT_EQ(rz::DecodeCharRefs(u"&amp;lt; &#20013; &#x1F600;"), u"&lt; 中 \U0001F600");
  // unfinished or out of range references stay as written
  EXPECT_EQ(rz::DecodeCharRefs(u"&#38 &#xZZ; &#1114112; &nbsp;"), u"&#38 &#xZZ; &#1114112; &nbsp;");
}

TEST(WildcardToPattern, EscapesAllButProtectedTokens) {
  EXPECT_EQ(rz::WildcardToPattern(u"a.b(*)c?[参数]", {u"(*)", u"[参数]"}), u"a\\.b(*)c\\?[参数]");
  EXPECT_EQ(rz::WildcardToPattern(u"\\^[?+().$*|]{}-", {}),
            u"\\\\\\^\\[\\?\\+\\(\\)\\.\\$\\*\\|]{}-");
  EXPECT_EQ(rz::WildcardToPattern(u"/news/|/info/", {u"|", u"(*)"}), u"/news/|/info/");
}

TEST(CodeArea, MarkersAndFallbacks) {
  const std::u16string page = u"<div id=nav>n</div><UL class=list>\n<li>1</li>\n</ul><ul>2</ul>";
  EXPECT_EQ(rz::CodeArea(u"", u"", page), page);
  EXPECT_EQ(rz::CodeArea(u" <ul class=list> ", u"</ul>", page), u"\n<li>1</li>\n");
  EXPECT_EQ(rz::CodeArea(u"<ul(*)>", u"</ul>", page), u"\n<li>1</li>\n");
  EXPECT_EQ(rz::CodeArea(u"<table>", u"</table>", page), u"");
  EXPECT_THROW(rz::CodeArea(u"<ul(", u"</ul>", page), pcutil::RegexError);
}

TEST(UrlAllowed, MustAndNot) {
  struct Case {
    const char16_t* must;
    const char16_t* not_;
    const char16_t* url;
    bool allowed;
  } cases[] = {
      {u"", u"", u"http://s/anything", true},
      {u"/news/|/info/", u"", u"http://s/news/1.html", true},
      {u"/news/|/info/", u"", u"http://s/INFO/2.html", true},
      {u"/news/|/info/", u"", u"http://s/about.html", false},
      {u"", u"(*).jpg", u"http://s/a.jpg", false},
      {u"", u"(*).jpg", u"http://s/a.html", true},
      {u"show.asp?id=", u"", u"http://s/show.asp?id=5", true},
      {u"show.asp?id=", u"", u"http://s/showXasp?id=5", false},  // "." and "?" are literal
      {u"/news/", u"/news/old", u"http://s/news/old/1.html", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rz::UrlAllowed(c.must, c.not_, c.url), c.allowed) << pcutil::Utf16ToUtf8(c.url);
}

class ListPageLinksTest : public ::testing::Test {
 protected:
  void SetUp() override { pcutil::SetFixedPauseMs(0); }
};

TEST_F(ListPageLinksTest, AreaFiltersAndDecoding) {
  rz::ListRule rule;
  rule.CodeBegin = u"<ul class=\"list\">";
  rule.CodeEnd = u"</ul>";
  rule.MustUrls = u"/news/";
  const std::u16string page =
      u"<a href=\"/news/outside.html\">o</a><ul class=\"list\">"
      u"<li><a href=\"/news/1.html?a=1&amp;b=2\" target=_blank>1</a></li>"
      u"<li><a href=\"/news/2.html?a=1&#38;b=2\">2</a></li>"
      u"<li><a href=\"/news/3.html?a=1&#x26;b=2\">3</a></li>"
      u"<li><a href=\"/about.html\">about</a></li>"
      u"<li><a href=/news/4.html target=_blank>4</a></li></ul>";
  EXPECT_EQ(rz::ListPageLinks(rule, page, u"http://s/list.html"),
            (std::vector<std::u16string>{u"http://s/news/1.html?a=1&b=2",
                                         u"http://s/news/2.html?a=1&b=2",
                                         u"http://s/news/3.html?a=1&b=2",
                                         u"http://s/news/4.html"}));
}

TEST_F(ListPageLinksTest, BaseElement) {
  rz::ListRule rule;
  rule.CodeBegin = u"<body>";
  rule.CodeEnd = u"</body>";
  EXPECT_EQ(rz::ListPageLinks(rule, u"<base href=\"http://a/b/\"><body><a href=\"x.html\">x</a></body>",
                              u"http://s/list.html"),
            (std::vector<std::u16string>{u"http://a/b/x.html"}));
}

TEST_F(ListPageLinksTest, ManualPattern) {
  rz::ListRule rule;
  rule.IsByHand = 1;
  rule.UrlJs = u"show.asp?id=[参数]\"";
  rule.RealUrl = u"http://s/show.asp?id=[参数1]";
  const std::u16string page =
      u"<a href=\"show.asp?id=5\">5</a> <a href=\"show.asp?id=7\">7</a>";
  EXPECT_EQ(rz::ListPageLinks(rule, page, u"http://s/list.html"),
            (std::vector<std::u16string>{u"http://s/show.asp?id=5", u"http://s/show.asp?id=7"}));
  rule.UrlJs = u"openNews((*),'[参数]','[参数]')";
  rule.RealUrl = u"http://s/[参数2]/[参数1].html";
  EXPECT_EQ(rz::ListPageLinks(rule, u"openNews(0,'11','2024') openNews(1,'12','2025')", u""),
            (std::vector<std::u16string>{u"http://s/2024/11.html", u"http://s/2025/12.html"}));
  rule.UrlJs.clear();  // an empty manual pattern finds nothing rather than everything
  EXPECT_TRUE(rz::ListPageLinks(rule, page, u"http://s/list.html").empty());
}

TEST_F(ListPageLinksTest, LongPagesWithLazyMarkers) {
  // A 600 KB list page: the lazy area pattern and the extractor get through it.
  std::u16string page = u"<html><body>";
  while (page.size() < 600 * 1024) page += u"<p>filler text that is not a link at all</p>\n";
  page += u"<div class=\"list\">";
  for (int i = 0; i < 2000; ++i)
    page += pcutil::Format(u"<li><a href=\"/a/%d.html\">article %d</a></li>\n", i, i);
  page += u"</div>";
  while (page.size() < 1300 * 1024) page += u"<p>more filler</p>\n";
  rz::ListRule rule;
  rule.CodeBegin = u"<div class=\"list\">";
  rule.CodeEnd = u"</div>";
  auto links = rz::ListPageLinks(rule, page, u"http://s/");
  ASSERT_EQ(links.size(), 2000u);
  EXPECT_EQ(links.back(), u"http://s/a/1999.html");
}

TEST_F(ListPageLinksTest, RunawayPatternIsAnErrorNotACrash) {
  rz::ListRule rule;
  rule.CodeBegin = u"(a+)+b";
  rule.CodeEnd = u"c";
  EXPECT_THROW(rz::ListPageLinks(rule, std::u16string(40, u'a') + u"!bc", u"http://s/"),
               pcutil::RegexError);
  rule.CodeBegin.clear();
  rule.CodeEnd.clear();
  rule.MustUrls = u"x{3,1}";  // not a valid count: the user's filter does not compile
  EXPECT_THROW(rz::ListPageLinks(rule, u"<a href=\"a.html\">", u"http://s/"), pcutil::RegexError);
}

}  // namespace
