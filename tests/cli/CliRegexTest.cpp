#include <gtest/gtest.h>

#include "CliRun.h"

using rztest::RunCli;

TEST(CliRegex, OperationsPrintOneEntryPerLine) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const Case cases[] = {
      {{"regex", "capture", "0x83", "(\\w+)=(\\d*)", "a=1&b=&c"}, 0, "a=1\na\n1\nb=\nb\n\n"},
      {{"regex", "capture", "1", "(\\w+)=", "a=1&b="}, 0, "a=\na\n"},
      {{"regex", "capture", "0x83", "<title>(.*?)</title>", "<TITLE>标题</TITLE>"}, 0,
       "<TITLE>标题</TITLE>\n标题\n"},
      {{"regex", "capture", "0x83", "z", "abc"}, 1, ""},
      {{"regex", "odd", "0x83", "(\\w+)=", "id=5&name=x"}, 0, "id\nname\n"},
      {{"regex", "replace", "0x83", "<[^>]*>", "<p>a<b>b</b></p>", ""}, 0, "ab\n"},
      {{"regex", "replace", "0x183", "(\\d)", "a1b2", "[$1]\\t"}, 0, "a[1]\tb[2]\t\n"},
      {{"regex", "replace", "0x83", "z", "abc", "y"}, 1, "abc\n"},
      {{"regex", "split", "0", "(。)|(！)", "一。二！"}, 0, "一\n。\n二\n！\n"},
      {{"regex", "split", "0", ",", ",,"}, 1, ""},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << c.args[3] << " " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[1] << " " << c.args[3];
    EXPECT_EQ(r.err, "") << c.args[3];
  }
}

TEST(CliRegex, BadPatternsAndArgumentsExitTwoWithAMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of stderr
  };
  const Case cases[] = {
      {{"regex", "capture", "0x83", "a{3,1}", "aaa"}, "numbers out of order in {} quantifier"},
      {{"regex", "capture", "0x83", "(", "aaa"}, "missing closing parenthesis"},
      {{"regex", "replace", "0x83", "[a", "aaa", "x"}, "missing terminating ]"},
      {{"regex", "split", "0", "a)", "aaa"}, "unmatched closing parenthesis"},
      {{"regex", "capture", "0x83", "^(a+)+$", std::string(40, 'a') + "!"}, "limit"},
      {{"regex", "capture", "0x10", "a", "a"}, "FLAGS"},
      {{"regex", "capture", "zz", "a", "a"}, "FLAGS"},
      {{"regex", "replace", "0", "a", "a"}, "TEMPLATE"},
      {{"regex", "capture", "0", "a", "a", "x"}, "TEMPLATE"},
      {{"regex", "match", "0", "a", "a"}, "usage"},
      {{"regex", "capture", "0", "a"}, "usage"},
      {{"regex", "capture", "0", "a", "bad\xFF"}, "UTF-8"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args[3];
    EXPECT_EQ(r.out, "") << c.args[3];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[3] << ": " << r.err;
  }
}
