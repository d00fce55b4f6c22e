// Database publishing: a module's statements run for one item, in one transaction.
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "publish/Template.h"
#include "storage/ContentDatabase.h"

namespace rz {

using pcutil::Format;

DbSettings TargetDbSettings(const PublishTarget& target, const DbSettings& contentDb,
                            const std::u16string& jobId) {
  if (target.ModuleType == u"SAMEDB") {
    DbSettings s = contentDb;
    if (s.Type == u"ACCESS") s.SqlDb = ContentDatabase::AccessPath(s.SqlDb, jobId);
    return s;
  }
  DbSettings s;
  s.Type = target.ModuleType;
  s.SqlHost = target.SqlHost;
  s.SqlUser = target.SqlUser;
  s.SqlPsw = target.SqlPsw;
  s.SqlDb = target.SqlDb;
  s.Port = target.Port;
  if (s.Type == u"ACCESS" && !s.SqlDb.empty() && s.SqlDb[0] != u'/' && s.SqlDb[0] != u'\\')
    s.SqlDb = pcutil::ProgramPath(s.SqlDb);  // relative to the program folder
  return s;
}

bool TestDatabaseConnection(const DbSettings& settings, std::u16string& message) {
  if (settings.Type != u"MySql" && settings.Type != u"ACCESS") {
    message = Format(u"%s（%s）", CAdo::kBadEngineMessage, settings.Type);
    return false;
  }
  CAdo c;
  c.SetType(settings.Type);
  if (!c.Open(settings)) {
    message = c.ErrorText();
    if (message.empty()) message = u"连接数据库失败";
    return false;
  }
  c.Close();
  message = u"数据库连接成功!";
  return true;
}

int PublishToDatabase(CPublishThread& runner, ToData& item, const PublishTarget& target,
                      const PublishModule& module) {
  PublishDestination* dest = runner.FindDestination(target);
  std::shared_ptr<CAdo> db = dest ? dest->Connection : nullptr;
  if (!db) {
    item.Text = Format(u"<font color=\"red\">数据库入库--连接数据库失败 主机:%s 数据库:%s", target.SqlHost,
                       target.SqlDb);
    if (dest && !dest->ConnectionError.empty()) item.Text += u" " + dest->ConnectionError;
    item.Text += u"</font>";
    return kPublishDbFailed;
  }
  const std::u16string engine = db->Type();
  const bool mysql = engine == u"MySql";
  auto failed = [&](const std::u16string& error) {
    item.Text = Format(u"<font color=\"red\">数据库入库--执行语句出错:%s</font>", error);
  };

  std::lock_guard publishing(runner.PublishLock());
  auto held = db->Hold();  // nothing else on this connection until the item is done
  // Query, not Execute: it reports every failure on both engines.
  if (!db->Query(mysql ? u"START TRANSACTION" : u"BEGIN")) {
    failed(db->ErrorText());
    return kPublishDbFailed;
  }
  bool ok = true;
  for (const std::u16string& tmpl : module.SqlValue) {
    if (tmpl.empty()) continue;
    std::u16string sql = ExpandPublishTemplate(tmpl, item, target, &module, Database, engine);
    std::vector<std::u16string> found;
    bool tagged = false;
    try {
      tagged = pcutil::RegexCaptureOdd(u"\\[文章编号:(.*?)\\]", sql, 0, found) && !found.empty();
    } catch (const pcutil::RegexError&) {
      tagged = false;
    }
    if (tagged) {
      std::u16string id;
      if (!db->LastInsertId(found[0], id)) {
        failed(db->ErrorText());
        ok = false;
        break;
      }
      sql = pcutil::ReplaceAll(sql, Format(u"[文章编号:%s]", found[0]), id);
    }
    if (!db->Query(sql)) {
      failed(db->ErrorText());
      ok = false;
      break;
    }
    db->CloseQuery();
    pcutil::UnitPause();
  }
  if (ok && !db->Query(u"COMMIT")) {
    failed(db->ErrorText());
    ok = false;
  }
  if (!ok) {
    db->Query(u"ROLLBACK");
    return kPublishDbFailed;
  }
  db->CloseQuery();
  item.Text = Format(u"数据库入库--入库成功 入库模块:%s", module.Name);
  return kPublishDbDone;
}

}  // namespace rz
