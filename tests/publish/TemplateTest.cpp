// Template expansion, label tags, html2Ubb, and the small helpers of the runner.
#include <ctime>
#include <set>

#include <gtest/gtest.h>

#include "foundation/Text.h"
#include "publish/PublishThread.h"
#include "publish/Template.h"

namespace {

using pcutil::U16;
using pcutil::Utf16ToUtf8;
using namespace rz;

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

struct Case {
  const char* name;
  const char16_t* tmpl;
  EscapeMode mode;
  const char16_t* charset;
  const char16_t* moduleType;
  const char16_t* expected;
};

TEST(PublishTemplate, TagTable) {
  ToData item;
  item.Fields = {{u"标题", u"a b/中"},
                 {u"内容", u"it's \\ ok"},
                 {u"PageUrl", u"http://s.example/1?a=1&b=2"},
                 {u"[DB:栏目]", u"col"},
                 {u"[栏目名称]", u"sec"},
                 {u"ab]", u"short"}};
  PublishModule module;
  module.RandUser = {u"u1"};
  const Case cases[] = {
      {"no tags web", u"a=1&b=x", Web, u"utf-8", u"POST", u"a=1&b=x"},
      {"no tags db", u"select 1", Database, u"utf-8", u"MySql", u"select 1"},
      {"utf-8 label", u"t=[DB:标题]", Web, u"utf-8", u"POST", u"t=a%20b/%E4%B8%AD"},
      {"gbk label", u"t=[DB:标题]", Web, u"gb2312", u"POST", u"t=a%20b/%D6%D0"},
      {"mysql escape", u"'[DB:内容]'", Database, u"utf-8", u"MySql", u"'it\\'s \\\\ ok'"},
      {"access escape", u"'[DB:内容]'", Database, u"utf-8", u"ACCESS", u"'it''s \\ ok'"},
      {"tag label", u"[DB:栏目]|[栏目名称]|[DB:ab]]", Database, u"utf-8", u"MySql", u"col|sec|short"},
      {"page url", u"u=[采集页面地址]", Web, u"utf-8", u"POST",
       u"u=http://s.example/1%3Fa%3D1%26b%3D2"},
      {"params", u"[自定义参数一]-[自定义参数二]-[分类名称]-[用户名]-[密码]-[随机用户名]", EscapeNone,
       u"utf-8", u"MySql", u"p1-p2-新闻-root-pw-u1"},
      {"table prefix db", u"insert into 数据表前缀posts", Database, u"utf-8", u"MySql",
       u"insert into wp_posts"},
      {"table prefix web", u"x=数据表前缀", Web, u"utf-8", u"POST", u"x=数据表前缀"},
      {"missing label", u"[DB:没有]", Web, u"utf-8", u"POST", u"[DB:没有]"},
      {"unknown bracket", u"[whatever]", Database, u"utf-8", u"MySql", u"[whatever]"},
  };
  for (const Case& c : cases) {
    PublishTarget t;
    t.Charset = c.charset;
    t.ModuleType = c.moduleType;
    t.Param1 = u"p1";
    t.Param2 = u"p2";
    t.ListName = u"新闻";
    t.SqlUser = u"root";
    t.SqlPsw = u"pw";
    t.TablePre = u"wp_";
    EXPECT_EQ(U8(ExpandPublishTemplate(c.tmpl, item, t, &module, c.mode)), U8(c.expected)) << c.name;
  }
  // Without a module nothing is expanded.
  PublishTarget t;
  EXPECT_EQ(U8(ExpandPublishTemplate(u"[DB:标题]", item, t, nullptr, Web)), "[DB:标题]");
}

TEST(PublishTemplate, LabelTags) {
  EXPECT_EQ(U8(MakeLabelTag(u"标题")), "[DB:标题]");
  EXPECT_EQ(U8(MakeLabelTag(u"[DB:标题]")), "[DB:标题]");
  EXPECT_EQ(U8(MakeLabelTag(u"[栏目名称]")), "[栏目名称]");
  EXPECT_EQ(U8(MakeLabelTag(u"ab]")), "[DB:ab]]");
  EXPECT_EQ(U8(MakeLabelTag(u"abcdefg")), "[DB:abcdefg]");
}

TEST(PublishTemplate, ClockTagsAndLaterTagsInValues) {
  ToData item;
  item.Fields = {{u"标题", u"at [当前时间]"}};
  PublishModule module;
  PublishTarget t;
  t.ModuleType = u"MySql";
  const std::time_t before = std::time(nullptr);
  const std::u16string out = ExpandPublishTemplate(
      u"[DB:标题]|[Time:年-月-日 时:分:秒]|[Time:年-月-日]|[Time:年]|[Time:月]|[Time:日]|[Time:时]|"
      u"[Time:分]|[Time:秒]",
      item, t, &module, EscapeNone);
  std::tm tm{};
  localtime_r(&before, &tm);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
  const std::string s = U8(out);
  // The label's own "[当前时间]" got the time too: the fixed tags run after the labels.
  EXPECT_EQ(s.substr(0, 3), "at ");
  EXPECT_EQ(s.find("[当前时间]"), std::string::npos) << s;
  EXPECT_NE(s.find(std::string("|") + date + "|"), std::string::npos) << s;
  EXPECT_EQ(s.size(),
            std::string("at 2024-03-05 07:00:00|2024-03-05 07:00:00|2024-03-05|2024|03|05|07|00|00").size());
  EXPECT_EQ(s.find('['), std::string::npos) << s;
}

TEST(PublishTemplate, CategoryIdAndRandomUser) {
  ToData item;
  PublishModule module;
  PublishTarget t;
  t.ModuleType = u"POST";
  t.SqlUser = u"fallback";
  auto expand = [&](const char16_t* tmpl) { return U8(ExpandPublishTemplate(tmpl, item, t, &module, EscapeNone)); };
  t.ListId = u"5";
  EXPECT_EQ(expand(u"[分类ID]"), "5");
  t.ListId = u"";
  EXPECT_EQ(expand(u"[分类ID]"), "");
  EXPECT_EQ(expand(u"[随机用户名]"), "fallback");
  std::set<std::string> seen;
  for (const char16_t* ids : {u"5,6", u"5,6,"}) {
    t.ListId = ids;
    for (int i = 0; i < 200; ++i) seen.insert(expand(u"[分类ID]"));
  }
  EXPECT_EQ(seen, (std::set<std::string>{"5", "6"}));
  module.RandUser = {u"a", u"b", u"c"};
  const auto before = module.RandUser;
  seen.clear();
  for (int i = 0; i < 300; ++i) seen.insert(expand(u"[随机用户名]"));
  EXPECT_EQ(seen, (std::set<std::string>{"a", "b", "c"}));
  EXPECT_EQ(module.RandUser, before);  // the shared module is not reordered
}

TEST(PublishTemplate, UbbConversionBeforeUrlEncoding) {
  ToData item;
  item.Fields = {{u"内容", u"<b>x</b><br>y"}};
  PublishModule module;
  module.IsUBB = 1;
  PublishTarget t;
  t.ModuleType = u"POST";
  EXPECT_EQ(U8(ExpandPublishTemplate(u"c=[DB:内容]", item, t, &module, Web)),
            "c=%5Bb%5Dx%5B/b%5D%0D%0Ay");
  // Only labels are converted; the database mode never converts.
  EXPECT_EQ(U8(ExpandPublishTemplate(u"[DB:内容]", item, t, &module, Database)), "<b>x</b><br>y");
}

TEST(Html2Ubb, TypicalArticle) {
  const struct {
    const char16_t* html;
    const char* ubb;
  } cases[] = {
      {u"<b>x</b><br>y", "[b]x[/b]\r\ny"},
      {u"<p>First</p>\r\n<p class=\"x\">Second &amp; more</p>", "\r\nFirst\r\nSecond & more"},
      {u"<strong>S</strong> <i>I</i> <u>U</u> <big>B</big>", "[b]S[/b] [i]I[/i] [u]U[/u] [b]B[/b]"},
      {u"<img src=\"http://a.example/1.jpg\" alt=\"pic\" border=\"0\">", "[img]http://a.example/1.jpg[/img]"},
      {u"<a href=\"http://a.example/\" target=\"_blank\">link</a>", "[url=http://a.example/]link[/url]"},
      {u"<ul><li>one</li><li>two</li></ul>", "[list][*]one[*]two[/list]"},
      {u"<ol><li>one</li></ol>", "[list=1][*]one[/list]"},
      {u"<blockquote>q</blockquote><pre>c</pre>", "[quote]q[/quote][code]c[/code]"},
      {u"<font color=\"red\">r</font>", "[color=red]r[/color]"},
      {u"<font size=\"3\" color=\"blue\">t</font>", "[size=3][color=blue]t[/color][/size]"},
      {u"<span style=\"color: green\">g</span>", "[color=green]g[/color]"},
      {u"<table><tr><td>a</td><td>b</td></tr></table>", "\r\n a  b  "},
      {u"<div>&lt;tag&gt; &quot;q&quot;&nbsp;&ldquo;x&rdquo;</div>", "<tag> \"q\" \u201cx\u201d"},
      {u"<script>alert(1)</script>", "[code2]alert(1)[/code2]"},
      {u"line1\r\nline2\nline3", "line1line2line3"},
  };
  for (const auto& c : cases) EXPECT_EQ(U8(Html2Ubb(c.html)), c.ubb) << U8(c.html);
}

TEST(PublishHelpers, MaxCountAndLogCut) {
  EXPECT_EQ(PublishCountFromText(u""), 0);
  EXPECT_EQ(PublishCountFromText(u"0"), 0);
  EXPECT_EQ(PublishCountFromText(u"3"), 3);
  EXPECT_EQ(PublishCountFromText(u"5-5"), 0);
  std::set<int> seen;
  for (int i = 0; i < 500; ++i) seen.insert(PublishCountFromText(u"5-10"));
  EXPECT_EQ(*seen.begin(), 5);
  EXPECT_EQ(*seen.rbegin(), 9);
  seen.clear();
  for (int i = 0; i < 500; ++i) seen.insert(PublishCountFromText(u"4-2"));
  EXPECT_EQ(*seen.begin(), 0);
  EXPECT_EQ(*seen.rbegin(), 3);

  EXPECT_EQ(U8(CutForLog(u"short")), "short");
  const std::u16string long201(201, u'x');
  EXPECT_EQ(CutForLog(long201), std::u16string(200, u'x') + u"……</br>");
  // A four-byte character across the cut is not split.
  std::u16string pair(199, u'x');
  pair += u"\U0001F600tail";
  EXPECT_EQ(CutForLog(pair), std::u16string(199, u'x') + u"……</br>");
}

}  // namespace
