// rizede-cli db: counts and resets of a job's content database, on both engines.
#include <unistd.h>

#include <gtest/gtest.h>

#include "../cli/CliRun.h"
#include "MariaDbFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"

namespace {

using pcutil::Format;

class CliDb : public ::testing::TestWithParam<std::u16string> {
 protected:
  void SetUp() override {
    static int counter = 0;
    jobId_ = Format(u"cli-%d-%d", static_cast<int>(getpid()), ++counter);
    rz::JobRule rule;
    rule.JobId = jobId_;
    rule.JobName = u"命令行";
    rz::LabelRule label;
    label.Id = label.LabelName = u"标题";
    rule.ContentRex.LabelRex.push_back(label);
    ASSERT_TRUE(rz::SaveJobRule(rule));
    if (GetParam() == u"MySql") {
      settings_ = rztest::MariaDb::Settings();
      options_ = {"--engine", "MySql", "--port", pcutil::Utf16ToUtf8(settings_.Port)};
    } else {
      settings_.Type = u"ACCESS";
      settings_.SqlDb.clear();
      options_ = {"--engine", "ACCESS"};
    }
    rz::ContentDatabase db(settings_, jobId_);
    ASSERT_TRUE(db.Open(true, {u"标题"})) << pcutil::Utf16ToUtf8(db.LastError);
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(db.InsertLink(Format(u"k%d", i)));
      ASSERT_TRUE(db.InsertItem({{u"PageUrl", Format(u"u%d", i)},
                                 {u"已采", i < 3 ? u"1" : u"0"},
                                 {u"已发", i < 1 ? u"1" : u"0"},
                                 {u"标题", u"t"}}));
    }
    ASSERT_TRUE(db.AddDownload({u"d", u"u0", u"s", u"r", 1, 0, u"标题"}));
  }

  rztest::CliResult Run(std::vector<std::string> extra) {
    std::vector<std::string> args{"--root", sandbox_.Root().string(), "db",
                                  pcutil::Utf16ToUtf8(jobId_)};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), options_.begin(), options_.end());
    return rztest::RunCli(args);
  }

  rztest::Sandbox sandbox_;
  std::u16string jobId_;
  rz::DbSettings settings_;
  std::vector<std::string> options_;
};

TEST_P(CliDb, CountsAndResets) {
  auto r = Run({});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "links known\t4\nitems\t4\ncollected\t3\nrewritten\t0\npublished\t1\n"
            "downloaded files\t1\n");

  r = Run({"--reset", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "已经标记内容为已发布\n");
  r = Run({"--reset", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Run({"--reset", "7"});
  EXPECT_EQ(r.out, "已经清空所有网址库\n");
  r = Run({});
  EXPECT_NE(r.out.find("links known\t0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("published\t4\n"), std::string::npos) << r.out;

  for (const char* bad : {"8", "-1", "x"}) EXPECT_EQ(Run({"--reset", bad}).exitCode, 2) << bad;
  EXPECT_EQ(Run({"--frobnicate", "1"}).exitCode, 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, CliDb, ::testing::Values(u"ACCESS", u"MySql"),
                         [](const auto& info) { return pcutil::Utf16ToUtf8(info.param); });

TEST(CliDbJob, UnknownJobFails) {
  rztest::Sandbox sandbox;
  auto r = rztest::RunCli({"--root", sandbox.Root().string(), "db", "no-such-job"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("no job no-such-job"), std::string::npos) << r.err;
  EXPECT_EQ(rztest::RunCli({"--root", sandbox.Root().string(), "db"}).exitCode, 2);
}

}  // namespace
