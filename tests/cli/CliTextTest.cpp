#include <gtest/gtest.h>

#include "CliRun.h"

using rztest::RunCli;

TEST(CliText, Commands) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const Case cases[] = {
      {{"url-key", "http://www.example.com/a.html"}, 0, "6298c8b3898c53e189c8142216de2351\n"},
      {{"url-encode", "a /中", "utf-8"}, 0, "a%20/%E4%B8%AD\n"},
      {{"url-encode", "a /中", "gb2312"}, 0, "a%20/%D6%D0\n"},
      {{"url-encode", "\xF0\x9F\x98\x80", "utf-8"}, 0, "%F0%9F%98%80\n"},
      {{"to-absolute", "../../x.html", "http://h/a/b/c/d.html"}, 0, "http://h/a/x.html\n"},
      {{"to-absolute", "//cdn.x/y.js", "https://h/"}, 0, "https://cdn.x/y.js\n"},
      {{"--root", "/tmp", "url-key", ""}, 0, "7f8e34949d444eb84914cdb8316fd730\n"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << " " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, "") << c.args[0];
  }
}

TEST(CliText, BadInputExitsTwoWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"url-key"},
      {"url-key", "a", "b"},
      {"url-encode", "text"},
      {"to-absolute", "x"},
      {"url-key", "bad\xFFutf8"},
      {"no-such-command"},
      {"--bogus"},
  };
  for (const auto& args : cases) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_NE(r.err.find("rizede-cli: "), std::string::npos) << args[0];
  }
}

TEST(CliText, HelpListsTheCommands) {
  const auto r = RunCli({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* name : {"url-key ADDRESS", "url-encode TEXT CHARSET", "to-absolute LINK BASE"})
    EXPECT_NE(r.out.find(name), std::string::npos) << name;
}
