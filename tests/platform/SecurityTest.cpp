#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Sandbox.h"
#include "platform/Security.h"
#include "platform/Theme.h"

namespace fs = std::filesystem;

TEST(ValidateHostHeader, LoopbackNamesWithOurPortOnly) {
  struct Case {
    bool has;
    const char* host;
    bool ok;
  } cases[] = {
      {true, "127.0.0.1:7796", true},   {true, "localhost:7796", true},
      {true, "LOCALHOST:7796", true},   {true, "[::1]:7796", true},
      {false, "", false},               {true, "", false},
      {true, "127.0.0.1", false},       // port 80 implied, not ours
      {true, "127.0.0.1:7797", false},  {true, "evil.example:7796", false},
      {true, "127.0.0.1.evil.example:7796", false},
      {true, "localhost.:7796", false}, {true, "[::1:7796", false},
      {true, "127.0.0.1:77x6", false},  {true, "127.0.0.1:99999999", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rz::ValidateHostHeader(c.has, c.host, 7796).empty(), c.ok) << c.host;
  EXPECT_TRUE(rz::ValidateHostHeader(true, "box.lan:7796", 7796, {"box.lan"}).empty());
  EXPECT_NE(rz::ValidateHostHeader(true, "evil.example:7796", 7796), "");
}

TEST(ValidateOrigin, SameOriginOrNoneWhereAllowed) {
  EXPECT_TRUE(rz::ValidateOrigin(false, "", "127.0.0.1:7796", false).empty());
  EXPECT_FALSE(rz::ValidateOrigin(false, "", "127.0.0.1:7796", true).empty());
  EXPECT_TRUE(rz::ValidateOrigin(true, "http://127.0.0.1:7796", "127.0.0.1:7796", true).empty());
  EXPECT_FALSE(rz::ValidateOrigin(true, "http://evil.example", "127.0.0.1:7796", true).empty());
  EXPECT_FALSE(rz::ValidateOrigin(true, "http://localhost:7796", "127.0.0.1:7796", true).empty());
  EXPECT_FALSE(rz::ValidateOrigin(true, "null", "127.0.0.1:7796", false).empty());
  EXPECT_FALSE(rz::ValidateOrigin(true, "https://127.0.0.1:7796", "127.0.0.1:7796", false).empty());
}

TEST(ValidateToken, CookieOrQueryMustMatch) {
  const std::string t = "0123456789abcdef0123456789abcdef";
  EXPECT_TRUE(rz::ValidateToken(t, "rz_token_7796", "a=1; rz_token_7796=" + t, "").empty());
  EXPECT_TRUE(rz::ValidateToken(t, "rz_token_7796", "", "x=1&token=" + t).empty());
  EXPECT_EQ(rz::ValidateToken(t, "rz_token_7796", "", ""), "no access token");
  EXPECT_EQ(rz::ValidateToken(t, "rz_token_7796", "rz_token_7796=" + t.substr(1), ""), "wrong access token");
  EXPECT_EQ(rz::ValidateToken(t, "rz_token_7796", "", "token=" + t + "0"), "wrong access token");
  EXPECT_EQ(rz::ValidateToken(t, "rz_token_7796", "xrz_token_7796=" + t, ""), "no access token");
  // Another instance's cookie (another port) is not ours.
  EXPECT_EQ(rz::ValidateToken(t, "rz_token_7796", "rz_token_7797=" + t, ""), "no access token");
  EXPECT_EQ(rz::TokenCookieName(7796), "rz_token_7796");
  EXPECT_FALSE(rz::ValidateToken("", "rz_token_7796", "rz_token_7796=", "token=").empty());
}

TEST(MakeAccessToken, RandomHex) {
  std::string a = rz::MakeAccessToken(), b = rz::MakeAccessToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(a, b);
}

TEST(ResolvePagePath, StaysInsideItsFolder) {
  rztest::TempDir dir;
  fs::path root = dir.Path() / "skin/Default/Html";
  fs::create_directories(root / "sub");
  rztest::WriteFile(root / "a.html", "a");
  rztest::WriteFile(root / "sub/b.html", "b");
  rztest::WriteFile(dir.Path() / "skin/theme.ini", "secret");
  fs::create_symlink("../../theme.ini", root / "link.txt");
  fs::create_symlink("sub/b.html", root / "inner-link.html");

  struct Case {
    const char* path;
    bool ok;
  } cases[] = {
      {"a.html", true},        {"sub/b.html", true},   {"inner-link.html", true},
      {"../../theme.ini", false}, {"sub/../a.html", false}, {"..", false},
      {"sub/..", false},       {"/etc/passwd", false}, {"..\\theme.ini", false},
      {"a.html\x01", false},   {"", false},            {"link.txt", false},
      {"/a.html", false},      {"sub//b.html", false},
  };
  for (const auto& c : cases) {
    fs::path out;
    std::string reason = rz::ResolvePagePath(root, c.path, out);
    EXPECT_EQ(reason.empty(), c.ok) << c.path << ": " << reason;
    if (c.ok) {
      EXPECT_TRUE(fs::exists(out)) << c.path;
    }
  }
}

TEST(FormatRefusal, NamesCheckReasonAndPeer) {
  EXPECT_EQ(rz::FormatRefusal("ValidateToken", "no access token", "127.0.0.1:5000"),
            "ui: refused 127.0.0.1:5000: ValidateToken: no access token");
}

TEST(Theme, ReadsSkinSectionCaseInsensitively) {
  rz::IniData ini = rz::ParseIni("\xEF\xBB\xBF; comment\r\n[Skin]\r\nDefaultDir = Blue \r\n"
                                 "tabbar_close=x.png\r\n[Other]\r\nDefaultDir=No\r\n");
  EXPECT_EQ(ini["skin"]["defaultdir"], "Blue");
  EXPECT_EQ(ini["skin"]["tabbar_close"], "x.png");
  EXPECT_EQ(ini["other"]["defaultdir"], "No");

  rztest::Sandbox sandbox;
  rztest::WriteFile(sandbox / "skin/theme.ini", "[SKIN]\ndefaultdir=Blue\n");
  EXPECT_EQ(rz::ReadThemeValue(u"DefaultDir"), u"Blue");
  EXPECT_EQ(rz::ReadThemeValue(u"tabbar_icon"), u"");
  EXPECT_TRUE(rz::PageFolder().ends_with(u"/skin/Blue/Html/"));
  fs::remove(sandbox / "skin/theme.ini");
  EXPECT_EQ(rz::ReadThemeValue(u"DefaultDir"), u"");
}
