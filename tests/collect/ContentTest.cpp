#include <gtest/gtest.h>

#include <map>

#include "Sandbox.h"
#include "collect/Content.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"

namespace {

using pcutil::U16;

// Pages served from a table; anything else is a 404.
struct FakeSite {
  std::map<std::u16string, std::u16string> pages;
  std::vector<std::u16string> requested;
  rz::PageFetch Fetch() {
    return [this](const std::u16string& url, const std::u16string&, std::u16string& text) {
      requested.push_back(url);
      auto it = pages.find(url);
      if (it == pages.end()) {
        text = u"not found";
        return 404;
      }
      text = it->second;
      return 200;
    };
  }
};

rz::ContentContext Context(FakeSite& site) {
  rz::ContentContext ctx;
  ctx.JobId = u"7";
  ctx.Fetch = site.Fetch();
  ctx.Message = [](const std::u16string& key) { return key + u":%s|%s|%s"; };
  return ctx;
}

rz::LabelRule Markers(const std::u16string& name, const std::u16string& start,
                      const std::u16string& end, int loop = 0) {
  rz::LabelRule l;
  l.Id = name;
  l.LabelName = name;
  l.StartStr = start;
  l.EndStr = end;
  l.LabelLoop = loop;
  return l;
}

class Content : public ::testing::Test {
 protected:
  void SetUp() override { pcutil::SetFixedPauseMs(0); }
};

const std::u16string kTwoHeadings =
    u"<html><h1>First</h1><p>body</p><H1>Second</H1></html>";

TEST_F(Content, ValueKinds) {
  struct Case {
    const char* name;
    rz::LabelRule label;
    std::u16string page;
    std::vector<std::u16string> expected;
  };
  rz::LabelRule regexMarked;
  regexMarked.ContentRizedeType = 1;
  regexMarked.ContentByRex = u"<h1>(?<content>.*?)</h1>";
  rz::LabelRule regexWhole = regexMarked;
  regexWhole.ContentByRex = u"<h1>.*?</h1>";
  rz::LabelRule regexSecond = regexMarked;
  regexSecond.ContentByRex = u"<(h\\d)\\(?>(.*?)</\\1>|<(p)>(?<content>.*?)</p>";
  rz::LabelRule regexWild = regexMarked;
  regexWild.ContentByRex = u"<p(*)>(?<content>.*?)</p>";
  rz::LabelRule params;
  params.ContentRizedeType = 2;
  params.ContentRexText = u"<a href=\"[参数]\">[参数]</a>";
  params.ContentRexRet = u"[参数2] ([参数1])";
  rz::LabelRule literal = Markers(u"t", u"<td class=\"c\">(*)<b>", u"</b>");
  Case cases[] = {
      {"markers, every match", Markers(u"t", u"<h1>", u"</h1>"), kTwoHeadings, {u"First", u"Second"}},
      {"markers are literal text", literal, u"<td class=\"c\">x<b>1+1</b></td>", {u"1+1"}},
      {"one empty marker gives nothing", Markers(u"t", u"<h1>", u""), kTwoHeadings, {}},
      {"regex with marked group", regexMarked, kTwoHeadings, {u"First", u"Second"}},
      {"regex without marker: whole match", regexWhole, kTwoHeadings,
       {u"<h1>First</h1>", u"<H1>Second</H1>"}},
      {"marked group after other groups", regexSecond, u"<p>para</p>", {u"para"}},
      {"(*) in a regex", regexWild, u"<p class=x>para</p>", {u"para"}},
      {"parameter pattern", params, u"<a href=\"/1.html\">One</a> <a href=\"/2.html\">Two</a>",
       {u"One (/1.html)", u"Two (/2.html)"}},
  };
  for (const auto& c : cases) EXPECT_EQ(rz::LabelRawValues(c.label, c.page), c.expected) << c.name;
  EXPECT_EQ(rz::ContentGroupIndex(u"(a)\\((b)(?<content>x)"), 3);
  EXPECT_EQ(rz::ContentGroupIndex(u"(?<content>x)"), 1);
  EXPECT_EQ(rz::ContentGroupIndex(u"x"), 0);
}

std::vector<rz::ToData> Collect(FakeSite& site, const rz::ContentRule& content,
                                const std::u16string& url = u"http://s/a/1.html") {
  std::vector<rz::ToData> items;
  std::vector<std::u16string> visited;
  rz::CollectPage(u"5", url, u"utf-8", content, Context(site), items, visited);
  return items;
}

TEST_F(Content, LabelLoopModes) {
  FakeSite site;
  site.pages[u"http://s/a/1.html"] = kTwoHeadings;
  rz::ContentRule content;
  content.LabelRex = {Markers(u"标题", u"<h1>", u"</h1>", 0)};
  auto items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].ResultCode, 1);
  EXPECT_EQ(items[0].Fields[u"标题"], u"First");
  EXPECT_EQ(items[0].Fields[u"PageUrl"], u"http://s/a/1.html");
  EXPECT_EQ(items[0].Fields[u"ID"], u"5");

  content.LabelRex[0].LabelLoop = 1;
  content.LabelRex.push_back(Markers(u"正文", u"<p>", u"</p>", 0));
  items = Collect(site, content);
  ASSERT_EQ(items.size(), 2u);  // the second becomes a new row
  EXPECT_EQ(items[1].Fields[u"标题"], u"Second");
  EXPECT_EQ(items[1].Fields[u"正文"], u"body");  // shorter lists repeat their first value

  content.LabelRex[0].LabelLoop = 2;
  items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Fields[u"标题"], u"First|||Second");
}

TEST_F(Content, CleanUpAndChecks) {
  FakeSite site;
  site.pages[u"http://s/a/1.html"] =
      u"<div id=c><p>广告 buy结束正文 a|b <a href=\"x.html\">x</a></p></div>";
  rz::ContentRule content;
  rz::LabelRule body = Markers(u"正文", u"<div id=c>", u"</div>");
  body.RegexReplace = {u"广告(*)结束|"};
  body.HtmlTags = {u"<p.*?>|</p>"};
  body.ToAbsolute = 1;
  content.LabelRex = {body};
  auto items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Fields[u"正文"], u"正文 a|b <a href=\"http://s/a/x.html\">x</a>");

  // a required word that is missing drops the value with the help text's message
  content.LabelRex[0].LabelContentMust = u"必须";
  items = Collect(site, content);
  EXPECT_EQ(items[0].Fields[u"正文"], u"");
  EXPECT_EQ(items[0].ResultCode, 1);  // only LabelNotNull fails the item
  EXPECT_EQ(items[0].Text, u"LogDownloadContentMust:正文|http://s/a/1.html|http://s/a/1.html");
  content.LabelRex[0].LabelContentMust.clear();
  content.LabelRex[0].LabelContentForbid = u"A\\|B";
  items = Collect(site, content);
  EXPECT_EQ(items[0].Text, u"LogDownloadContentForbid:正文|http://s/a/1.html|http://s/a/1.html");

  // LabelNotNull 1 with no value: code 12 and the red message; 0 stores an empty field
  content.LabelRex[0].LabelNotNull = 1;
  items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].ResultCode, 12);
  EXPECT_EQ(items[0].Text,
            u"<font color=\"red\">采集内容标签[正文]不得为空,自动过滤该文章。"
            u"<a href=\"http://s/a/1.html\" target=\"_blank\">http://s/a/1.html</a></font>");
}

TEST_F(Content, PageAndRuleFailures) {
  FakeSite site;
  rz::ContentRule content;
  content.LabelRex = {Markers(u"标题", u"<h1>", u"</h1>")};
  auto items = Collect(site, content, u"http://s/gone.html");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].ResultCode, 0);
  EXPECT_EQ(items[0].Text, u"LogDownloadContentFail:http://s/gone.html|http://s/gone.html|");

  site.pages[u"http://s/a/1.html"] = kTwoHeadings;
  content.LabelRex.clear();
  items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].ResultCode, 0);
  EXPECT_EQ(items[0].Text.substr(0, 25), u"LogDownloadContentNoLabel");

  // a label pattern that does not compile fails this item, naming the label and the error
  rz::LabelRule broken;
  broken.LabelName = u"作者";
  broken.ContentRizedeType = 1;
  broken.ContentByRex = u"<span>(?<content>.*?</span>";
  content.LabelRex = {Markers(u"标题", u"<h1>", u"</h1>"), broken};
  items = Collect(site, content);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].ResultCode, 0);
  EXPECT_EQ(items[0].Text.rfind(u"<font color=\"red\">", 0), 0u);
  EXPECT_NE(items[0].Text.find(u"标签[作者]"), std::u16string::npos);
  EXPECT_NE(items[0].Text.find(u"missing closing parenthesis"), std::u16string::npos) << pcutil::Utf16ToUtf8(items[0].Text);
  // ... and a replacement rule or tag filter that does not compile does the same
  rz::LabelRule badFilter = Markers(u"标题", u"<h1>", u"</h1>");
  badFilter.HtmlTags = {u"<b[>"};
  content.LabelRex = {badFilter};
  items = Collect(site, content);
  EXPECT_EQ(items[0].ResultCode, 0);
  EXPECT_NE(items[0].Text.find(u"标签[标题]"), std::u16string::npos);
  // a runaway pattern is reported the same way, as a limit
  rz::LabelRule runaway;
  runaway.LabelName = u"x";
  runaway.ContentRizedeType = 1;
  runaway.ContentByRex = u"(a+)+b";
  content.LabelRex = {runaway};
  site.pages[u"http://s/a/1.html"] = std::u16string(40, u'a') + u"!b";
  items = Collect(site, content);
  EXPECT_EQ(items[0].ResultCode, 0);
  EXPECT_NE(items[0].Text.find(u"限制"), std::u16string::npos);
}

TEST_F(Content, NumberedPages) {
  FakeSite site;
  site.pages[u"http://s/a_77.html"] = u"<h1>T</h1><div>p1</div>";
  site.pages[u"http://s/a_77_2.html"] = u"<div>p2</div>";
  site.pages[u"http://s/a_77_3.html"] = u"<div>p3</div>";
  site.pages[u"http://s/a_77_4.html"] = u"<span>other</span>";
  rz::ContentRule content;
  content.MultiPage.MultiPageType = 1;
  content.MultiPage.GatherFormat = u"http://s/a_<%id%>.html";
  content.MultiPage.UrlFormat = u"http://s/a_<%id%>_<%step%>.html";
  content.MultiPage.StartId = u"2";
  content.MultiPage.MustContent = u"<div>";
  rz::LabelRule body = Markers(u"正文", u"<div>", u"</div>");
  body.EnableMultiPage = 1;
  body.MultiPageSplit = u"[page]";
  content.LabelRex = {Markers(u"标题", u"<h1>", u"</h1>"), body};
  auto items = Collect(site, content, u"http://s/a_77.html");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Fields[u"正文"], u"p1[page]p2[page]p3");
  EXPECT_EQ(items[0].Fields[u"标题"], u"T");
  EXPECT_EQ(site.requested, (std::vector<std::u16string>{u"http://s/a_77.html", u"http://s/a_77_2.html",
                                                         u"http://s/a_77_3.html", u"http://s/a_77_4.html"}));
  std::u16string id;
  EXPECT_TRUE(rz::MultiPageArticleId(content.MultiPage, u"http://s/a_77.html", id));
  EXPECT_EQ(id, u"77");
  EXPECT_EQ(rz::MultiPageAddress(content.MultiPage, u"77", 9), u"http://s/a_77_9.html");

  // a site that answers every number stops at the page cap
  FakeSite endless;
  rz::ContentRule open = content;
  open.MultiPage.MustContent.clear();
  endless.pages[u"http://s/a_77.html"] = u"<div>p</div>";
  rz::ContentContext ctx = Context(endless);
  ctx.Fetch = [&](const std::u16string& url, const std::u16string&, std::u16string& text) {
    endless.requested.push_back(url);
    text = u"<div>p</div>";
    return 200;
  };
  std::vector<rz::ToData> out;
  std::vector<std::u16string> visited;
  rz::CollectPage(u"", u"http://s/a_77.html", u"", open, ctx, out, visited);
  EXPECT_EQ(endless.requested.size(), 1u + rz::kMaxFurtherPages);
}

TEST_F(Content, PaginationArea) {
  FakeSite site;
  site.pages[u"http://s/n/1.html"] =
      u"<h1>T</h1><div>p1</div><div class=pages><a href=\"1.html\">1</a>"
      u"<a href=\"1_2.html\">2</a><a href='1_3.html?x=1&amp;y=2'>3</a> http://s/n/1_4.html"
      u"<a href=\"/other.html\">o</a></div>";
  site.pages[u"http://s/n/1_2.html"] = u"<div>p2</div>";
  site.pages[u"http://s/n/1_3.html?x=1&y=2"] = u"<div>p3</div>";
  site.pages[u"http://s/n/1_4.html"] = u"<div>p4</div>";
  rz::ContentRule content;
  content.MultiPage.MultiPageType = 2;
  content.MultiPage.Start = u"<div class=pages>";
  content.MultiPage.End = u"</div>";
  content.MultiPage.MustUrl = u"/n/1_";
  rz::LabelRule body = Markers(u"正文", u"<div>", u"</div>");
  body.EnableMultiPage = 1;
  content.LabelRex = {body};
  auto items = Collect(site, content, u"http://s/n/1.html");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Fields[u"正文"], u"p1|||p2|||p3|||p4");
  EXPECT_EQ(rz::PaginationAddresses(content.MultiPage, site.pages[u"http://s/n/1.html"],
                                    u"http://s/n/1.html"),
            (std::vector<std::u16string>{u"http://s/n/1_2.html", u"http://s/n/1_3.html?x=1&y=2",
                                         u"http://s/n/1_4.html"}));
}

TEST_F(Content, ImageDownloadsIntoTheJobFolder) {
  rztest::Sandbox box;
  FakeSite site;
  site.pages[u"http://s/x/y.html"] = u"<div><img src=\"/a/b.jpg\"></div>";
  rz::ContentRule content;
  rz::LabelRule body = Markers(u"正文", u"<div>", u"</div>");
  body.DownImg = 1;
  body.SaveFileFormat = u"";
  content.LabelRex = {body};
  std::vector<rz::DownloadFileRow> imageRows;
  rz::ContentContext ctx = Context(site);
  ctx.ImageRows = &imageRows;
  std::vector<std::u16string> fetched;
  ctx.Files.Download = [&](const std::u16string& url, const std::u16string& path) {
    fetched.push_back(url);
    rztest::WriteFile(pcutil::ToFsPath(path), "img");
    return true;
  };
  std::vector<rz::ToData> items;
  std::vector<std::u16string> visited;
  ASSERT_EQ(rz::CollectPage(u"1", u"http://s/x/y.html", u"", content, ctx, items, visited), 1);
  EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://s/a/b.jpg"}));
  const std::u16string v = items[0].Fields[u"正文"];
  ASSERT_EQ(v.size(), std::u16string(u"<img src=\"/Image/xxxxxb.jpg\">").size()) << pcutil::Utf16ToUtf8(v);
  EXPECT_EQ(v.substr(0, 17), u"<img src=\"/Image/");
  ASSERT_EQ(imageRows.size(), 1u);
  EXPECT_EQ(imageRows[0].SaveUrl, pcutil::ProgramPath(u"DB/7") + imageRows[0].ReplaceUrl);
  EXPECT_EQ(rztest::ReadFile(pcutil::ToFsPath(imageRows[0].SaveUrl)), "img");
}

}  // namespace
