// The tree page's pure parts: page building, selection from the page's rows, command
// enabling; and the job run page's log line script.
#include <gtest/gtest.h>

#include "app/LeftView.h"
#include "app/LogView.h"

namespace {

rz::TreeSelection Sel(bool any, bool siteRow, int jobs, bool active = false, bool paused = false) {
  rz::TreeSelection s;
  s.any = any;
  s.siteRow = siteRow;
  for (int i = 0; i < jobs; ++i) s.jobIds.push_back(u"j" + std::u16string(1, char16_t(u'0' + i)));
  s.active = active;
  s.paused = paused;
  return s;
}

TEST(TreeCommands, EnablingTable) {
  const auto none = Sel(false, false, 0);
  const auto idle = Sel(true, false, 1);
  const auto running = Sel(true, false, 1, true);
  const auto paused = Sel(true, false, 1, true, true);
  const auto two = Sel(true, false, 2);
  const auto site = Sel(true, true, 2);
  const auto siteOne = Sel(true, true, 1);
  const auto emptySite = Sel(true, true, 0);
  struct Case {
    int command;
    rz::TreeSelection selection;
    bool enabled;
    const char* why;
  } cases[] = {
      {9500, none, false, "start: nothing selected"},
      {9500, idle, true, "start: one idle job"},
      {9500, running, false, "start: one running job"},
      {9500, paused, true, "start: one paused job resumes"},
      {9500, two, true, "start: several jobs"},
      {9500, site, true, "start: a site of two jobs"},
      {9500, siteOne, false, "start: a site row with one job"},
      {9500, emptySite, false, "start: a site without jobs"},
      {9502, running, true, "stop: running"},
      {9502, paused, true, "stop: paused"},
      {9502, idle, false, "stop: idle"},
      {9502, siteOne, false, "stop: site row"},
      {9503, running, true, "pause: running"},
      {9503, paused, false, "pause: already paused"},
      {9503, two, false, "pause: two jobs"},
      {10007, none, true, "new site: always"},
      {10007, running, true, "new site: always, whatever is selected"},
      {10008, site, true, "rename site: site row"},
      {10008, idle, false, "rename site: job row"},
      {10003, none, false, "delete: nothing"},
      {10003, running, false, "delete: the running job"},
      {10003, site, true, "delete: site (refused later when it has jobs)"},
      {10003, two, true, "delete: two jobs"},
      {10005, idle, true, "mark unpublished: one idle job"},
      {10005, running, false, "mark unpublished: running"},
      {10010, siteOne, false, "clear data: site row"},
      {10017, idle, true, "clear links: one idle job"},
      {10018, idle, true, "data manager: one idle job"},
      {10018, two, false, "data manager: two jobs"},
      {10009, two, true, "copy: jobs"},
      {10009, site, false, "copy: site row"},
      {9501, idle, true, "plan settings: one job"},
      {9501, siteOne, false, "plan settings: site row"},
      // Commands whose features are not built yet are never enabled.
      {10001, idle, false, "edit job: not built"},
      {10002, none, false, "new job: not built"},
      {10012, none, false, "import: not built"},
      {10013, site, false, "export: not built"},
  };
  for (const auto& c : cases) EXPECT_EQ(rz::TreeCommandEnabled(c.command, c.selection), c.enabled) << c.why;
}

rz::SiteStore Store() {
  rz::SiteStore store;
  auto a = store.AddSite(u"S1", u"新闻站");
  auto j1 = a->AddJob(u"J1");
  j1->JobName = u"<国内>";
  j1->IsPublish = 1;
  auto j2 = a->AddJob(u"J2");
  j2->JobName = u"国际";
  j2->IsPublish = 0;
  auto b = store.AddSite(u"S2", u"空站");
  (void)b;
  auto k = store.AddSite(u"S3", u"站群");
  k->Type = 2;
  k->AddJob(u"K1")->JobName = u"关键字";
  auto u = store.AddSite(u"S4", u"a_b");  // "_" in the name: rows not recognised
  u->AddJob(u"U1");
  return store;
}

TEST(TreePage, SelectionFromRows) {
  rz::SiteStore store = Store();
  const std::u16string html =
      u"<table id=\"jobtable\"><tbody><tr id=\"jobhead\"><th>x</th></tr>"
      u"<tr id=\"jobtable_S1_新闻站\" class=\"site\" selectstate=\"yes\"><td>a</td></tr>"
      u"<tr id=\"jobtable_S1_新闻站_J1\" selectstate=\"no\"><td>b</td></tr>"
      u"<TR ID=\"jobtable_S3_站群_K1\" selectState=\"yes\"><td>c</td></TR>"
      u"<tr id=\"jobtable_S4_a_b_U1\" selectstate=\"yes\"><td>d</td></tr>"
      u"<tr id=\"jobtable_S4_a_b\" selectstate=\"yes\"><td>d</td></tr></tbody></table>";
  auto ids = rz::SelectedRowIds(html);
  ASSERT_EQ(ids.size(), 4u);
  auto s = rz::ResolveSelection(ids, store);
  EXPECT_TRUE(s.any);
  EXPECT_TRUE(s.siteRow);
  EXPECT_EQ(s.siteIds, (std::vector<std::u16string>{u"S1"}));
  // The site row stands for its two jobs; the "_" site's rows are ignored ("a_b" makes the
  // job row five parts; the site row four parts names job "b" of site "S4", which is unknown
  // as a job but counted as the designed split says).
  EXPECT_EQ(s.jobIds, (std::vector<std::u16string>{u"J1", u"J2", u"K1", u"b"}));

  auto jobOnly = rz::ResolveSelection({u"jobtable_S1_新闻站_J2"}, store);
  EXPECT_FALSE(jobOnly.siteRow);
  EXPECT_EQ(jobOnly.jobIds, (std::vector<std::u16string>{u"J2"}));
  EXPECT_FALSE(rz::ResolveSelection({u"jobhead", u"x_y"}, store).any);
}

TEST(TreePage, BuildsSiteBlocksForTheViewMode) {
  rz::SiteStore store = Store();
  *store.FindJob(u"J2")->PlanJob = rz::PlanJob{0, 3, u"5", 0, 1709629447};
  const std::u16string page = u"<table><tr>{jobs.tab}</tr><tr>{jobs.head}</tr>{site.repeat}</table>";
  const std::u16string site = u"<S id=\"{siteid}\" n=\"{sitename}\" c=\"{Ischeck1}{Ischeck2}{Ischeck3}\">";
  const std::u16string job = u"<J s=\"{siteid}\" id=\"{jobid}\" n=\"{jobname}\" p=\"{Ischeck3}\">";
  std::u16string regular = rz::BuildTreePage(store, 1, page, site, job);
  EXPECT_NE(regular.find(u"<S id=\"S1\" n=\"新闻站\" c=\"checkedchecked\">"), std::u16string::npos)
      << "the site's boxes are those of its last job (not publishing)";
  EXPECT_NE(regular.find(u"<J s=\"S1\" id=\"J1\" n=\"&lt;国内&gt;\" p=\"checked\">"), std::u16string::npos);
  EXPECT_NE(regular.find(u"id=\"J2_HandUp\""), std::u16string::npos) << "the plan marker";
  EXPECT_NE(regular.find(u"<S id=\"S2\" n=\"空站\" c=\"\">"), std::u16string::npos);
  EXPECT_EQ(regular.find(u"关键字\""), std::u16string::npos) << "keyword sites only in mode 2";
  EXPECT_NE(regular.find(u"站点规则"), std::u16string::npos);
  std::u16string keyword = rz::BuildTreePage(store, 2, page, site, job);
  EXPECT_NE(keyword.find(u"<J s=\"S3\" id=\"K1\" n=\"关键字\""), std::u16string::npos);
  EXPECT_EQ(keyword.find(u"S1"), std::u16string::npos);
  EXPECT_NE(keyword.find(u"站群规则"), std::u16string::npos);
}

TEST(LogPage, LogLineScript) {
  EXPECT_EQ(rz::CLogView::LogLineScript(u"ok", 1), u"add('<span id=log2>ok</br></span>',1);");
  EXPECT_EQ(rz::CLogView::LogLineScript(u"it's \"x\"\\n\r\nend\n", 2),
            u"add('<span id=log3>it\\'s \\\"x\\\"\\nend</br></span>',2);");
}

}  // namespace
