#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "StoreTestUtil.h"
#include "store/Sites.h"

using namespace storetest;
namespace fs = std::filesystem;

namespace {

void WriteJob(const rztest::Sandbox& box, const std::string& title, const std::string& body) {
  rztest::WriteFile(box / ("Data/Job/" + title + ".xml"), CfgBytes(body));
}

// Leaves only the job files a test writes itself.
void ClearJobs(const rztest::Sandbox& box) {
  fs::remove_all(box / "Data/Job");
  fs::create_directories(box / "Data/Job");
}

}  // namespace

TEST(Sites, NewIdsFollowTheFormatAndNeverRepeat) {
  rz::SiteStore store;
  const std::regex format(R"((\d{4})-(\d{2})-(\d{2})-(\d{2})-(\d{2})-(\d{2})-(\d+))");
  std::smatch m;
  const std::string first = S(store.NewId());
  ASSERT_TRUE(std::regex_match(first, m, format)) << first;
  EXPECT_EQ(m[7], "100");
  std::set<std::u16string> ids{U(first)};
  for (int i = 0; i < 50; ++i) ids.insert(store.NewId());
  EXPECT_EQ(ids.size(), 51u);
  const std::string later = S(store.NewId());
  ASSERT_TRUE(std::regex_match(later, m, format));
  EXPECT_EQ(m[7], "151");
  // Another store (another program run) counts from 100 again.
  rz::SiteStore other;
  EXPECT_TRUE(S(other.NewId()).ends_with("-100"));
}

TEST(Sites, RebuildFillsMissingIdsAndSavesTheJobFiles) {
  rztest::Sandbox box;
  ClearJobs(box);
  WriteJob(box, "b-job", "<Cfg><JobName>第二个</JobName><IsPublish>0</IsPublish></Cfg>");
  WriteJob(box, "a-job", "<Cfg></Cfg>");
  WriteJob(box, "c-job", "<Cfg><SiteId>s1</SiteId><SiteName>站点一</SiteName><JobId>stale</JobId></Cfg>");
  WriteJob(box, "火车头模板", "<Cfg></Cfg>");
  rztest::WriteFile(box / "Data/Job/broken.xml", "<Cfg><Type>");
  rztest::WriteFile(box / "Data/Job/notes.txt", "not a job");

  rz::SiteStore store;
  ASSERT_TRUE(store.LoadIndex());  // no index: rebuilt
  ASSERT_EQ(store.Sites.size(), 2u);
  const auto& def = *store.Sites[0];
  EXPECT_EQ(def.SiteId, u"0");
  EXPECT_EQ(def.SiteName, u"默认网站");
  ASSERT_EQ(def.Jobs.size(), 2u);
  EXPECT_EQ(def.Jobs[0]->JobId, u"a-job");
  EXPECT_EQ(def.Jobs[0]->JobName, u"a-job");
  EXPECT_EQ(def.Jobs[1]->JobId, u"b-job");
  EXPECT_EQ(def.Jobs[1]->JobName, u"第二个");
  EXPECT_EQ(def.Jobs[1]->IsPublish, 0);
  EXPECT_EQ(store.Sites[1]->SiteId, u"s1");
  ASSERT_EQ(store.Sites[1]->Jobs.size(), 1u);
  EXPECT_EQ(store.Sites[1]->Jobs[0]->JobId, u"c-job");

  for (const char* title : {"a-job", "b-job", "c-job"}) {
    auto rule = rz::ReadJobRuleFile(P(box / (std::string("Data/Job/") + title + ".xml")));
    ASSERT_TRUE(rule) << title;
    EXPECT_EQ(rule->JobId, U(title));
    EXPECT_FALSE(rule->JobName.empty());
    EXPECT_FALSE(rule->SiteId.empty());
  }
  EXPECT_EQ(rztest::ReadFile(box / "Data/Job/broken.xml"), "<Cfg><Type>");
  EXPECT_TRUE(fs::exists(box / "Data/Job/JobIndex.xml"));
  EXPECT_NE(store.FindRule(u"a-job"), nullptr);

  rz::SiteStore again;
  ASSERT_TRUE(again.LoadIndex());
  EXPECT_EQ(again.IndexXml(), store.IndexXml());
}

TEST(Sites, IndexKeepsInsertionOrderAndRoundTrips) {
  rztest::Sandbox box;
  rz::SiteStore store;
  auto z = store.AddSite(u"z", u"最后加的名字却在前");
  auto a = store.AddSite(u"a", u"A & <B>");
  EXPECT_EQ(store.AddSite(u"z", u"ignored"), z);
  z->Type = 2;
  auto j2 = z->AddJob(u"j2");
  j2->JobName = u"任务 ]]> 二";
  j2->IsGather = 0;
  j2->PlanJob->IsClose = 0;
  j2->PlanJob->Type = 3;
  j2->PlanJob->IntervalCount = u"12:30";
  j2->PlanJob->LastTime = 1767225600;
  j2->PlanJob->NextTime = 4102444800;  // beyond 2038
  z->AddJob(u"j1");
  a->AddJob(u"j0");
  EXPECT_EQ(z->AddJob(u"j2"), j2);
  ASSERT_TRUE(store.SaveIndex());

  const std::string bytes = rztest::ReadFile(box / "Data/Job/JobIndex.xml");
  EXPECT_LT(bytes.find("<SiteId><![CDATA[z]]>"), bytes.find("<SiteId><![CDATA[a]]>"));
  EXPECT_LT(bytes.find("[j2]"), bytes.find("[j1]"));
  EXPECT_NE(bytes.find("<Site><Type><![CDATA[2]]></Type><SiteName>"), std::string::npos);

  rz::SiteStore loaded;
  ASSERT_TRUE(loaded.LoadIndex());
  ASSERT_EQ(loaded.Sites.size(), 2u);
  EXPECT_EQ(loaded.Sites[0]->SiteId, u"z");
  EXPECT_EQ(loaded.Sites[0]->Type, 2);
  const auto& plan = *loaded.Sites[0]->Jobs[0]->PlanJob;
  EXPECT_EQ(plan, *j2->PlanJob);
  EXPECT_EQ(loaded.Sites[0]->Jobs[0]->JobName, j2->JobName);
  ASSERT_TRUE(loaded.SaveIndex());
  EXPECT_EQ(rztest::ReadFile(box / "Data/Job/JobIndex.xml"), bytes);
}

TEST(Sites, IndexReadingToleratesOrderAndMissingValues) {
  rz::SiteStore store;
  ASSERT_TRUE(store.ParseIndex(U(kDecl +
      "<Cfg><Site><SiteId>s</SiteId><Job><PlanJob><Type>2</Type></PlanJob><JobId>j</JobId></Job>"
      "<Type>x</Type></Site><Site><SiteId>s</SiteId><SiteName>dup</SiteName><Job><JobId>k</JobId>"
      "<IsGather>0</IsGather></Job></Site></Cfg>")));
  ASSERT_EQ(store.Sites.size(), 1u) << "a repeated site id adds to the first entry";
  const auto& site = *store.Sites[0];
  EXPECT_EQ(site.Type, 0);
  EXPECT_EQ(site.SiteName, u"");
  ASSERT_EQ(site.Jobs.size(), 2u);
  EXPECT_EQ(site.Jobs[0]->PlanJob->IsClose, 1) << "a schedule without IsClose is off";
  EXPECT_EQ(site.Jobs[0]->PlanJob->Type, 2);
  EXPECT_EQ(site.Jobs[0]->IsGather, 1);
  EXPECT_EQ(site.Jobs[1]->IsGather, 0);
  EXPECT_EQ(store.FindJob(u"k")->JobId, u"k");
  std::shared_ptr<rz::SiteEntry> owner;
  EXPECT_TRUE(store.FindJob(u"j", &owner));
  EXPECT_EQ(owner->SiteId, u"s");
  EXPECT_FALSE(store.FindJob(u"J"));
}

TEST(Sites, MalformedIndexIsRebuiltAndKept) {
  rztest::Sandbox box;
  ClearJobs(box);
  WriteJob(box, "only", "<Cfg><SiteId>0</SiteId><SiteName>默认网站</SiteName><JobId>only</JobId>"
                        "<JobName>唯一</JobName></Cfg>");
  const std::string job = rztest::ReadFile(box / "Data/Job/only.xml");
  for (const std::string& bad : {CfgBytes("<Cfg><Site>"), std::string("garbage"), CfgBytes("<Index/>")}) {
    rztest::WriteFile(box / "Data/Job/JobIndex.xml", bad);
    rz::SiteStore store;
    ASSERT_TRUE(store.LoadIndex());
    ASSERT_EQ(store.Sites.size(), 1u);
    ASSERT_EQ(store.Sites[0]->Jobs.size(), 1u);
    EXPECT_EQ(store.Sites[0]->Jobs[0]->JobName, u"唯一");
    EXPECT_EQ(rztest::ReadFile(box / "Data/Job/JobIndex.xml.bak"), bad);
    EXPECT_EQ(rztest::ReadFile(box / "Data/Job/only.xml"), job) << "nothing to fill, not rewritten";
  }
}

TEST(Sites, LoadAllRulesAndRules) {
  rztest::Sandbox box;
  ClearJobs(box);
  WriteJob(box, "x", "<Cfg><SiteId>s</SiteId><SiteName>S</SiteName><JobId>x</JobId><JobName>X</JobName></Cfg>");
  WriteJob(box, "y", "<Cfg><SiteId>s</SiteId><SiteName>S</SiteName><JobId>y</JobId><JobName>Y</JobName></Cfg>");
  rz::SiteStore store;
  ASSERT_TRUE(store.LoadIndex());
  store.JobRules.clear();
  fs::remove(box / "Data/Job/y.xml");
  EXPECT_EQ(store.LoadAllRules(), 1);
  EXPECT_TRUE(store.FindRule(u"x"));
  EXPECT_FALSE(store.FindRule(u"y"));

  // A rule moved to another site is found there only.
  auto moved = std::make_shared<rz::JobRule>(*store.FindRule(u"x"));
  moved->SiteId = u"t";
  store.PutRule(moved);
  EXPECT_EQ(store.FindRule(u"x"), moved);
  int count = 0;
  for (const auto& site : store.JobRules) count += static_cast<int>(site.Jobs.size());
  EXPECT_EQ(count, 1);
  store.RemoveRule(u"x");
  EXPECT_FALSE(store.FindRule(u"x"));
}

TEST(Sites, TreeStateKeepsKnownRowsOnly) {
  rztest::Sandbox box;
  rz::SiteStore store;
  EXPECT_TRUE(store.LoadTreeState().empty()) << "no file: every row closed";
  store.AddSite(u"s", u"S")->AddJob(u"j");
  const std::vector<rz::TreeItemState> rows = {{u"s", 1, 0}, {u"gone", 1, 1}, {u"j", 0, 1}};
  ASSERT_TRUE(store.SaveTreeState(rows));
  EXPECT_EQ(rztest::ReadFile(box / "User/TreeStatus.xml"),
            CfgBytes("<Cfg><Item><Id>s</Id><IsOpen>1</IsOpen><IsSelect>0</IsSelect></Item>"
                     "<Item><Id>gone</Id><IsOpen>1</IsOpen><IsSelect>1</IsSelect></Item>"
                     "<Item><Id>j</Id><IsOpen>0</IsOpen><IsSelect>1</IsSelect></Item></Cfg>"));
  const auto loaded = store.LoadTreeState();
  EXPECT_EQ(loaded, (std::vector<rz::TreeItemState>{{u"s", 1, 0}, {u"j", 0, 1}}));
  rztest::WriteFile(box / "User/TreeStatus.xml", "<Cfg><Item>");
  EXPECT_TRUE(store.LoadTreeState().empty());
}
