// Modules and jobs for the publishing tests, aimed at FixtureCms.
#pragma once

#include <memory>
#include <string>

#include <unistd.h>

#include "FixtureCms.h"
#include "MariaDbFixture.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "store/JobRule.h"
#include "storage/Ado.h"
#include "store/PublishModule.h"

namespace rztest {

// A fresh database on the suite's MariaDB server for one test, dropped when it ends.
class ScratchSchema {
 public:
  explicit ScratchSchema(const std::u16string& prefix)
      : name_(pcutil::Format(u"%s%d", prefix, static_cast<int>(getpid()))) {
    server_.SetType(u"MySql");
    ok_ = server_.Open(MariaDb::Settings());
    if (!ok_) return;
    server_.Execute(pcutil::Format(u"DROP DATABASE IF EXISTS %s", name_));
    ok_ = server_.Execute(pcutil::Format(u"CREATE DATABASE %s CHARACTER SET utf8mb4", name_));
  }
  ~ScratchSchema() {
    if (ok_) server_.Execute(pcutil::Format(u"DROP DATABASE %s", name_));
  }
  ScratchSchema(const ScratchSchema&) = delete;
  ScratchSchema& operator=(const ScratchSchema&) = delete;

  bool Ok() const { return ok_; }
  const std::u16string& Name() const { return name_; }

 private:
  std::u16string name_;
  rz::CAdo server_;
  bool ok_ = false;
};

// The web module of the fixture CMS: login, a token fetched as a random value, the post.
inline rz::PublishModule CmsModule(const std::u16string& name = u"FixtureCms") {
  rz::PublishModule m;
  m.Name = name;
  m.Type = u"POST";
  m.LoginUrl = u"login.php";
  m.LoginPost = u"user=[用户名]&pass=[密码]";
  m.LoginErrorStr = {u"用户名或密码错误"};
  m.ListUrl = u"category.php";
  m.ListCodeStart = u"<!--cats-->";
  m.ListCodeEnd = u"<!--/cats-->";
  m.ListRex = u"<option value=\"[分类ID]\">[分类名称]</option>";
  m.ArticleUrl = u"post.php";
  m.refererContentUrl = u"admin.php";
  m.ArticlePost = u"token=[token]&title=[DB:标题]&body=[DB:内容]&cat=[分类ID]&src=[采集页面地址]";
  m.ArticleOkStr = {u"发布成功"};
  m.ArticleErrorStr = {u"发布失败"};
  m.RandValue = {{u"[token]", u"token.php", u"name=\"token\" value=\"", u"\""}};
  return m;
}

inline rz::PublishTarget CmsTarget(const FixtureCms& cms, const std::u16string& module = u"FixtureCms") {
  rz::PublishTarget t;
  t.Name = u"fixture";
  t.ModuleName = module;
  t.ModuleType = u"POST";
  t.PostHost = pcutil::Utf8ToUtf16(cms.Host());
  t.Charset = u"utf-8";
  t.SqlUser = pcutil::Utf8ToUtf16(FixtureCms::kUser);
  t.SqlPsw = pcutil::Utf8ToUtf16(FixtureCms::kPassword);
  t.ListId = u"3,7";
  t.IsWebLogin = 1;
  t.IsUserCookies = 0;
  return t;
}

// A database target on the suite's MariaDB server: the module, the database and the prefix.
inline rz::PublishTarget MariaDbTarget(const std::u16string& module, const std::u16string& schema,
                                       const std::u16string& tablePre) {
  const rz::DbSettings server = MariaDb::Settings();
  rz::PublishTarget t;
  t.ModuleName = module;
  t.ModuleType = u"MySql";
  t.SqlHost = server.SqlHost;
  t.SqlUser = server.SqlUser;
  t.SqlPsw = server.SqlPsw;
  t.Port = server.Port;
  t.SqlDb = schema;
  t.TablePre = tablePre;
  return t;
}

inline rz::JobRulePtr BasicJob(const std::u16string& jobId) {
  auto job = std::make_shared<rz::JobRule>();
  job->JobId = jobId;
  job->JobName = u"发布测试";
  job->PublishThreadCount = 2;
  job->PublishInterval = 0;
  job->EnableWebPublish = 0;
  return job;
}

// Test-wide quiet settings: no fixed pauses.
struct QuietPauses {
  QuietPauses() { pcutil::SetFixedPauseMs(0); }
};

}  // namespace rztest
