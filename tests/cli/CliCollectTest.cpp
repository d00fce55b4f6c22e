#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliRun.h"
#include "Sandbox.h"

using rztest::RunCli;

TEST(CliCollect, ExpandListUrl) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string out;
  };
  const Case cases[] = {
      {{"expand-list-url", "http://s/list_<1,3,0,1>.html"}, 0,
       "http://s/list_1.html\nhttp://s/list_2.html\nhttp://s/list_3.html\n"},
      {{"expand-list-url", "p<01,3,1,10>"}, 0, "p30\np20\np10\n"},
      {{"expand-list-url", "p<a,z,0>", "5"}, 0, "pa\npb\npc\npd\n"},
      {{"expand-list-url", "http://s/新闻.html"}, 0, "http://s/新闻.html\n"},
      {{"expand-list-url", "p<1,2,0,1,1>"}, 1, ""},  // five fields: nothing
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[1];
  }
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"expand-list-url"}, {"expand-list-url", ""}, {"expand-list-url", "p", "x"},
           {"expand-list-url", "p", "-1"}, {"expand-list-url", "a", "1", "2"}}) {
    const auto r = RunCli(bad);
    EXPECT_EQ(r.exitCode, 2) << bad.size();
    EXPECT_NE(r.err, "");
  }
}

TEST(CliCollect, ExpandListUrlFileFromTheProgramFolder) {
  rztest::TempDir root;
  std::ofstream(root.Path() / "urls.txt") << "http://a/1\n\nhttp://a/2\n";
  const auto r = RunCli({"--root", root.Path().string(), "expand-list-url", "#FILE#urls.txt"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "http://a/1\n\nhttp://a/2\n");
}
