#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "Sandbox.h"
#include "collect/PostProcess.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace {

namespace fs = std::filesystem;
using pcutil::U16;

class PostProcess : public ::testing::Test {
 protected:
  void SetUp() override { pcutil::SetFixedPauseMs(0); }
};

TEST_F(PostProcess, Replacements) {
  struct Case {
    const char16_t* value;
    std::vector<std::u16string> items;
    const char16_t* expected;
  } cases[] = {
      // from 广告 to the first 结束, replaced by nothing
      {u"前文广告一二结束后文结束", {u"广告(*)结束|"}, u"前文后文结束"},
      // "|" in the value survives the rules that are split at "|"
      {u"a|b|c", {u"b|x"}, u"a|x|c"},
      {u"A|B", {u"a|z"}, u"z|B"},  // ignore case
      // the to-part is plain text, "$" included
      {u"price", {u"price|$1 $$ $0"}, u"$1 $$ $0"},
      // pattern characters in the from-part are literal
      {u"a.b axb (x)", {u"a.b|1", u"(x)|2"}, u"1 axb 2"},
      // "(*)" spans lines
      {u"<!--a\nb-->text", {u"<!--(*)-->|"}, u"text"},
      // not exactly two pieces, or nothing to look for: skipped
      {u"abc", {u"a|b|c", u"abc", u"|x"}, u"abc"},
      // in order: the second rule sees the first one's result
      {u"abc", {u"a|b", u"bb|X"}, u"Xc"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rz::ApplyReplacements(c.value, c.items), c.expected) << pcutil::Utf16ToUtf8(c.value);
  EXPECT_THROW(rz::ApplyReplacements(u"aaa", {u"a{3,1}|x"}), pcutil::RegexError);
}

TEST_F(PostProcess, TagFilterTable) {
  const auto& table = rz::HtmlTagFilterTable();
  ASSERT_EQ(table.size(), 22u);
  EXPECT_EQ(table[0].Name, u"链接a");
  EXPECT_EQ(table[0].Pattern, u"<a.*?>|</a>");
  EXPECT_EQ(table[21].Pattern, u"<[^>]*>");
  EXPECT_EQ(rz::HtmlTagFilterElementId(table[0]), u"htmltagtable_链接a");
  EXPECT_TRUE(std::regex_match(pcutil::Utf16ToUtf8(table[3].Id),
                               std::regex(R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d-4)")));
  auto filter = [&](const char16_t* name, const std::u16string& value) {
    for (const auto& row : table)
      if (row.Name == name) return rz::ApplyTagFilters(value, {row.Pattern});
    ADD_FAILURE() << "no row";
    return value;
  };
  EXPECT_EQ(filter(u"所有标签", u"<p class=x>one <b>two</b></p>"), u"one two");
  EXPECT_EQ(filter(u"链接a", u"<a href=\"x\">t</a>"), u"t");
  EXPECT_EQ(filter(u"脚本script", u"a<script type=x>var s;\n</script>b"), u"ab");
  EXPECT_EQ(filter(u"表单form", u"a<FORM>\n<input></form>b"), u"ab");
  // bold only with attributes; headings take html/head with them
  EXPECT_EQ(filter(u"b strong", u"<b>x</b><b class=y>z</b>"), u"<b>xz");
  EXPECT_EQ(filter(u"标签H1-7", u"<html><h1>T</h1>"), u"T");
  EXPECT_EQ(filter(u"换行 \\r\\n\\t", u"a b\r\n\tc"), u"abc");
  EXPECT_EQ(filter(u"去首尾空白", u"  a b \n"), u"a b");
  EXPECT_EQ(filter(u"空格&amp;nbsp;", u"a&nbsp;b"), u"ab");
  EXPECT_EQ(rz::ApplyTagFilters(u"<p>x</p><br/>", {u"<p.*?>|</p>", u"<br.*?>|</br>"}), u"x");
}

TEST_F(PostProcess, RewriteLinks) {
  const std::u16string base = u"http://s/a/b.html";
  EXPECT_EQ(rz::RewriteLinks(u"<img src=\"x.jpg\"><a href='/y.html'>y</a><img src=\"x.jpg\">", base),
            u"<img src=\"http://s/a/x.jpg\"><a href='http://s/y.html'>y</a><img src=\"http://s/a/x.jpg\">");
  // unquoted values, absolute addresses and page-local references stay as written
  const std::u16string keep =
      u"<a href=z.html>z</a><a href=\"https://o/p\">p</a><a href=\"#top\">t</a>"
      u"<a href=\"mailto:a@b\">m</a><img src=\"data:image/png;base64,AA\">";
  EXPECT_EQ(rz::RewriteLinks(keep, base), keep);
}

// A name joined below `base` stays below it.
bool StaysInside(const fs::path& base, const std::u16string& rel) {
  const std::string r = pcutil::ToFsPath(rel);
  for (char c : r)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  fs::path joined = (base / fs::path(r).relative_path()).lexically_normal();
  auto [b, j] = std::mismatch(base.begin(), base.end(), joined.begin(), joined.end());
  if (b != base.end()) return false;
  for (const auto& part : fs::path(r))
    if (part == ".." || part.string().size() > 200) return false;
  return true;
}

TEST_F(PostProcess, MakeFileNameFormats) {
  const std::u16string n1 = rz::MakeFileName(u"http://s/a/b.jpg", u"", u"http://s/x/y.html", u"/Image", 1);
  ASSERT_EQ(n1.size(), std::u16string(u"/Image/").size() + 5 + 5);
  EXPECT_EQ(n1.substr(0, 7), u"/Image/");
  EXPECT_EQ(n1.substr(12), u"b.jpg");
  EXPECT_TRUE(std::regex_match(pcutil::Utf16ToUtf8(n1.substr(7, 5)), std::regex("[a-z0-9]{5}")));

  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char date[16];
  std::strftime(date, sizeof date, "%Y%m%d", &t);
  const std::u16string n2 =
      rz::MakeFileName(u"http://s/a/b.jpg", u"YYYYMMDD[自增ID:局部]", u"http://s/x/y.html", u"/Image", 2);
  EXPECT_EQ(n2, u"/Image/" + U16(date) + u"2.jpg");

  EXPECT_EQ(rz::MakeFileName(u"http://s/a/photo.PNG", u"[原文件名]_[采集页面地址MD5值]", u"http://s/x",
                             u"img", 1),
            u"img/photo_" + pcutil::UrlKey(u"http://s/x") + u".PNG");
  // a program-wide counter that grows with every name
  const std::u16string c1 = rz::MakeFileName(u"http://s/b.gif", u"[自增ID]", u"", u"/i", 1);
  const std::u16string c2 = rz::MakeFileName(u"http://s/b.gif", u"[自增ID]", u"", u"/i", 1);
  EXPECT_EQ(std::stoi(pcutil::Utf16ToUtf8(c2.substr(3))), std::stoi(pcutil::Utf16ToUtf8(c1.substr(3))) + 1);
  // folders in the format are kept; the query of the address is not part of the name
  EXPECT_EQ(rz::MakeFileName(u"http://s/p/c.jpg?w=100", u"YYYY/[原文件名]", u"", u"/Image", 1),
            u"/Image/" + U16(date).substr(0, 4) + u"/c.jpg");
}

TEST_F(PostProcess, FileNamesNeverLeaveTheFolder) {
  const fs::path base = "/srv/job/DB/7";
  struct Case {
    const char16_t* url;
    const char16_t* format;
    const char16_t* sub;
  } cases[] = {
      {u"http://s/../../etc/passwd.jpg", u"[原文件名]", u"/Image"},
      {u"http://s/a/..%2f..%2f..%2fetc%2fcron.jpg", u"[原文件名]", u"/Image"},
      {u"http://s/a/%2e%2e.jpg", u"[原文件名]", u"/Image"},
      {u"http://s/a/..\\..\\win.jpg", u"", u"/Image"},
      {u"http://s/a/b.jpg", u"../../../[原文件名]", u"/Image"},
      {u"http://s/a/b.jpg", u"/etc/[原文件名]", u""},
      {u"http://s/a/b.jpg", u"..\\..\\x", u"/Image"},
      {u"http://s/a/b.jpg", u"[原文件名]", u"../../../../tmp"},
      {u"http://s/a/b.jpg", u"[原文件名]", u"/Image/%2E%2E/%2e%2e/x"},
      {u"http://s/a/b%00.php.jpg", u"[原文件名]", u"/Image"},
      {u"http://s/a/b\r\n.jpg", u"x\r\ny\0z", u"/Ima\nge"},
      {u"http://s/a/..", u"", u"/Image"},
      {u"http://s/a/", u"[原文件名]", u"/Image"},
  };
  for (const auto& c : cases) {
    const std::u16string rel = rz::MakeFileName(c.url, c.format, u"http://s/p.html", c.sub, 1);
    EXPECT_TRUE(StaysInside(base, rel)) << pcutil::Utf16ToUtf8(rel);
    EXPECT_FALSE(rel.empty() || rel.back() == u'/') << pcutil::Utf16ToUtf8(rel);
  }
  const std::u16string longName = u"http://s/" + std::u16string(600, u'长') + u".jpg";
  const std::u16string rel = rz::MakeFileName(longName, u"[原文件名]", u"", u"/Image", 1);
  EXPECT_TRUE(StaysInside(base, rel));
  EXPECT_EQ(rel.substr(rel.size() - 4), u".jpg");
  EXPECT_EQ(rz::SafeRelativePath(u"/Image/../a/./b//c"), u"/Image/a/b/c");
}

TEST_F(PostProcess, FindReferences) {
  EXPECT_EQ(rz::FindReferences(u"<img src=\"/a/b.jpg\"><img src='c.PNG'><img src=\"/a/b.jpg\">",
                               rz::ReferenceKind::Image),
            (std::vector<std::u16string>{u"/a/b.jpg", u"c.PNG"}));
  // without src references, bare addresses count
  EXPECT_EQ(rz::FindReferences(u"see http://s/x.gif here", rz::ReferenceKind::Image),
            (std::vector<std::u16string>{u"http://s/x.gif"}));
  EXPECT_EQ(rz::FindReferences(u"<embed src=\"m.swf\"><img src=\"a.jpg\">", rz::ReferenceKind::Flash),
            (std::vector<std::u16string>{u"m.swf"}));
  EXPECT_TRUE(rz::FindReferences(u"no files", rz::ReferenceKind::Image).empty());
}

TEST_F(PostProcess, DownloadReferences) {
  rztest::TempDir dir;
  const std::u16string base = U16(dir.Path().string().c_str());
  std::vector<std::u16string> fetched;
  std::vector<rz::DownloadFileRow> recorded;
  rz::FileFetcher fetcher;
  fetcher.Download = [&](const std::u16string& url, const std::u16string& path) {
    fetched.push_back(url);
    if (url.find(u"missing") != std::u16string::npos) return false;
    rztest::WriteFile(pcutil::ToFsPath(path), "image");
    return true;
  };
  fetcher.Record = [&](const rz::DownloadFileRow& row) {
    recorded.push_back(row);
    return true;
  };
  std::vector<rz::DownloadFileRow> rows;
  const std::u16string value =
      u"<img src=\"/a/b.jpg\"> text <img src=\"/a/b.jpg\"><img src=\"../missing.gif\">"
      u"<img src=\"/a/my pic.jpg\">";
  const std::u16string out = rz::DownloadReferences(fetcher, value, u"http://s/x/y.html", u"L1",
                                                    rz::ReferenceKind::Image, u"[原文件名]_[自增ID:局部]",
                                                    base, u"/Image", rows);
  // references in key order, each fetched once
  EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://s/missing.gif", u"http://s/a/b.jpg",
                                                  u"http://s/a/my%20pic.jpg"}));
  EXPECT_EQ(out, u"<img src=\"/Image/b_2.jpg\"> text <img src=\"/Image/b_2.jpg\">"
                 u"<img src=\"/Image/missing_1.gif\"><img src=\"/Image/my pic_3.jpg\">");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].State, 0);  // failed download: reference replaced, no row written
  EXPECT_EQ(rows[1].State, 1);
  EXPECT_EQ(rows[1].PageUrl, u"http://s/x/y.html");
  EXPECT_EQ(rows[1].DownloadUrl, u"http://s/a/b.jpg");
  EXPECT_EQ(rows[1].ReplaceUrl, u"/Image/b_2.jpg");
  EXPECT_EQ(rows[1].SaveUrl, base + u"/Image/b_2.jpg");
  EXPECT_EQ(rows[1].LabelId, u"L1");
  EXPECT_EQ(recorded.size(), 2u);
  EXPECT_EQ(rztest::ReadFile(dir.Path() / "Image" / "b_2.jpg"), "image");
  EXPECT_FALSE(fs::exists(dir.Path() / "Image" / "missing_1.gif"));
  // without a file database the download alone counts
  rows.clear();
  fetcher.Record = nullptr;
  rz::DownloadReferences(fetcher, u"<img src=\"q.png\">", u"http://s/x/y.html", u"L1",
                         rz::ReferenceKind::Image, u"", base, u"/Image", rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].State, 1);
}

TEST_F(PostProcess, DownloadsStayInTheFolder) {
  rztest::TempDir dir;
  const fs::path root = dir.Path() / "job";
  fs::create_directories(root);
  rztest::WriteFile(dir.Path() / "victim.jpg", "keep");
  rz::FileFetcher fetcher;
  std::vector<std::u16string> paths;
  fetcher.Download = [&](const std::u16string&, const std::u16string& path) {
    paths.push_back(path);
    rztest::WriteFile(pcutil::ToFsPath(path), "x");
    return true;
  };
  std::vector<rz::DownloadFileRow> rows;
  rz::DownloadReferences(fetcher, u"<img src=\"http://s/a/..%2f..%2fvictim.jpg\">", u"http://s/",
                         u"L", rz::ReferenceKind::Image, u"../[原文件名]", U16(root.string().c_str()),
                         u"/../../", rows);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(rztest::ReadFile(dir.Path() / "victim.jpg"), "keep");
  const std::string p = pcutil::ToFsPath(paths[0]);
  EXPECT_EQ(p.rfind(root.string() + "/", 0), 0u) << p;
  EXPECT_EQ(fs::path(p).lexically_normal().string().rfind(root.string() + "/", 0), 0u) << p;
  for (const auto& part : fs::path(p)) EXPECT_NE(part, "..") << p;
}

}  // namespace
