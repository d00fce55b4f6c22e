// The collection pieces against a real local site: list pages and article pages with images.
#include <gtest/gtest.h>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "collect/ListPage.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"

namespace {

using pcutil::U16;

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override { pcutil::SetFixedPauseMs(0); }
  std::u16string Url(const std::string& target) { return U16(site.Url(target).c_str()); }
  rztest::HttpFixture site;
};

TEST_F(SiteTest, ListPageLinksAndCharset) {
  const std::string gbkPage = pcutil::Utf16ToLocal(
      u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\"></head>"
      u"<body><ul id=list><li><a href=\"/n/1.html\">新闻一</a></li>"
      u"<li><a href='/n/2.html?a=1&amp;b=2'\ntitle=x>二</a></li>"
      u"<li><a href=\"/about.html\">关于</a></li></ul></body></html>");
  site.Serve("/list_1.html", rztest::Page(gbkPage, "text/html"));
  rz::ListRule rule;
  rule.CodeBegin = u"<ul id=list>";
  rule.CodeEnd = u"</ul>";
  rule.MustUrls = u"/n/";
  std::u16string charset = u"自动识别";
  rz::ToData out;
  ASSERT_EQ(rz::ParseListPage(rule, charset, Url("/list_1.html"), out), 1);
  EXPECT_EQ(charset, u"gb2312");  // detected once, kept for the run
  EXPECT_EQ(out.ResultCode, 1);
  EXPECT_EQ(out.Text, Url("/list_1.html"));
  EXPECT_EQ(out.Links, (std::vector<std::u16string>{Url("/n/1.html"), Url("/n/2.html?a=1&b=2")}));
}

TEST_F(SiteTest, ListPageFailures) {
  rz::ListRule rule;
  std::u16string charset = u"utf-8";
  rz::ToData out;
  EXPECT_EQ(rz::ParseListPage(rule, charset, Url("/missing.html"), out), 0);
  EXPECT_EQ(out.ResultCode, 0);
  EXPECT_EQ(out.Text, Url("/missing.html"));

  site.Serve("/l.html", rztest::Page("<a href=\"a.html\">a</a>"));
  rule.NotUrls = u"x{3,1}";
  std::u16string problem;
  rz::ToData out2;
  EXPECT_EQ(rz::ParseListPage(rule, charset, Url("/l.html"), out2, &problem), 0);
  EXPECT_EQ(out2.ResultCode, 0);
  EXPECT_EQ(problem.rfind(u"<font color=\"red\">", 0), 0u);
  EXPECT_NE(problem.find(Url("/l.html")), std::u16string::npos);
}

TEST_F(SiteTest, ArticleWithImages) {
  rztest::Sandbox box;
  site.Serve("/x/y.html", rztest::Page("<div class=body><p>text</p><img src=\"/a/b.jpg\"></div>",
                                       "text/html; charset=utf-8"));
  site.Serve("/a/b.jpg", rztest::Page("JPEGDATA", "image/jpeg"));
  rz::ContentRule content;
  rz::LabelRule body;
  body.Id = u"2";
  body.LabelName = u"内容";
  body.StartStr = u"<div class=body>";
  body.EndStr = u"</div>";
  body.DownImg = 1;
  body.SaveFileFormat = u"[原文件名]";
  content.LabelRex = {body};
  std::vector<rz::DownloadFileRow> recorded, shown;
  rz::ContentContext ctx;
  ctx.JobId = u"9";
  ctx.Fetch = rz::NetPageFetch();
  ctx.Files = rz::NetFileFetcher([&](const rz::DownloadFileRow& row) {
    recorded.push_back(row);
    return true;
  });
  ctx.ImageRows = &shown;
  std::vector<rz::ToData> items;
  std::vector<std::u16string> visited;
  ASSERT_EQ(rz::CollectPage(u"3", Url("/x/y.html"), u"自动识别", content, ctx, items, visited), 1);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Fields[u"内容"], u"<p>text</p><img src=\"/Image/b.jpg\">");
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].DownloadUrl, Url("/a/b.jpg"));
  EXPECT_EQ(recorded[0].State, 1);
  EXPECT_EQ(rztest::ReadFile(box / "DB/9/Image/b.jpg"), "JPEGDATA");
  EXPECT_EQ(shown.size(), 1u);
}

}  // namespace
