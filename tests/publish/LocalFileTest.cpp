// Local file publishing (CSV rows, TXT and HTML files, the desktop folder), the FTP upload and
// address rewriting of downloaded files, the shipped modules and the publish-test command.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "FixtureCms.h"
#include "FtpFixture.h"
#include "MariaDbFixture.h"
#include "PublishFixtures.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "publish/Destinations.h"
#include "publish/ModuleFiles.h"
#include "publish/PublishThread.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"
#include "store/Settings.h"

namespace fs = std::filesystem;

namespace {

using namespace rz;
using pcutil::Format;
using pcutil::U16;

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

class LocalFiles : public ::testing::Test {
 protected:
  PublishTarget Target(const std::u16string& format, const std::u16string& content,
                       const std::u16string& name = u"") {
    PublishTarget t;
    t.ModuleName = format;
    t.ModuleType = u"LocalFile";
    t.LocalPath = U16(out_.Path().string().c_str());
    t.ContentTmpl = content;
    t.FileNameTmpl = name;
    return t;
  }
  rztest::QuietPauses quiet_;
  rztest::Sandbox sandbox_;
  rztest::TempDir out_;
  CPublishThread runner_;
};

TEST_F(LocalFiles, CsvRowsQuoteEveryField) {
  JobRule job;
  job.JobId = u"j1";
  job.LocalFilePublish = Target(u"csv", u"[DB:标题],,[DB:内容]");
  ToData item;
  item.Fields = {{u"标题", u"say \"hi\""}, {u"内容", u"line1\nline2 中文"}};
  ASSERT_EQ(PublishToLocalFile(runner_, item, job.LocalFilePublish, job), kPublishFileSaved);
  EXPECT_EQ(U8(item.Text), "添加一条CSV记录成功");
  item.Fields[u"标题"] = u"second";
  ASSERT_EQ(PublishToLocalFile(runner_, item, job.LocalFilePublish, job), kPublishFileSaved);
  // Named by JobId when the job has no name; GBK with CR LF line ends.
  const std::string bytes = rztest::ReadFile(out_.Path() / "j1.csv");
  EXPECT_EQ(U8(pcutil::LocalToUtf16(bytes)),
            "\"say \"\"hi\"\"\",\"\",\"line1\"\r\n\"line2 中文\"\r\n"
            "\"second\",\"\",\"line1\"\r\n\"line2 中文\"\r\n");
  EXPECT_EQ(bytes.find("\xe4\xb8\xad"), std::string::npos);  // not UTF-8

  // Start deletes the file of the last run.
  auto jobPtr = std::make_shared<JobRule>(job);
  jobPtr->EnableWebPublish = 0;
  jobPtr->EnableLocalFile = 1;
  jobPtr->PublishThreadCount = 1;
  CPublishThread runner;
  DbSettings none;
  none.Type = u"none";
  ASSERT_TRUE(runner.Start(jobPtr, none));
  runner.InputFinished();
  EXPECT_FALSE(fs::exists(out_.Path() / "j1.csv"));
}

TEST_F(LocalFiles, TxtAndHtmlNames) {
  JobRule job;
  ToData item;
  item.Fields = {{u"标题", u"a:b?c"}, {u"内容", u"正文"}};
  PublishTarget txt = Target(u"txt", u"[DB:内容]", u" [DB:标题] ");
  ASSERT_EQ(PublishToLocalFile(runner_, item, txt, job), kPublishFileSaved);
  EXPECT_EQ(U8(item.Text), "a b c");
  EXPECT_EQ(U8(pcutil::LocalToUtf16(rztest::ReadFile(out_.Path() / "a b c.txt"))), "正文");
  PublishTarget html = Target(u"html", u"<p>[DB:内容]</p>", u"[DB:标题] x");
  ASSERT_EQ(PublishToLocalFile(runner_, item, html, job), kPublishFileSaved);
  EXPECT_TRUE(fs::exists(out_.Path() / "a-b-c-x.html"));
  // A title that spells date parts stays as it is; the template's own parts are expanded.
  item.Fields[u"标题"] = u"MM DD";
  PublishTarget dated = Target(u"txt", u"x", u"YYYY [DB:标题]");
  ASSERT_EQ(PublishToLocalFile(runner_, item, dated, job), kPublishFileSaved);
  EXPECT_EQ(U8(item.Text).substr(4), " MM DD");
  // Hostile text arrives unchanged (GBK with the four-byte forms for what GBK lacks).
  const std::u16string hostile = u"it's \\ '; DROP TABLE x;-- 😀 \"q\" 中文";
  item.Fields[u"内容"] = hostile;
  ASSERT_EQ(PublishToLocalFile(runner_, item, Target(u"html", u"[DB:内容]", u"hostile"), job), kPublishFileSaved);
  EXPECT_EQ(pcutil::LocalToUtf16(rztest::ReadFile(out_.Path() / "hostile.html")), hostile);
  // Nothing left of the name.
  item.Fields[u"标题"] = u"???";
  EXPECT_EQ(PublishToLocalFile(runner_, item, Target(u"txt", u"x", u"[DB:标题]"), job), kPublishSaveFailed);
  EXPECT_EQ(U8(item.Text), "文件名为空，保存失败");
  // A name with a path in it stays inside the folder.
  item.Fields[u"标题"] = u"../../escape";
  ASSERT_EQ(PublishToLocalFile(runner_, item, Target(u"txt", u"x", u"[DB:标题]"), job), kPublishFileSaved);
  EXPECT_TRUE(fs::exists(out_.Path() / ".. .. escape.txt"));
}

TEST_F(LocalFiles, EmptyPathIsTheDesktop) {
  rztest::TempDir home;
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home.Path() / "cfg").c_str(), 1);
  JobRule job;
  job.JobName = u"桌面任务";
  PublishTarget t = Target(u"txt", u"x", u"f");
  t.LocalPath.clear();
  ToData item;
  EXPECT_EQ(PublishToLocalFile(runner_, item, t, job), kPublishFileSaved);
  EXPECT_TRUE(fs::exists(home.Path() / "Desktop" / "f.txt"));
  // The XDG user-dirs file names another folder.
  rztest::WriteFile(home.Path() / "cfg" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/桌面\"\n");
  EXPECT_EQ(PublishToLocalFile(runner_, item, t, job), kPublishFileSaved);
  EXPECT_TRUE(fs::exists(home.Path() / "桌面" / "f.txt"));
  job.LocalFilePublish = t;
  EXPECT_EQ(U8(CsvFilePath(job)), (home.Path() / "桌面" / "桌面任务.csv").string());
  setenv("HOME", savedHome.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(LocalFiles, DefaultTemplates) {
  fs::copy_file(fs::path(RZ_SOURCE_DIR) / "data" / "html_tpl.html", sandbox_ / "html_tpl.html");
  EXPECT_EQ(U8(DefaultContentTemplate(u"csv")), "[DB:标题],[DB:内容]");
  EXPECT_EQ(U8(DefaultContentTemplate(u"txt")), "[DB:内容]");
  const std::string html = U8(DefaultContentTemplate(u"html"));
  EXPECT_NE(html.find("<h1>[DB:标题]</h1>"), std::string::npos);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);  // the byte-order mark is not part of it
}

// Upload and address rewriting on a content database of downloaded-file records.
class Uploads : public LocalFiles {
 protected:
  void SetUp() override {
    settings_.Type = u"ACCESS";
    settings_.SqlDb.clear();
    ContentDatabase db(settings_, u"up-job");
    ASSERT_TRUE(db.Open(true, {u"标题", u"内容"}));
    const fs::path file = out_.Path() / "1.jpg";
    rztest::WriteFile(file, "IMG");
    DownloadRow row;
    row.PageUrl = u"http://src/p";
    row.SaveUrl = U16(file.string().c_str());
    row.ReplaceUrl = u"\\pic\\1.jpg";
    ASSERT_TRUE(db.AddDownload(row));
    db.Close();
    ASSERT_TRUE(runner_.OpenContentDb(settings_, u"up-job"));
    item_.Fields = {{u"PageUrl", u"http://src/p"}, {u"内容", u"<img src=\"\\pic\\1.jpg\">"}};
    job_.FileWebDir = u"/upload/";
  }
  DbSettings settings_;
  JobRule job_;
  ToData item_;
};

TEST_F(Uploads, RewritesWithoutFtp) {
  UploadItemFiles(runner_, job_, item_);
  EXPECT_EQ(U8(item_.Fields[u"内容"]), "<img src=\"/upload/pic/1.jpg\">");
  // Once more (the next destination): the prefix is not added twice.
  UploadItemFiles(runner_, job_, item_);
  EXPECT_EQ(U8(item_.Fields[u"内容"]), "<img src=\"/upload/pic/1.jpg\">");
  EXPECT_TRUE(item_.Text.empty());
}

TEST_F(Uploads, UploadsIntoTheFileFolder) {
  rztest::FtpFixture ftp;
  job_.EnableFtp = 1;
  job_.FtpServer = U16(ftp.Host().c_str());
  job_.FtpPort = Format(u"%d", ftp.Port());
  job_.UsePassive = u"1";
  job_.FtpUserName = U16(rztest::FtpFixture::kUser);
  job_.FtpPassword = u"wrong";
  job_.FtpDir = u"/www/";
  UploadItemFiles(runner_, job_, item_);
  EXPECT_EQ(U8(item_.Text).rfind("<font color=\"red\">上传文件--上传文件失败：", 0), 0u) << U8(item_.Text);
  job_.FtpPassword = U16(rztest::FtpFixture::kPassword);
  item_.Text.clear();
  UploadItemFiles(runner_, job_, item_);
  EXPECT_EQ(U8(item_.Text).rfind("上传文件--成功上传文件：<a href=\"", 0), 0u) << U8(item_.Text);
  EXPECT_EQ(rztest::ReadFile(ftp.Root() / "www" / "pic" / "1.jpg"), "IMG");
  // Uploaded records are not uploaded again.
  fs::remove(ftp.Root() / "www" / "pic" / "1.jpg");
  item_.Text.clear();
  UploadItemFiles(runner_, job_, item_);
  EXPECT_TRUE(item_.Text.empty());
  EXPECT_FALSE(fs::exists(ftp.Root() / "www" / "pic" / "1.jpg"));
}

TEST(ShippedModules, LoadWithHelpTexts) {
  rztest::Sandbox sandbox;
  const auto web = ListModules(kModuleFolderPost);
  const auto db = ListModules(kModuleFolderDb);
  ASSERT_GE(web.size(), 2u);
  ASSERT_GE(db.size(), 2u);
  for (const auto& [folder, names] : {std::pair{kModuleFolderPost, web}, std::pair{kModuleFolderDb, db}})
    for (const auto& name : names) {
      PublishModulePtr m = LoadModule(folder, name);
      ASSERT_TRUE(m) << U8(name);
      EXPECT_EQ(m->Name, name);
      EXPECT_FALSE(m->Help.empty()) << U8(name);
      if (std::u16string(folder) == kModuleFolderPost) {
        EXPECT_EQ(m->Type, u"POST");
        EXPECT_FALSE(m->ArticlePost.empty());
        EXPECT_FALSE(m->ArticleOkStr.empty());
        // Addresses are relative to the site.
        EXPECT_NE(m->ArticleUrl.rfind(u"http", 0), 0u);
      } else {
        EXPECT_FALSE(m->SqlValue.empty());
      }
    }
  PublishModulePtr wp = LoadModule(kModuleFolderPost, u"WordPress文章发布");
  ASSERT_TRUE(wp);
  EXPECT_EQ(wp->RandValue.size(), 2u);
  EXPECT_FALSE(wp->LoginErrorStr.empty());
}

TEST(ShippedModules, WordPressDatabaseModuleOnMariaDb) {
  rztest::QuietPauses quiet;
  rztest::Sandbox sandbox;
  const DbSettings maria = rztest::MariaDb::Settings();
  rztest::ScratchSchema scratch(u"wp_");
  ASSERT_TRUE(scratch.Ok());
  const std::u16string& schema = scratch.Name();
  DbSettings s = maria;
  s.SqlDb = schema;
  CAdo wp;
  wp.SetType(u"MySql");
  ASSERT_TRUE(wp.Open(s));
  // The columns of the WordPress tables the module writes.
  ASSERT_TRUE(wp.Execute(
      u"CREATE TABLE wp_posts (ID bigint unsigned NOT NULL AUTO_INCREMENT PRIMARY KEY, post_author bigint "
      u"unsigned NOT NULL DEFAULT 0, post_date datetime NOT NULL, post_date_gmt datetime NOT NULL, post_content "
      u"longtext NOT NULL, post_title text NOT NULL, post_excerpt text NOT NULL, post_status varchar(20) NOT NULL, "
      u"comment_status varchar(20) NOT NULL, ping_status varchar(20) NOT NULL, post_password varchar(255) NOT NULL, "
      u"post_name varchar(200) NOT NULL, to_ping text NOT NULL, pinged text NOT NULL, post_modified datetime NOT "
      u"NULL, post_modified_gmt datetime NOT NULL, post_content_filtered longtext NOT NULL, post_parent bigint "
      u"unsigned NOT NULL DEFAULT 0, guid varchar(255) NOT NULL, menu_order int NOT NULL DEFAULT 0, post_type "
      u"varchar(20) NOT NULL, post_mime_type varchar(100) NOT NULL, comment_count bigint NOT NULL DEFAULT 0) "
      u"ENGINE=InnoDB CHARSET=utf8mb4"));
  ASSERT_TRUE(wp.Execute(
      u"CREATE TABLE wp_term_relationships (object_id bigint unsigned NOT NULL, term_taxonomy_id bigint "
      u"unsigned NOT NULL, term_order int NOT NULL DEFAULT 0, PRIMARY KEY (object_id, term_taxonomy_id)) "
      u"ENGINE=InnoDB"));
  ASSERT_TRUE(wp.Execute(
      u"CREATE TABLE wp_term_taxonomy (term_taxonomy_id bigint unsigned NOT NULL PRIMARY KEY, count bigint "
      u"NOT NULL DEFAULT 0) ENGINE=InnoDB"));
  ASSERT_TRUE(wp.Execute(u"INSERT INTO wp_term_taxonomy VALUES (1, 0), (5, 0)"));

  auto job = rztest::BasicJob(u"wp-job");
  job->EnableDB = 1;
  PublishTarget t = rztest::MariaDbTarget(u"WordPress数据库入库", schema, u"wp_");
  t.ListId = u"5";
  job->DBPublish = {t};
  CPublishThread runner;
  DbSettings none;
  none.Type = u"none";
  ASSERT_TRUE(runner.Start(job, none));
  ToData item;
  item.Fields = {{u"标题", u"它's \"标题\" 😀"}, {u"内容", u"<p>a\\b</p>"}};
  const PublishDestination& d = runner.Destinations().at(0);
  ASSERT_TRUE(d.Connection) << U8(d.ConnectionError);
  EXPECT_EQ(runner.PublishToTarget(t, item, *job, d.Module.get()), kPublishDbDone) << U8(item.Text);
  EXPECT_EQ(U8(item.Text), "数据库入库--入库成功 入库模块:WordPress数据库入库");
  runner.InputFinished();
  ASSERT_TRUE(wp.Query(u"select p.post_title, p.post_content, r.term_taxonomy_id, t.count from wp_posts p "
                       u"join wp_term_relationships r on r.object_id=p.ID join wp_term_taxonomy t on "
                       u"t.term_taxonomy_id=r.term_taxonomy_id"));
  std::vector<std::u16string> names, values;
  ASSERT_EQ(wp.GetRow(0, names, values), 4);
  EXPECT_EQ(U8(values[0]), "它's \"标题\" 😀");
  EXPECT_EQ(U8(values[1]), "<p>a\\b</p>");
  EXPECT_EQ(U8(values[2]), "5");
  EXPECT_EQ(U8(values[3]), "1");
  wp.Close();
}

TEST(PublishCli, PublishTestPrintsTheAnalysis) {
  rztest::Sandbox sandbox;
  rztest::FixtureCms cms;
  ASSERT_TRUE(SaveModule(kModuleFolderPost, rztest::CmsModule()));
  JobRule job;
  job.JobId = u"cli-job";
  job.JobName = u"cli";
  job.WebPublish = {rztest::CmsTarget(cms)};
  job.DbSettings.Type = u"ACCESS";
  ASSERT_TRUE(SaveJobRule(job));
  auto run = [&](const std::string& args) {
    const std::string cmd = std::string(RZ_CLI_PATH) + " --root '" + sandbox.Root().string() + "' " + args +
                            " > '" + (sandbox.Root() / "out.txt").string() + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    return std::make_pair(WEXITSTATUS(rc), rztest::ReadFile(sandbox.Root() / "out.txt"));
  };
  auto [rc, out] = run("publish-test cli-job 0 --title '命令行 标题' --content 正文");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out.rfind("result 1\n发布成功", 0), 0u) << out;
  ASSERT_FALSE(cms.Accepted().empty());
  EXPECT_EQ(cms.Accepted().back().Form.at("title"), "命令行 标题");
  std::tie(rc, out) = run("publish-test cli-job 0 --title FAIL --content x");
  EXPECT_EQ(rc, 1) << out;
  EXPECT_NE(out.find("result 4"), std::string::npos);
  std::tie(rc, out) = run("publish-test cli-job 3");
  EXPECT_EQ(rc, 2) << out;
  std::tie(rc, out) = run("publish-test nojob 0");
  EXPECT_EQ(rc, 1) << out;
}

}  // namespace

namespace {

TEST(ModuleRename, NewFileBeforeOldOneGoes) {
  rztest::Sandbox sandbox;
  rz::PublishModule m = rztest::CmsModule(u"old");
  ASSERT_TRUE(rz::SaveModule(rz::kModuleFolderPost, m));
  ASSERT_TRUE(rz::LoadModule(rz::kModuleFolderPost, u"old"));
  m.Name = u"new";
  ASSERT_TRUE(rz::SaveRenamedModule(rz::kModuleFolderPost, u"old", m));
  EXPECT_FALSE(rz::LoadModule(rz::kModuleFolderPost, u"old"));
  ASSERT_TRUE(rz::LoadModule(rz::kModuleFolderPost, u"new"));
  // A save that cannot be written keeps the old module.
  m.Name = u"";
  EXPECT_FALSE(rz::SaveRenamedModule(rz::kModuleFolderPost, u"new", m));
  EXPECT_TRUE(rz::LoadModule(rz::kModuleFolderPost, u"new"));
}

TEST(DatabaseConnection, TestButtonMessages) {
  rztest::Sandbox sandbox;
  rztest::TempDir dir;
  std::u16string message;
  rz::DbSettings ok = rztest::MariaDb::Settings();
  EXPECT_TRUE(rz::TestDatabaseConnection(ok, message));
  EXPECT_EQ(U8(message), "数据库连接成功!");
  rz::DbSettings bad = ok;
  bad.Port = pcutil::Format(u"%d", rztest::MariaDb::FreePort());
  EXPECT_FALSE(rz::TestDatabaseConnection(bad, message));
  EXPECT_FALSE(message.empty());
  rz::DbSettings other;
  other.Type = u"SQL Server";
  EXPECT_FALSE(rz::TestDatabaseConnection(other, message));
  EXPECT_FALSE(message.empty());
}

}  // namespace
