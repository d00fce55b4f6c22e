// Charset detection and decoding of fetched pages.
#include <gtest/gtest.h>

#include "HttpFixture.h"
#include "NetTestUtil.h"
#include "net/Http.h"

using namespace pcutil;
using namespace nettest;
using rztest::HttpFixture;

namespace {

const std::string kGbk = Utf16ToLocal(u"中文网页");  // the same words as GBK bytes

}  // namespace

TEST(Charset, DetectionAndDecodingOfServedPages) {
  struct Case {
    const char* name;
    std::string contentType;  // "" = no Content-Type header
    std::string body;
    std::u16string detected;
    std::u16string text;  // decoded with the detected charset
  };
  const Case cases[] = {
      {"header utf-8", "text/html; charset=UTF-8", "<p>中文网页</p>", u"UTF-8", u"<p>中文网页</p>"},
      {"header gbk", "text/html;charset=gbk", "<p>" + kGbk + "</p>", u"gbk", u"<p>中文网页</p>"},
      {"header wins over meta", "text/html; charset=utf-8",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">中文网页",
       u"utf-8", u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">中文网页"},
      {"html4 meta gb2312", "text/html",
       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
       "</head><body>" + kGbk + "</body></html>",
       u"gb2312",
       u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
       u"</head><body>中文网页</body></html>"},
      {"html5 meta with quotes", "text/html", "<META charset=\"utf-8\"><p>中文网页</p>", u"utf-8",
       u"<META charset=\"utf-8\"><p>中文网页</p>"},
      {"html5 meta single quotes", "", "<meta charset='UTF-8'>中文网页", u"UTF-8",
       u"<meta charset='UTF-8'>中文网页"},
      {"meta after utf-8 text", "text/html", "<title>中文网页</title><meta charset=utf-8>",
       u"utf-8", u"<title>中文网页</title><meta charset=utf-8>"},
      {"undeclared gbk", "text/html", "<p>" + kGbk + "</p>", u"gb2312", u"<p>中文网页</p>"},
      {"iso-8859-1 ascii", "text/html; charset=iso-8859-1", "<p>Hello &eacute;</p>",
       u"iso-8859-1", u"<p>Hello &eacute;</p>"},
  };
  HttpFixture site;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/p" + std::to_string(n++);
    site.Serve(path, rztest::Page(c.body, c.contentType));
    CHttpClientSession s;
    ASSERT_EQ(s.Request(U(site.Url(path)), kMethodGet, true), 1) << s.LastError;
    EXPECT_EQ(s.DetectCharset(), c.detected);
    EXPECT_EQ(s.DecodeBody(s.DetectCharset()), c.text);
    std::u16string text;
    EXPECT_EQ(FetchPage(U(site.Url(path)), text, u"自动识别"), 200);
    EXPECT_EQ(text, c.text);
  }
}

TEST(Charset, UndeclaredUtf8PageIsReadAsTheLocalCodePage) {
  HttpFixture site;
  site.Serve("/u", rztest::Page("<p>中文</p>", "text/html"));
  std::u16string text;
  ASSERT_EQ(FetchPage(U(site.Url("/u")), text, u"自动识别"), 200);
  EXPECT_EQ(text, LocalToUtf16("<p>中文</p>"));
  EXPECT_NE(text, u"<p>中文</p>");
  // A charset given by the rule is used as it is.
  ASSERT_EQ(FetchPage(U(site.Url("/u")), text, u"utf-8"), 200);
  EXPECT_EQ(text, u"<p>中文</p>");
}

TEST(Charset, DecodeBodyRules) {
  struct Case {
    const char* name;
    std::string body;
    std::u16string charset;
    std::u16string text;
  };
  const Case cases[] = {
      {"trimmed and any case", "中", u"  UTF-8\r\n", u"中"},
      {"NULs become spaces, the last byte ends the text", std::string("a\0b\0c\0", 6), u"utf-8",
       u"a b c"},
      {"a NUL that is not last", std::string("a\0b", 3), u"gb2312", u"a b"},
      {"bad UTF-8 byte", "ok\xFFok", u"utf-8", u"ok\uFFFDok"},
      {"big5 and others use the local code page", kGbk, u"big5", u"中文网页"},
      {"unknown name uses the local code page", kGbk, u"x-unknown", u"中文网页"},
      // The merge pass joins every character above U+007F with its successor:
      // é (U+00E9) + 't' -> ((0xE9 * 64) % 2048) | (0x74 % 64) = U+0274; a last one stays.
      {"iso-8859-1 merge pass", "\xC3\xA9t\xC3\xA9", u"iso-8859-1", u"\u0274\u00E9"},
      {"iso-8859-1 plain ascii", "abc", u"ISO-8859-1", u"abc"},
  };
  HttpFixture site;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/d" + std::to_string(n++);
    site.Serve(path, rztest::Page(c.body, "application/octet-stream"));
    CHttpClientSession s;
    ASSERT_EQ(s.Request(U(site.Url(path)), kMethodGet, true), 1);
    EXPECT_EQ(s.Body(), c.body);  // decoding leaves the bytes alone
    EXPECT_EQ(s.DecodeBody(c.charset), c.text);
  }
}

TEST(Charset, BodyAsUtf8) {
  HttpFixture site;
  site.Serve("/j", rztest::Page("{\"k\":\"值\"}", "application/json"));
  CHttpClientSession s;
  ASSERT_EQ(s.Request(U(site.Url("/j")), kMethodGet, true), 1);
  EXPECT_EQ(s.BodyAsUtf8(), u"{\"k\":\"值\"}");
}
