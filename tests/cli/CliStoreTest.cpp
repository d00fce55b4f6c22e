#include <gtest/gtest.h>

#include <filesystem>

#include "CliRun.h"
#include "Sandbox.h"

using rztest::RunCli;
namespace fs = std::filesystem;

namespace {

const std::string kRule =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Cfg>\n  <JobId>j1</JobId>\n"
    "  <JobName> 新闻 </JobName>\n  <ListUrlRex><Urls><Item>http://a/</Item><Item></Item></Urls>"
    "</ListUrlRex>\n</Cfg>\n";

}  // namespace

TEST(CliStore, RuleResaveNormalisesAndIsStable) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "in.rule", kRule);
  const std::string out1 = (dir.Path() / "out1.xml").string();
  const std::string out2 = (dir.Path() / "out2.xml").string();
  auto r = RunCli({"rule", "resave", (dir.Path() / "in.rule").string(), out1});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string first = rztest::ReadFile(out1);
  EXPECT_TRUE(first.starts_with("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg><Type>1</Type>"));
  EXPECT_NE(first.find("<JobName>新闻</JobName>"), std::string::npos);
  EXPECT_NE(first.find("<Urls><Item>http://a/</Item></Urls>"), std::string::npos);
  r = RunCli({"rule", "resave", out1, out2});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(rztest::ReadFile(out2), first);
}

TEST(CliStore, RuleResaveRefusesWhatItCannotRead) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "bad.xml", "<Cfg><Type>");
  const std::string out = (dir.Path() / "out.xml").string();
  const std::vector<std::vector<std::string>> cases = {
      {"rule", "resave", (dir.Path() / "bad.xml").string(), out},
      {"rule", "resave", (dir.Path() / "missing.xml").string(), out},
      {"rule", "resave", (dir.Path() / "bad.xml").string()},
      {"rule", "convert", "a", "b"},
      {"rule"},
  };
  for (const auto& args : cases) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_TRUE(r.err.starts_with("rizede-cli: ")) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_EQ(rztest::ReadFile(dir.Path() / "bad.xml"), "<Cfg><Type>");
  EXPECT_NE(RunCli(cases[0]).err.find("not well-formed"), std::string::npos);
}

TEST(CliStore, JobsListsTheIndexRebuildingItWhenMissing) {
  rztest::TempDir root;
  const auto job = [&](const std::string& id, const std::string& body) {
    rztest::WriteFile(root.Path() / "Data/Job" / (id + ".xml"),
                      "<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg>" + body + "</Cfg>");
  };
  job("b", "<JobName>乙</JobName><IsPublish>0</IsPublish>");
  job("a", "<SiteId>s1</SiteId><SiteName>站点</SiteName><JobName>甲</JobName>");
  auto r = RunCli({"--root", root.Path().string(), "jobs"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "site\ts1\t站点\ttype 1\n"
            "  job\ta\t甲\tgather 1 original 1 publish 1\tschedule off\n"
            "site\t0\t默认网站\ttype 1\n"
            "  job\tb\t乙\tgather 1 original 1 publish 0\tschedule off\n");
  EXPECT_TRUE(fs::exists(root.Path() / "Data/Job/JobIndex.xml"));
  // The second run reads the index it wrote.
  EXPECT_EQ(RunCli({"--root", root.Path().string(), "jobs"}).out, r.out);

  rztest::TempDir empty;
  r = RunCli({"--root", empty.Path().string(), "jobs"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunCli({"jobs", "extra"}).exitCode, 2);
}
