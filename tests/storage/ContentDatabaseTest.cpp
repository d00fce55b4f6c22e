// The content database's statements, run the same way on both engines: "ACCESS" (an SQLite
// file in a sandbox program folder) and "MySql" (the suite's own MariaDB server).
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "MariaDbFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"

namespace fs = std::filesystem;

namespace {

using pcutil::Format;
using pcutil::U16;
using rz::ContentDatabase;
using rz::FieldMap;

const std::u16string kCollected = u"已采", kRewritten = u"已原创", kPublished = u"已发";

class ContentDb : public ::testing::TestWithParam<std::u16string> {
 protected:
  void SetUp() override {
    static int counter = 0;
    // Dashes, as in real job ids: MySQL tables are named with them turned into "_".
    jobId_ = Format(u"2026-12-11-%d-%d", static_cast<int>(getpid()), ++counter);
    if (Engine() == u"MySql") {
      settings_ = rztest::MariaDb::Settings();
    } else {
      settings_.Type = u"ACCESS";
      settings_.SqlDb.clear();
    }
  }

  const std::u16string& Engine() const { return GetParam(); }
  bool IsMySql() const { return Engine() == u"MySql"; }

  std::unique_ptr<ContentDatabase> Open(const std::vector<std::u16string>& labels = {u"标题", u"内容"}) {
    auto db = std::make_unique<ContentDatabase>(settings_, jobId_);
    EXPECT_TRUE(db->Open(true, labels)) << pcutil::Utf16ToUtf8(db->LastError);
    return db;
  }

  // Every row of the last result, read the way the stages read them.
  static std::vector<FieldMap> Rows(ContentDatabase& db) {
    std::vector<FieldMap> rows;
    const long n = db.RecordCount();
    for (long i = 0; i < n; ++i) {
      FieldMap row;
      if (db.ReadRow(row)) rows.push_back(row);
      db.NextRow();
    }
    return rows;
  }

  static std::vector<FieldMap> Select(ContentDatabase& db, const std::u16string& condition = u"") {
    EXPECT_TRUE(db.SelectContent(condition)) << pcutil::Utf16ToUtf8(db.LastError);
    return Rows(db);
  }

  static std::vector<std::u16string> Columns(ContentDatabase& db) {
    // One row is enough to see the columns in order.
    std::vector<std::u16string> names, values;
    db.Connection.GetRow(0, names, values);
    return names;
  }

  static std::u16string Item(const std::u16string& title, const std::u16string& url) {
    return title + url;
  }

  rztest::Sandbox sandbox_;
  std::u16string jobId_;
  rz::DbSettings settings_;
};

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

TEST_P(ContentDb, CreatesTablesWithLabelColumnsAndKeepsThemOnReopen) {
  auto db = Open({u"标题", u"内容", u"作 者"});
  ASSERT_TRUE(db->InsertLinkRow(u"http://a.example/1"));
  db->SelectContent(u"");
  EXPECT_EQ(Columns(*db), (std::vector<std::u16string>{u"ID", kCollected, kRewritten, kPublished,
                                                       u"标题", u"内容", u"作 者", u"PageUrl"}));
  db->Close();

  // A second run on the same database leaves tables and rows as they are.
  auto again = Open({u"别的"});
  auto rows = Select(*again);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][u"PageUrl"], u"http://a.example/1");
  EXPECT_EQ(rows[0][kCollected], u"0");
  EXPECT_EQ(rows[0].count(u"别的"), 0u);
}

TEST_P(ContentDb, JobWithoutLabelsGetsFlagsAndPageUrlOnly) {
  auto db = Open({});
  ASSERT_TRUE(db->InsertLinkRow(u"x"));
  db->SelectContent(u"");
  EXPECT_EQ(Columns(*db), (std::vector<std::u16string>{u"ID", kCollected, kRewritten, kPublished,
                                                       u"PageUrl"}));
}

TEST_P(ContentDb, StoresLinksOnceAndKnowsThemAfterwards) {
  auto db = Open();
  const std::u16string key = pcutil::UrlKey(u"http://a.example/news/1.html");
  EXPECT_EQ(db->CountLink(key), 0);
  EXPECT_TRUE(db->InsertLink(key));
  EXPECT_EQ(db->CountLink(key), 1);
  // The unique index rejects the second insert: the link is known.
  EXPECT_FALSE(db->InsertLink(key));
  EXPECT_EQ(db->CountLink(key), 1);
  EXPECT_TRUE(db->InsertLink(pcutil::UrlKey(u"http://a.example/news/2.html")));

  ASSERT_TRUE(db->InsertLinkRow(u"http://a.example/it's"));
  auto rows = Select(*db, Format(u"where %s=0", kCollected));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][u"PageUrl"], u"http://a.example/it's");
  EXPECT_FALSE(rows[0][u"ID"].empty());
}

TEST_P(ContentDb, LinkBatchCommitsEverythingButTheRejectedInsert) {
  auto db = Open();
  auto reader = Open();  // another stage's connection sees only what was committed
  ASSERT_TRUE(db->BeginBatch()) << U8(db->Connection.ErrorText(u""));
  EXPECT_TRUE(db->InsertLink(u"a"));
  EXPECT_FALSE(db->InsertLink(u"a"));  // known inside the batch as well
  EXPECT_TRUE(db->InsertLinkRow(u"http://a.example/a"));
  EXPECT_TRUE(db->InsertLink(u"b"));
  ASSERT_TRUE(db->CommitBatch());
  EXPECT_EQ(reader->CountLink(u"a"), 1);
  EXPECT_EQ(reader->CountLink(u"b"), 1);
  EXPECT_EQ(Select(*reader).size(), 1u);

  // After the batch every statement commits on its own again.
  EXPECT_TRUE(db->InsertLink(u"c"));
  EXPECT_EQ(reader->CountLink(u"c"), 1);
}

TEST_P(ContentDb, LinkListsInFewStatements) {
  auto db = Open();
  // More keys than one statement takes.
  std::vector<std::u16string> keys, stored;
  for (int i = 0; i < 1200; ++i) {
    keys.push_back(pcutil::UrlKey(Format(u"http://a.example/%d", i)));
    if (i % 3 == 0) stored.push_back(keys.back());
  }
  ASSERT_TRUE(db->InsertLinks(stored));
  std::set<std::u16string> known;
  ASSERT_TRUE(db->KnownLinks(keys, known));
  EXPECT_EQ(known, std::set<std::u16string>(stored.begin(), stored.end()));

  // Content rows in order, values byte-exact.
  const std::vector<std::u16string> urls = {u"http://a.example/it's", u"http://a.example/a\\b\"c",
                                            u"http://例子.example/页"};
  ASSERT_TRUE(db->InsertLinkRows(urls));
  std::vector<std::u16string> got;
  for (const auto& row : Select(*db, u"order by ID")) got.push_back(row.at(u"PageUrl"));
  EXPECT_EQ(got, urls);

  // One known key fails the whole insert; rolled back, the batch leaves nothing behind.
  auto reader = Open();
  ASSERT_TRUE(db->BeginBatch());
  EXPECT_TRUE(db->InsertLinkRows({u"http://a.example/dropped"}));
  EXPECT_FALSE(db->InsertLinks({pcutil::UrlKey(u"http://a.example/new"), stored[5]}));
  ASSERT_TRUE(db->RollbackBatch());
  EXPECT_EQ(reader->CountLink(pcutil::UrlKey(u"http://a.example/new")), 0);
  EXPECT_EQ(Select(*reader).size(), urls.size());
}

TEST_P(ContentDb, InsertsAndUpdatesItemsThroughTheTemplates) {
  auto db = Open();
  ASSERT_TRUE(db->InsertLinkRow(u"http://a.example/1"));
  ASSERT_TRUE(db->SelectUncollected());
  auto rows = Rows(*db);
  ASSERT_EQ(rows.size(), 1u);

  // The content stage: the row's record with the labels, marked collected, written back.
  FieldMap item{{u"ID", rows[0][u"ID"]}, {u"PageUrl", u"http://a.example/1"}, {kCollected, u"1"},
                {u"标题", u"第一篇"}, {u"内容", u"<p>正文</p>"}};
  ASSERT_TRUE(db->UpdateItem(item)) << U8(db->LastError);
  // A new row for a further item of the same page.
  FieldMap second{{u"PageUrl", u"http://a.example/1"}, {kCollected, u"1"}, {u"标题", u"第二篇"},
                  {u"内容", u"b"}};
  ASSERT_TRUE(db->InsertItem(second)) << U8(db->LastError);
  // A keyword item.
  FieldMap keyword{{u"PageUrl", u"http://k.example/"}, {kCollected, u"1"}, {u"标题", u"关键词"},
                   {u"内容", u"k"}};
  ASSERT_TRUE(db->InsertKeywordItem(keyword)) << U8(db->LastError);

  EXPECT_TRUE(db->SelectUncollected());
  EXPECT_EQ(db->RecordCount(), 0);
  rows = Select(*db, u"order by ID");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][u"标题"], u"第一篇");
  EXPECT_EQ(rows[0][u"内容"], u"<p>正文</p>");
  EXPECT_EQ(rows[1][u"标题"], u"第二篇");
  EXPECT_EQ(rows[2][u"标题"], u"关键词");
  for (auto& r : rows) {
    EXPECT_EQ(r[kCollected], u"1");
    EXPECT_EQ(r[kPublished], u"0");
    EXPECT_EQ(r[kRewritten], u"0");
  }

  // ReadRow with a record that has names fills only those.
  ASSERT_TRUE(db->SelectContent(u"order by ID"));
  FieldMap some{{u"标题", u""}};
  ASSERT_TRUE(db->ReadRow(some, 1));
  EXPECT_EQ(some, (FieldMap{{u"标题", u"第二篇"}}));
}

TEST_P(ContentDb, PublishSelectionByCountAndOrder) {
  auto db = Open();
  for (int i = 1; i <= 6; ++i)
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", Format(u"u%d", i)},
                                {kCollected, i == 6 ? u"0" : u"1"},
                                {u"标题", Format(u"t%d", i)}}));
  auto ids = [&](int count, int order) {
    EXPECT_TRUE(db->SelectForPublish(count, order)) << U8(db->PublishSelectSql(count, order));
    std::vector<std::u16string> titles;
    for (auto& r : Rows(*db)) titles.push_back(r[u"标题"]);
    return titles;
  };
  using V = std::vector<std::u16string>;
  EXPECT_EQ(ids(0, 0), (V{u"t1", u"t2", u"t3", u"t4", u"t5"}));
  EXPECT_EQ(ids(2, 0), (V{u"t1", u"t2"}));
  EXPECT_EQ(ids(2, 1), (V{u"t5", u"t4"}));
  EXPECT_EQ(ids(0, 1), (V{u"t5", u"t4", u"t3", u"t2", u"t1"}));
  V random = ids(0, 2);
  std::sort(random.begin(), random.end());
  EXPECT_EQ(random, (V{u"t1", u"t2", u"t3", u"t4", u"t5"}));
  EXPECT_EQ(ids(3, 2).size(), 3u);

  // Publishing marks rows; they leave the selection.
  db->SelectForPublish(2, 0);
  for (auto& r : Rows(*db)) ASSERT_TRUE(db->MarkPublished(r[u"ID"])) << U8(db->LastError);
  EXPECT_EQ(ids(0, 0), (V{u"t3", u"t4", u"t5"}));
}

TEST_P(ContentDb, FlagsValuesAndDeletes) {
  auto db = Open();
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", Format(u"http://a.example/%d", i)},
                                {kCollected, u"1"},
                                {u"标题", Format(u"t%d", i)}}));
  auto rows = Select(*db, u"order by ID");
  ASSERT_EQ(rows.size(), 3u);
  const std::u16string id1 = rows[0][u"ID"], id2 = rows[1][u"ID"], id3 = rows[2][u"ID"];

  EXPECT_TRUE(db->SetFlag(id1, kPublished, 1));
  EXPECT_TRUE(db->SetFlag(id1, kRewritten, 1));
  EXPECT_TRUE(db->UpdateLabel(id2, u"标题", u"新的'标题"));
  EXPECT_FALSE(db->UpdateLabel(u"1 or 1=1", u"标题", u"x"));
  rows = Select(*db, u"order by ID");
  EXPECT_EQ(rows[0][kPublished], u"1");
  EXPECT_EQ(rows[0][kRewritten], u"1");
  EXPECT_EQ(rows[1][u"标题"], u"新的'标题");

  EXPECT_TRUE(db->DeleteRow(id3));
  EXPECT_TRUE(db->DeleteByPageUrl(u"http://a.example/1"));
  rows = Select(*db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][u"ID"], id2);
}

TEST_P(ContentDb, RecordsDownloadsAndTheirUploads) {
  auto db = Open();
  rz::DownloadRow row{u"http://a.example/a.jpg", u"http://a.example/1", u"/srv/img/a'1.jpg",
                      u"/Image/a.jpg", 1, 0, u"label-1"};
  ASSERT_TRUE(db->AddDownload(row)) << U8(db->LastError);
  row.DownloadUrl = u"http://a.example/b.jpg";
  ASSERT_TRUE(db->AddDownload(row));
  row.PageUrl = u"http://a.example/2";
  ASSERT_TRUE(db->AddDownload(row));

  ASSERT_TRUE(db->SelectPendingUploads(u"http://a.example/1"));
  auto pending = Rows(*db);
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0][u"SaveUrl"], u"/srv/img/a'1.jpg");
  EXPECT_EQ(pending[0][u"labelId"], u"label-1");
  EXPECT_EQ(pending[0][u"State"], u"1");
  ASSERT_TRUE(db->MarkUploaded(pending[0][u"ID"]));
  ASSERT_TRUE(db->SelectPendingUploads(u"http://a.example/1"));
  EXPECT_EQ(db->RecordCount(), 1);
  ASSERT_TRUE(db->SelectDownloads(u""));
  EXPECT_EQ(db->RecordCount(), 3);
  ASSERT_TRUE(db->SelectDownloads(u"where Upload=1"));
  EXPECT_EQ(db->RecordCount(), 1);
}

TEST_P(ContentDb, ResetDataOperations) {
  // State before each operation: rows (collected, rewritten, published):
  // (1,0,0) (1,1,1) (1,0,1) and two known links.
  struct Case {
    int op;
    int rows, rewritten, published, links;
    const char* text;
  } cases[] = {
      {0, 3, 0, 2, 2, ""},
      {1, 3, 3, 2, 2, ""},
      {2, 3, 1, 0, 2, "已经标记内容为未发布"},
      {3, 3, 1, 3, 2, "已经标记内容为已发布"},
      {4, 1, 0, 0, 2, "已经删除内容为已发布的数据"},
      {5, 2, 1, 2, 2, "已经删除内容为未发布的数据"},
      {6, 0, 0, 0, 2, "已经清空所有采集内容"},
      {7, 3, 1, 2, 0, "已经清空所有网址库"},
  };
  auto db = Open();
  auto count = [&](const std::u16string& condition) {
    EXPECT_TRUE(db->SelectContent(condition));
    return static_cast<int>(db->RecordCount());
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.op);
    ASSERT_TRUE(db->ExecuteSql(Format(u"delete from %sContent", db->Prefix())));
    ASSERT_TRUE(db->ExecuteSql(Format(u"delete from %sPageUrl", db->Prefix())));
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", u"a"}, {kCollected, u"1"}, {kRewritten, u"0"}, {kPublished, u"0"}}));
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", u"b"}, {kCollected, u"1"}, {kRewritten, u"1"}, {kPublished, u"1"}}));
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", u"c"}, {kCollected, u"1"}, {kRewritten, u"0"}, {kPublished, u"1"}}));
    ASSERT_TRUE(db->InsertLink(u"k1"));
    ASSERT_TRUE(db->InsertLink(u"k2"));

    ASSERT_TRUE(db->ResetData(c.op)) << U8(db->LastError);
    EXPECT_EQ(count(u""), c.rows);
    EXPECT_EQ(count(Format(u"where %s=1", kRewritten)), c.rewritten);
    EXPECT_EQ(count(Format(u"where %s=1", kPublished)), c.published);
    ASSERT_TRUE(db->QuerySql(Format(u"select * from %sPageUrl", db->Prefix())));
    EXPECT_EQ(db->RecordCount(), c.links);
    EXPECT_EQ(U8(ContentDatabase::ResetDataText(c.op)), c.text);
  }
  EXPECT_FALSE(db->ResetData(8));
  EXPECT_EQ(db->LastError, u"无效数据库操作类型！");
  EXPECT_FALSE(db->ResetData(-1));
}

TEST_P(ContentDb, ColumnOperations) {
  auto db = Open({u"标题"});
  ASSERT_TRUE(db->AddColumn(u"来源"));
  ASSERT_TRUE(db->InsertItem({{u"PageUrl", u"p"}, {u"标题", u"t"}, {u"来源", u"s"}}));
  auto rows = Select(*db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][u"来源"], u"s");

  ASSERT_TRUE(db->RenameColumn(u"标题", u"题目"));
  rows = Select(*db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].count(u"标题"), 0u);
  ASSERT_EQ(rows[0].count(u"题目"), 1u);
  // The old engine had no rename: the column comes back empty. MySQL keeps the values.
  EXPECT_EQ(rows[0][u"题目"], IsMySql() ? u"t" : u"");

  ASSERT_TRUE(db->DropColumn(u"来源"));
  rows = Select(*db);
  EXPECT_EQ(rows[0].count(u"来源"), 0u);
}

TEST_P(ContentDb, HostileTextIsStoredByteExact) {
  std::u16string big;
  big.reserve(1 << 20);
  while (big.size() < (1u << 20)) big += u"长文本 with 'quotes' \\ and \"more\" ";
  const std::vector<std::u16string> values = {
      u"it's",
      u"back\\slash\\\\ and \\'",
      u"double \"quotes\" \\\"",
      u"'; DROP TABLE x;--",
      u"\"); DROP TABLE Content; --",
      U16("emoji \xF0\x9F\x98\x80 rare \xF0\xA0\x80\x80 end"),
      u"[DB:内容] and (*) and (INSERT1) (#)",
      u"line\r\nbreak\ttab",
      u"",
      big,
  };
  auto db = Open();
  db->SelectContent(u"");
  ASSERT_TRUE(db->InsertLinkRow(u"probe"));
  db->SelectContent(u"");
  const auto columnsBefore = Columns(*db);

  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    const std::u16string& v = values[i];
    const std::u16string url = Format(u"http://a.example/%d", static_cast<int>(i));
    // Through the insert template, the update template and the direct label update.
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", url}, {kCollected, u"1"}, {u"标题", v}, {u"内容", v}}))
        << U8(db->LastError).substr(0, 300);
    auto rows = Select(*db, Format(u"where PageUrl='%s'", url));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][u"标题"] == v);
    EXPECT_TRUE(rows[0][u"内容"] == v);
    const std::u16string id = rows[0][u"ID"];
    ASSERT_TRUE(db->UpdateItem({{u"ID", id}, {u"标题", v + u"!"}, {u"内容", u"x" + v}}));
    rows = Select(*db, u"where ID=" + id);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][u"标题"] == v + u"!");
    EXPECT_TRUE(rows[0][u"内容"] == u"x" + v);
    ASSERT_TRUE(db->UpdateLabel(id, u"内容", v));
    EXPECT_TRUE(Select(*db, u"where ID=" + id).at(0)[u"内容"] == v);
    EXPECT_TRUE(db->DeleteByPageUrl(url));
    EXPECT_TRUE(Select(*db, u"where ID=" + id).empty());
  }
  // A value too long for its column fails on MySQL instead of being cut short.
  if (IsMySql()) {
    ASSERT_TRUE(db->InsertItem({{u"PageUrl", u"short"}, {u"标题", u"t"}}));
    auto rows = Select(*db, u"where PageUrl='short'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_FALSE(db->UpdateLabel(rows[0][u"ID"], u"PageUrl", big));
    EXPECT_EQ(Select(*db, u"where ID=" + rows[0][u"ID"]).at(0)[u"PageUrl"], u"short");
  }
  // The schema is what it was, and the other tables are still there.
  db->SelectContent(u"");
  EXPECT_EQ(Columns(*db), columnsBefore);
  EXPECT_TRUE(db->SelectDownloads(u""));
  EXPECT_GE(db->CountLink(u"x"), 0);
}

TEST_P(ContentDb, FailingStatementsAndReads) {
  auto db = Open();
  // The old engine reported a rejected statement as done; MySQL reports it.
  const bool ok = db->ExecuteSql(Format(u"update %sContent set NoSuchColumn=1", db->Prefix()));
  EXPECT_EQ(ok, !IsMySql());
  if (IsMySql()) {
    EXPECT_EQ(db->LastError.rfind(u"执行数据库操作失败！", 0), 0u);
  }

  // A failing read keeps the reason and logs it with the statement in today's log file.
  EXPECT_FALSE(db->SelectContent(u"where NoSuchColumn=1"));
  EXPECT_FALSE(db->LastError.empty());
  std::string logged;
  for (auto& f : fs::directory_iterator(sandbox_ / "log")) logged += rztest::ReadFile(f.path());
  EXPECT_NE(logged.find("where NoSuchColumn=1"), std::string::npos) << logged;
  EXPECT_NE(logged.find("错误原因"), std::string::npos) << logged;
}

TEST_P(ContentDb, DropTablesRemovesContentAndDownloads) {
  auto db = Open();
  ASSERT_TRUE(db->InsertLink(u"k"));
  ASSERT_TRUE(db->InsertLinkRow(u"p"));
  ASSERT_TRUE(db->DropTables()) << U8(db->LastError);
  if (IsMySql()) {
    EXPECT_FALSE(db->SelectContent(u""));
    EXPECT_FALSE(db->SelectDownloads(u""));
    EXPECT_EQ(db->CountLink(u"k"), 1);  // the link table stays
  } else {
    EXPECT_FALSE(fs::exists(sandbox_ / ("DB/" + U8(jobId_) + "/Default.mdb")));
  }
}

TEST_P(ContentDb, StagesWriteAtTheSameTime) {
  // Two holders on the same job (a stage's own connection each), two threads on each.
  auto first = Open();
  auto second = Open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      ContentDatabase& db = t % 2 ? *first : *second;
      for (int i = 0; i < 25; ++i) {
        const std::u16string url = Format(u"http://a.example/%d/%d", t, i);
        EXPECT_TRUE(db.InsertLink(pcutil::UrlKey(url)));
        EXPECT_TRUE(db.InsertLinkRow(url));
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(Select(*first).size(), 100u);
  ASSERT_TRUE(second->QuerySql(Format(u"select * from %sPageUrl", second->Prefix())));
  EXPECT_EQ(second->RecordCount(), 100);
}

INSTANTIATE_TEST_SUITE_P(Engines, ContentDb, ::testing::Values(u"ACCESS", u"MySql"),
                         [](const auto& info) { return U8(info.param); });

// ---- engine-specific behaviour ----

TEST(ContentDbOpen, RefusesUnknownEngines) {
  rztest::Sandbox sandbox;
  for (const char16_t* engine : {u"SQL Server", u"mysql", u""}) {
    rz::DbSettings s;
    s.Type = engine;
    ContentDatabase db(s, u"job");
    EXPECT_FALSE(db.Open(true, {u"标题"}));
    EXPECT_EQ(db.LastError, std::u16string(u"不支持的数据库类型！") + engine);
  }
  // The connection itself answers a wrong engine with the designed text, not a crash.
  rz::CAdo ado;
  ado.SetType(u"SQL Server");
  EXPECT_FALSE(ado.Execute(u"select 1"));
  EXPECT_FALSE(ado.Query(u"select 1"));
  EXPECT_EQ(ado.RecordCount(), 0);
  EXPECT_EQ(ado.ErrorText(u"ctx"), u"ctx");
}

TEST(ContentDbOpen, AccessFileLivesInTheJobFolderOrAtSqlDb) {
  rztest::Sandbox sandbox;
  rz::DbSettings s;
  s.Type = u"ACCESS";
  s.SqlDb.clear();
  {
    ContentDatabase db(s, u"a-b");
    ASSERT_TRUE(db.Open(true, {u"标题"})) << U8(db.LastError);
  }
  EXPECT_TRUE(fs::exists(sandbox / "DB/a-b/Default.mdb"));
  s.SqlDb = u"Other\\Mine.mdb";
  {
    ContentDatabase db(s, u"a-b");
    ASSERT_TRUE(db.Open(true, {u"标题"})) << U8(db.LastError);
  }
  EXPECT_TRUE(fs::exists(sandbox / "Other/Mine.mdb"));
  EXPECT_EQ(ContentDatabase::TablePrefix(u"a-b"), u"a_b_");
}

TEST(ContentDbOpen, RefusesWindowsDatabaseFilesWithoutTouchingThem) {
  rztest::Sandbox sandbox;
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  } cases[] = {
      {"jet", std::string("\x00\x01\x00\x00Standard Jet DB\x00", 20) + std::string(2000, '\x5a'),
       "Access(Jet)"},
      {"ace", std::string("\x00\x01\x00\x00Standard ACE DB\x00", 20) + std::string(2000, '\x11'),
       "Access(Jet)"},
      {"junk", std::string("this is not a database at all, just text"), "不是可以打开的数据库文件"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = sandbox / ("DB/" + std::string(c.name) + "/Default.mdb");
    rztest::WriteFile(file, c.bytes);
    rz::DbSettings s;
    s.Type = u"ACCESS";
    s.SqlDb.clear();
    ContentDatabase db(s, U16(c.name));
    EXPECT_FALSE(db.Open(true, {u"标题"}));
    EXPECT_NE(U8(db.LastError).find(c.says), std::string::npos) << U8(db.LastError);
    EXPECT_FALSE(db.DropTables());
    rz::CAdo ado;
    EXPECT_FALSE(ado.CreateAccessDatabase(U16(file.string().c_str())));
    EXPECT_EQ(rztest::ReadFile(file), c.bytes);
  }
}

TEST(CAdoAccess, RowCursorAndRejectedStatements) {
  rztest::TempDir dir;
  const std::u16string path = U16((dir.Path() / "t.mdb").string().c_str());
  rz::CAdo ado;
  ASSERT_TRUE(ado.CreateAccessDatabase(path));
  ado.SetType(u"ACCESS");
  rz::DbSettings s;
  s.Type = u"ACCESS";
  s.SqlDb = path;
  ASSERT_TRUE(ado.Open(s));
  EXPECT_TRUE(ado.Execute(u"CREATE TABLE T (ID autoincrement(1,1) primary key,V TEXT)"));
  for (const char16_t* v : {u"a", u"b", u"c"})
    EXPECT_TRUE(ado.Execute(std::u16string(u"INSERT INTO T (V) VALUES ('") + v + u"')"));
  // Rejected, still true (the old engine's behaviour), with the reason kept.
  EXPECT_TRUE(ado.Execute(u"INSERT INTO Missing (V) VALUES ('x')"));
  EXPECT_NE(U8(ado.ErrorText(u"ctx")).find("Missing"), std::string::npos);

  ASSERT_TRUE(ado.Query(u"select * from T order by ID"));
  EXPECT_EQ(ado.RecordCount(), 3);
  EXPECT_EQ(ado.FieldCount(), 2);
  std::vector<std::u16string> names, values;
  EXPECT_EQ(ado.GetRow(-1, names, values), 2);
  EXPECT_EQ(values, (std::vector<std::u16string>{u"1", u"a"}));
  values.clear(), names.clear();
  ado.GetRow(-1, names, values);  // stays on the row until MoveNext
  EXPECT_EQ(values[1], u"a");
  EXPECT_TRUE(ado.MoveNext());
  values.clear(), names.clear();
  ado.GetRow(-1, names, values);
  EXPECT_EQ(values[1], u"b");
  values.clear(), names.clear();
  ado.GetRow(2, names, values);
  EXPECT_EQ(values[1], u"c");
  std::vector<std::u16string> picked;
  EXPECT_EQ(ado.GetValues(0, {u"V", u"Nope"}, picked), 2);
  EXPECT_EQ(picked, (std::vector<std::u16string>{u"a", u""}));
  std::u16string id;
  EXPECT_TRUE(ado.LastInsertId(u"T", id));
  EXPECT_TRUE(id.empty());
  EXPECT_TRUE(ado.Close());
  EXPECT_TRUE(ado.Close());  // closing twice does nothing
}

TEST(CAdoMySql, RowAccessByIndexAndLastInsertId) {
  rz::DbSettings s = rztest::MariaDb::Settings();
  rz::CAdo ado;
  ado.SetType(u"MySql");
  ASSERT_TRUE(ado.Open(s)) << U8(ado.ErrorText());
  ASSERT_TRUE(ado.Execute(u"CREATE TABLE IF NOT EXISTS cado_rows (ID int NOT NULL auto_increment, V TEXT, PRIMARY KEY(ID))"));
  ASSERT_TRUE(ado.Execute(u"delete from cado_rows"));
  for (const char16_t* v : {u"a", u"b", u"c"})
    ASSERT_TRUE(ado.Execute(std::u16string(u"INSERT INTO cado_rows (V) VALUES ('") + v + u"')"));
  std::u16string id;
  ASSERT_TRUE(ado.LastInsertId(u"cado_rows", id));
  EXPECT_TRUE(pcutil::IsNumber(id) && !id.empty()) << U8(id);

  ASSERT_TRUE(ado.Query(u"select V from cado_rows order by ID"));
  std::vector<std::u16string> names, values;
  EXPECT_EQ(ado.GetRow(2, names, values), 1);
  EXPECT_EQ(values, (std::vector<std::u16string>{u"c"}));
  // Any order of indexes, repeats and "the next row" (-1) give the rows they name.
  const std::vector<std::pair<long, std::u16string>> reads = {
      {0, u"a"}, {1, u"b"}, {1, u"b"}, {-1, u"c"}, {0, u"a"}, {-1, u"b"}, {2, u"c"}, {3, u""}};
  for (const auto& [index, expected] : reads) {
    names.clear(), values.clear();
    ado.GetRow(index, names, values);
    EXPECT_EQ(values.empty() ? u"" : values[0], expected) << index;
  }
  ASSERT_TRUE(ado.Query(u"select V from cado_rows where 1=0"));
  names.clear(), values.clear();
  EXPECT_EQ(ado.GetRow(0, names, values), 1);
  EXPECT_TRUE(values.empty());

  // A rejected statement is reported on this engine.
  EXPECT_FALSE(ado.Execute(u"INSERT INTO no_such_table VALUES (1)"));
  EXPECT_NE(U8(ado.ErrorText(u"ctx")).find("错误号1146"), std::string::npos);
}

TEST(CAdoMySql, ReconnectsAfterTheServerKillsTheConnection) {
  rz::DbSettings s = rztest::MariaDb::Settings();
  rz::CAdo victim, killer;
  victim.SetType(u"MySql");
  killer.SetType(u"MySql");
  ASSERT_TRUE(victim.Open(s));
  ASSERT_TRUE(killer.Open(s));
  ASSERT_TRUE(victim.Query(u"SELECT CONNECTION_ID()"));
  std::vector<std::u16string> names, values;
  victim.GetRow(0, names, values);
  ASSERT_EQ(values.size(), 1u);
  ASSERT_TRUE(killer.Execute(u"KILL " + values[0]));
  EXPECT_TRUE(victim.Execute(u"SELECT 1"));
  ASSERT_TRUE(victim.Query(u"SELECT CONNECTION_ID()"));
  names.clear(), values.clear();
  victim.GetRow(0, names, values);
  EXPECT_NE(values.at(0), u"");
}

TEST(CAdoMySql, TablesAreUtf8mb4AndLongText) {
  rz::DbSettings s = rztest::MariaDb::Settings();
  ContentDatabase db(s, u"a-b");
  ASSERT_TRUE(db.Open(true, {u"标题"})) << U8(db.LastError);
  ASSERT_TRUE(db.QuerySql(u"SHOW CREATE TABLE a_b_Content"));
  std::vector<std::u16string> names, values;
  db.Connection.GetRow(0, names, values);
  ASSERT_EQ(values.size(), 2u);
  const std::string ddl = U8(values[1]);
  EXPECT_NE(ddl.find("`标题` longtext"), std::string::npos) << ddl;
  EXPECT_NE(ddl.find("utf8mb4"), std::string::npos) << ddl;
  ASSERT_TRUE(db.QuerySql(u"SHOW TABLES LIKE 'a\\_b\\_%'"));
  EXPECT_EQ(db.RecordCount(), 3);
}

}  // namespace
