#include <gtest/gtest.h>

#include "CliRun.h"
#include "HttpFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"

using rztest::RunCli;

TEST(CliFetch, PrintsTheDecodedPageWithTheUserAgentSetting) {
  rztest::TempDir root;
  rztest::WriteFile(root.Path() / "User/Cfg.xml",
                    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg><UserAgent><![CDATA["
                    "RzCli/1.0]]></UserAgent></Cfg>");
  rztest::HttpFixture site;
  site.Serve("/gbk", rztest::Page("<p>" + pcutil::Utf16ToLocal(u"中文") + "</p>", "text/html"));
  site.Serve("/utf8", rztest::Page("<meta charset=\"utf-8\"><p>中文</p>", "text/html"));
  const std::string rootArg = root.Path().string();

  auto r = RunCli({"--root", rootArg, "fetch", site.Url("/gbk")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "<p>中文</p>");
  EXPECT_EQ(site.Last().Header("User-Agent"), "RzCli/1.0");

  r = RunCli({"--root", rootArg, "fetch", "--headers", site.Url("/utf8")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("status: 200\ncharset: utf-8\nHTTP/1.1 200 OK\r\n")) << r.out;
  EXPECT_TRUE(r.out.ends_with("\r\n\r\n<meta charset=\"utf-8\"><p>中文</p>")) << r.out;

  // A charset given on the command line is used as it is.
  r = RunCli({"--root", rootArg, "fetch", site.Url("/gbk"), "utf-8"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out, "<p>中文</p>");
}

TEST(CliFetch, FailuresAndBadInput) {
  rztest::HttpFixture site;
  auto r = RunCli({"fetch", "--headers", site.Url("/missing")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "status: 404\n");
  EXPECT_NE(r.err.find("404"), std::string::npos) << r.err;
  EXPECT_EQ(RunCli({"fetch", "ftp://127.0.0.1/x"}).exitCode, 1);
  EXPECT_EQ(RunCli({"fetch"}).exitCode, 2);
  EXPECT_EQ(RunCli({"fetch", "a", "b", "c"}).exitCode, 2);
  EXPECT_EQ(RunCli({"fetch", "--nope", "a"}).exitCode, 2);
}
