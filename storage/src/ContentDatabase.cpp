#include "storage/ContentDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "foundation/DiagLog.h"
#include "foundation/Text.h"

namespace rz {

namespace {

using pcutil::Format;

const char16_t kCollected[] = u"已采";
const char16_t kRewritten[] = u"已原创";
const char16_t kPublished[] = u"已发";

bool IsFlag(const std::u16string& name) {
  return name == kCollected || name == kPublished || name == kRewritten;
}

std::u16string Placeholder(const std::u16string& name) {
  if (name.size() >= 5 && name.rfind(u"[DB:", 0) == 0 && name.back() == u']') return name;
  return u"[DB:" + name + u"]";
}

bool IsDigits(const std::u16string& s) {
  if (s.empty()) return false;
  for (char16_t c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// A flag goes into an insert unquoted; anything but a plain number would break (or change)
// the statement, so it is stored as 0.
std::u16string FlagValue(const std::u16string& value) {
  std::u16string v = value;
  if (!v.empty() && v[0] == u'-') v.erase(0, 1);
  return IsDigits(v) ? value : u"0";
}

bool StartsAt(const std::u16string& text, size_t i, const std::u16string& part) {
  return text.compare(i, part.size(), part) == 0;
}

}  // namespace

ContentDatabase::ContentDatabase(const DbSettings& settings, const std::u16string& jobId)
    : Settings(settings), DbName(jobId) {
  Connection.SetStrictWrites(true);
}

ContentDatabase::~ContentDatabase() { Close(); }

std::u16string ContentDatabase::TablePrefix(const std::u16string& jobId) {
  return pcutil::ReplaceAll(jobId, u"-", u"_") + u"_";
}

std::u16string ContentDatabase::Prefix() const { return IsMySql() ? TablePrefix(DbName) : u""; }

std::u16string ContentDatabase::AccessPath(const std::u16string& sqlDb,
                                           const std::u16string& jobId) {
  if (sqlDb.empty()) return pcutil::ProgramPath(u"DB/" + jobId + u"/Default.mdb");
  // A path with a drive (Windows) or a root is used as it is; others are program-relative.
  if (sqlDb.find(u':') != std::u16string::npos || sqlDb[0] == u'/') return sqlDb;
  return pcutil::ProgramPath(sqlDb);
}

std::u16string ContentDatabase::EscapeValue(const std::u16string& value,
                                            const std::u16string& engine) {
  // MySQL: a backslash before \ ' and "; Access: ' doubled. Values are often whole pages, so
  // the result is sized first and written in place.
  const bool mysql = engine == u"MySql";
  auto special = [mysql](char16_t c) {
    return c == u'\'' || (mysql && (c == u'\\' || c == u'"'));
  };
  size_t extra = 0;
  for (char16_t c : value) extra += special(c);
  if (extra == 0) return value;
  std::u16string out(value.size() + extra, u'\0');
  char16_t* p = out.data();
  for (char16_t c : value) {
    if (special(c)) *p++ = mysql ? u'\\' : u'\'';
    *p++ = c;
  }
  return out;
}

std::u16string ContentDatabase::ColumnRef(const std::u16string& name,
                                          const std::u16string& engine) {
  if (engine == u"MySql") return u"`" + pcutil::ReplaceAll(name, u"`", u"``") + u"`";
  return u"[" + name + u"]";
}

std::u16string ContentDatabase::BuildInsert(const std::u16string& sqlTemplate,
                                            const FieldMap& record, const std::u16string& engine) {
  std::u16string columns, values;
  for (const auto& [name, value] : record) {
    if (name == u"ID") continue;
    columns += ColumnRef(name, engine) + u",";
    values += IsFlag(name) ? FlagValue(value) + u"," : u"'" + Placeholder(name) + u"',";
  }
  if (!columns.empty()) columns.pop_back();
  if (!values.empty()) values.pop_back();
  return pcutil::ReplaceAll(pcutil::ReplaceAll(sqlTemplate, u"(*)", columns), u"(#)", values);
}

// One pass over the template: every placeholder and list marker is replaced where it stands
// in the template, and inserted values are never scanned again — a value that happens to
// contain "[DB:x]" or "(*)" is stored as it is.
std::u16string ContentDatabase::FillTemplate(const std::u16string& sqlTemplate,
                                             const FieldMap& record,
                                             const std::u16string& engine) {
  const bool star = sqlTemplate.find(u"(*)") != std::u16string::npos;
  const bool insert = !star && sqlTemplate.find(u"(INSERT1)") != std::u16string::npos;
  // Values can be whole pages: the lists are only built when the template names them.
  std::vector<std::pair<std::u16string, std::u16string>> slots;  // placeholder, escaped value
  std::u16string setList, insertColumns, insertValues;
  size_t valueSize = 0;
  for (const auto& [name, value] : record) {
    slots.emplace_back(Placeholder(name), EscapeValue(value, engine));
    const std::u16string& escaped = slots.back().second;
    valueSize += escaped.size();
    if (name == u"ID") continue;
    if (star) setList.append(ColumnRef(name, engine)).append(u"='").append(escaped).append(u"',");
    if (insert) {
      insertColumns.append(ColumnRef(name, engine)).append(u",");
      insertValues.append(u"'").append(escaped).append(u"',");
    }
  }
  for (auto* list : {&setList, &insertColumns, &insertValues})
    if (!list->empty()) list->pop_back();

  std::u16string out;
  out.reserve(sqlTemplate.size() + valueSize + 64);
  for (size_t i = 0; i < sqlTemplate.size();) {
    if (StartsAt(sqlTemplate, i, u"[DB:")) {
      const std::pair<std::u16string, std::u16string>* best = nullptr;
      for (const auto& slot : slots)
        if (StartsAt(sqlTemplate, i, slot.first) &&
            (!best || slot.first.size() > best->first.size()))
          best = &slot;
      if (best) {
        out += best->second;
        i += best->first.size();
        continue;
      }
    }
    if (star && StartsAt(sqlTemplate, i, u"(*)")) {
      out += setList;
      i += 3;
      continue;
    }
    if (insert && StartsAt(sqlTemplate, i, u"(INSERT1)")) {
      out += insertColumns;
      i += 9;
      continue;
    }
    if (insert && StartsAt(sqlTemplate, i, u"(INSERT2)")) {
      out += insertValues;
      i += 9;
      continue;
    }
    out += sqlTemplate[i++];
  }
  return out;
}

bool ContentDatabase::Open(bool create, const std::vector<std::u16string>& labelNames) {
  LastError.clear();
  if (Settings.Type == u"ACCESS") {
    Settings.SqlDb = AccessPath(Settings.SqlDb, DbName);
  } else if (Settings.Type != u"MySql") {
    LastError = u"不支持的数据库类型！" + Settings.Type;
    return false;
  }
  if (create && !CreateTables(labelNames)) {
    LastError = u"创建数据库-内容表出错" + Connection.ErrorText();
    return false;
  }
  Connection.SetType(Settings.Type);
  if (!Connection.IsOpen() && !Connection.Open(Settings)) {
    LastError = u"连接导出的数据库出错！" + Connection.ErrorText();
    return false;
  }
  return true;
}

bool ContentDatabase::CreateTables(const std::vector<std::u16string>& labelNames) {
  const std::u16string& type = Settings.Type;
  if (type == u"MySql") {
    Connection.SetType(type);
    if (!Connection.Open(Settings)) return false;
    const std::u16string p = Prefix();
    // LONGTEXT for labels: article bodies often pass the 64 KB of TEXT. utf8mb4 holds every
    // character (plain utf8 stops at three bytes).
    if (!Connection.Execute(Format(
            u"CREATE TABLE IF NOT EXISTS %sDownloadFile(ID int(11) NOT NULL auto_increment,"
            u"DownloadUrl TEXT, PageUrl TEXT, SaveUrl TEXT, ReplaceUrl TEXT,State tinyint(1) "
            u"default 0,Upload tinyint(1) default 0,labelId TEXT,PRIMARY KEY(ID)) "
            u"CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;",
            p)))
      return false;
    if (!Connection.Execute(Format(
            u"CREATE TABLE IF NOT EXISTS %sPageUrl(ID int(11) NOT NULL auto_increment,url "
            u"VARCHAR(250),PRIMARY KEY(ID)) CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;",
            p)))
      return false;
    Connection.Execute(Format(u"CREATE UNIQUE INDEX PersonIndex ON %sPageUrl(url)", p));
    std::u16string columns;
    for (const auto& name : labelNames) columns += ColumnRef(name, type) + u" LONGTEXT,";
    return Connection.Execute(Format(
        u"CREATE TABLE IF NOT EXISTS %sContent (ID int(11) NOT NULL auto_increment,已采 "
        u"tinyint(1) default 0,已原创 tinyint(1) default 0,已发 tinyint(1) default 0,%s "
        u"PageUrl TEXT,PRIMARY KEY(ID)) CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;",
        p, columns));
  }
  if (type == u"ACCESS") {
    Settings.SqlDb = AccessPath(Settings.SqlDb, DbName);
    const std::string path = pcutil::ToFsPath(Settings.SqlDb);
    struct stat st {};
    // An existing file is left as it is (an empty one is a creation that never finished).
    if (stat(path.c_str(), &st) == 0 && st.st_size > 0) return true;
    std::error_code ec;
    std::filesystem::path fsPath(path);
    if (fsPath.has_parent_path()) std::filesystem::create_directories(fsPath.parent_path(), ec);
    if (st.st_size == 0) ::unlink(path.c_str());
    if (!Connection.CreateAccessDatabase(Settings.SqlDb)) return false;
    Connection.SetType(type);
    if (!Connection.Open(Settings)) return false;
    Connection.Execute(
        u"CREATE TABLE DownloadFile (ID autoincrement(1,1) primary key,DownloadUrl TEXT,"
        u"PageUrl TEXT, SaveUrl TEXT, ReplaceUrl TEXT,State short default 0,Upload short "
        u"default 0,labelId TEXT)");
    Connection.Execute(u"CREATE TABLE PageUrl (ID autoincrement(1,1) primary key,Url TEXT)");
    Connection.Execute(u"CREATE  Unique INDEX PersonIndex ON PageUrl (Url) ");
    std::u16string columns;
    for (const auto& name : labelNames) columns += ColumnRef(name, type) + u" TEXT,";
    return Connection.Execute(Format(
        u"CREATE TABLE Content (ID autoincrement(1,1) primary key,已采 short default 0,已原创 "
        u"short default 0,已发 short default 0,%s PageUrl TEXT)",
        columns));
  }
  return false;
}

bool ContentDatabase::AddColumn(const std::u16string& label) {
  const std::u16string sql =
      IsMySql() ? Format(u"ALTER TABLE %sContent ADD COLUMN %s LONGTEXT", Prefix(), Column(label))
                : Format(u"ALTER TABLE Content ADD COLUMN %s TEXT", Column(label));
  if (Connection.Execute(sql)) return true;
  LastError = u"增加数据库内容表列出错" + Connection.ErrorText();
  return false;
}

bool ContentDatabase::DropColumn(const std::u16string& label) {
  const std::u16string sql =
      IsMySql() ? Format(u"ALTER TABLE %sContent DROP COLUMN %s", Prefix(), Column(label))
                : Format(u"ALTER TABLE Content DROP COLUMN %s", Column(label));
  if (Connection.Execute(sql)) return true;
  LastError = u"删除数据库内容表列出错" + Connection.ErrorText();
  return false;
}

bool ContentDatabase::RenameColumn(const std::u16string& oldName,
                                   const std::u16string& newName) {
  if (IsMySql()) {
    if (Connection.Execute(Format(u"ALTER TABLE %sContent change COLUMN %s %s LONGTEXT",
                                  Prefix(), Column(oldName), Column(newName))))
      return true;
    LastError = u"修改数据库内容表列出错" + Connection.ErrorText();
    return false;
  }
  // The old engine had no rename: the column is dropped and added again, empty.
  return DropColumn(oldName) && AddColumn(newName);
}

bool ContentDatabase::Read(const std::u16string& sql) {
  if (Connection.Query(sql)) return true;
  LastError = Connection.ErrorText();
  pcutil::WriteDiagnosticLog(LastError + u" " + sql);
  return false;
}

bool ContentDatabase::SelectContent(const std::u16string& condition) {
  return Read(Format(u"select * from %sContent %s", Prefix(), condition));
}

bool ContentDatabase::QuerySql(const std::u16string& sql) { return Read(sql); }

bool ContentDatabase::ExecuteSql(const std::u16string& sql) {
  if (Connection.Execute(sql)) return true;
  LastError = u"执行数据库操作失败！" + sql;
  pcutil::WriteDiagnosticLog(Connection.ErrorText(sql));
  return false;
}

bool ContentDatabase::ExecuteTemplate(const std::u16string& sqlTemplate, const FieldMap& record) {
  return ExecuteSql(FillTemplate(sqlTemplate, record, Settings.Type));
}

bool ContentDatabase::ReadRow(FieldMap& record, long index) {
  std::vector<std::u16string> names, values;
  Connection.GetRow(index, names, values);
  if (names.empty()) return false;
  if (record.empty()) {
    for (size_t i = 0; i < names.size(); ++i) record[names[i]] = values[i];
    return true;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    auto it = record.find(names[i]);
    if (it != record.end()) it->second = values[i];
  }
  return true;
}

bool ContentDatabase::NextRow() {
  if (Settings.Type != u"ACCESS") return true;
  if (Connection.MoveNext()) return true;
  pcutil::WriteDiagnosticLog(u"移动到下条记录出错,MoveNext！");
  return false;
}

void ContentDatabase::Close() {
  Connection.CloseQuery();
  Connection.Close();
}

std::u16string ContentDatabase::ResetDataText(int operation) {
  switch (operation) {
    case 2: return u"已经标记内容为未发布";
    case 3: return u"已经标记内容为已发布";
    case 4: return u"已经删除内容为已发布的数据";
    case 5: return u"已经删除内容为未发布的数据";
    case 6: return u"已经清空所有采集内容";
    case 7: return u"已经清空所有网址库";
    default: return u"";
  }
}

bool ContentDatabase::ResetData(int operation) {
  static const char16_t* const kAccess[] = {
      u"update Content set [已原创]=0 where [已原创]=1", u"update Content set 已原创=1 where 已原创=0",
      u"update Content set [已发]=0 where [已发]=1",     u"update Content set 已发=1 where 已发=0",
      u"delete * from content where 已发=1",             u"delete * from content where [已发]=0",
      u"delete * from content",                          u"delete * from PageUrl"};
  // Table names are written as created: servers on case-sensitive file systems tell
  // "Content" and "content" apart.
  static const char16_t* const kMySql[] = {
      u"update %sContent set 已原创=0 where 已原创=1", u"update %sContent set 已原创=1 where 已原创=0",
      u"update %sContent set 已发=0 where 已发=1",     u"update %sContent set 已发=1 where 已发=0",
      u"delete  from %sContent where 已发=1",          u"delete  from %sContent where 已发=0",
      u"delete from %sContent",                        u"delete from %sPageUrl"};
  if (operation < 0 || operation > 7) {
    LastError = u"无效数据库操作类型！";
    return false;
  }
  return ExecuteSql(IsMySql() ? Format(kMySql[operation], Prefix())
                              : std::u16string(kAccess[operation]));
}

bool ContentDatabase::DropTables() {
  if (Settings.Type == u"ACCESS" || Settings.Type.empty()) {
    Close();
    const std::u16string path = AccessPath(Settings.SqlDb, DbName);
    // Only our own database files are deleted: a Windows database file (or anything else
    // found at that path) was never opened or copied.
    const std::string fsPath = pcutil::ToFsPath(path);
    std::error_code ec;
    if (std::filesystem::file_size(fsPath, ec) > 0 && !ec) {
      std::string head(16, '\0');
      if (FILE* f = std::fopen(fsPath.c_str(), "rb")) {
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
      }
      if (head != std::string("SQLite format 3\0", 16)) {
        LastError = u"不能删除不是本程序建立的数据库文件 " + path;
        return false;
      }
    }
    ec.clear();
    std::filesystem::remove(pcutil::ToFsPath(path), ec);
    return !ec;
  }
  for (const char16_t* table : {u"Content", u"DownloadFile"}) {
    if (!Connection.Execute(Format(u"drop table %s%s", Prefix(), std::u16string(table)))) {
      LastError = Connection.ErrorText();
      return false;
    }
  }
  return true;
}

// ---- statements of the stages ----

int ContentDatabase::CountLink(const std::u16string& key) {
  if (!Read(Format(u"select count(*)  from %sPageUrl where url='%s'", Prefix(), Escape(key))))
    return -1;
  std::vector<std::u16string> names, values;
  Connection.GetRow(0, names, values);
  if (values.empty() || !IsDigits(values[0])) return -1;
  return std::stoi(pcutil::Utf16ToUtf8(values[0]));
}

bool ContentDatabase::InsertLink(const std::u16string& key) {
  const std::u16string sql =
      IsMySql() ? Format(u"INSERT INTO %sPageUrl (Url) VALUES ('%s')", Prefix(), Escape(key))
                : Format(u"INSERT INTO PageUrl (Url) VALUES ('%s')", Escape(key));
  // A rejected insert means the link is known; that is no error worth logging.
  if (Connection.Execute(sql)) return true;
  LastError = u"执行数据库操作失败！" + sql;
  return false;
}

bool ContentDatabase::InsertLinkRow(const std::u16string& pageUrl) {
  const std::u16string tpl =
      IsMySql() ? Format(u"INSERT INTO %sContent (PageUrl) VALUES ('%s')", Prefix(), u"[DB:PageUrl]")
                : Format(u"INSERT INTO Content (PageUrl) VALUES ('%s')", u"[DB:PageUrl]");
  return ExecuteTemplate(tpl, {{u"PageUrl", pageUrl}});
}

namespace {

// Rows per statement of the link lists: a list page rarely has more links, and a statement
// stays far below the server's packet limit.
constexpr size_t kLinksPerStatement = 500;

// "('a'),('b')" or "'a','b'" for the values [from, to).
std::u16string ValueList(const std::vector<std::u16string>& values, size_t from, size_t to,
                         bool rows, const std::u16string& engine) {
  std::u16string out;
  for (size_t i = from; i < to; ++i) {
    if (i > from) out += u',';
    out += rows ? u"('" : u"'";
    out += ContentDatabase::EscapeValue(values[i], engine);
    out += rows ? u"')" : u"'";
  }
  return out;
}

}  // namespace

bool ContentDatabase::KnownLinks(const std::vector<std::u16string>& keys,
                                 std::set<std::u16string>& known) {
  auto hold = Connection.Hold();  // the result must stay ours until it is read
  for (size_t from = 0; from < keys.size(); from += kLinksPerStatement) {
    const size_t to = std::min(keys.size(), from + kLinksPerStatement);
    if (!Read(Format(u"select Url as LinkKey from %sPageUrl where Url in (%s)", Prefix(),
                     ValueList(keys, from, to, false, Settings.Type))))
      return false;
    std::vector<std::u16string> names, values;
    for (long i = 0, n = RecordCount(); i < n; ++i) {
      names.clear(), values.clear();
      if (Connection.GetRow(i, names, values) < 1 || values.empty()) return false;
      known.insert(values[0]);
    }
    CloseQuery();
  }
  return true;
}

bool ContentDatabase::InsertValues(const std::u16string& table, const std::u16string& column,
                                   const std::vector<std::u16string>& values) {
  for (size_t from = 0; from < values.size(); from += kLinksPerStatement) {
    const std::u16string sql =
        Format(u"INSERT INTO %s%s (%s) VALUES %s", Prefix(), table, column,
               ValueList(values, from, std::min(values.size(), from + kLinksPerStatement), true,
                         Settings.Type));
    if (!Connection.Execute(sql)) {
      LastError = u"执行数据库操作失败！" + sql;
      return false;
    }
  }
  return true;
}

bool ContentDatabase::InsertLinks(const std::vector<std::u16string>& keys) {
  return InsertValues(u"PageUrl", u"Url", keys);
}

bool ContentDatabase::InsertLinkRows(const std::vector<std::u16string>& pageUrls) {
  return InsertValues(u"Content", u"PageUrl", pageUrls);
}

bool ContentDatabase::BeginBatch() {
  return Connection.Execute(IsMySql() ? u"START TRANSACTION" : u"BEGIN");
}

bool ContentDatabase::CommitBatch() { return Connection.Execute(u"COMMIT"); }

bool ContentDatabase::RollbackBatch() { return Connection.Execute(u"ROLLBACK"); }

bool ContentDatabase::SelectUncollected() {
  return SelectContent(Format(u"where %s=0", kCollected));
}

std::u16string ContentDatabase::PublishSelectSql(int count, int order) const {
  std::u16string orderText;
  if (order == 1) orderText = u" order by id desc";
  if (order == 2) orderText = IsMySql() ? u" order by RAND()" : u" order by rnd(id)";
  const std::u16string p = Prefix();
  if (count <= 0)
    return Format(u"select  * from %sContent where %s=1 and %s=0 %s", p, kCollected, kPublished,
                  u"") +
           orderText;
  if (IsMySql())
    return Format(u"select * from %sContent where %s=1 and %s=0 %s", p, kCollected, kPublished,
                  u"") +
           orderText + Format(u" LIMIT %d", count);
  return Format(u"select top %d * from %sContent where %s=1 and %s=0 %s", count, p, kCollected,
                kPublished, orderText);
}

bool ContentDatabase::SelectForPublish(int count, int order) {
  return Read(PublishSelectSql(count, order));
}

bool ContentDatabase::UpdateItem(const FieldMap& record) {
  return ExecuteTemplate(Format(u"update %sContent set (*) where ID=%s", Prefix(), u"[DB:ID]"),
                         record);
}

bool ContentDatabase::InsertItem(const FieldMap& record) {
  return ExecuteTemplate(
      BuildInsert(Format(u"INSERT INTO %sContent ((*)) VALUES ((#))", Prefix()), record,
                  Settings.Type),
      record);
}

bool ContentDatabase::InsertKeywordItem(const FieldMap& record) {
  return ExecuteTemplate(
      Format(u"INSERT INTO %sContent (%s) VALUES(%s)", Prefix(), u"(INSERT1)", u"(INSERT2)"),
      record);
}

bool ContentDatabase::DeleteByPageUrl(const std::u16string& pageUrl) {
  return ExecuteSql(
      Format(u"delete from %sContent  where PageUrl='%s'", Prefix(), Escape(pageUrl)));
}

bool ContentDatabase::MarkPublished(const std::u16string& id) {
  return ExecuteTemplate(
      Format(u"update %sContent set %s=1 where ID=%s", Prefix(), kPublished, u"[DB:ID]"),
      {{u"ID", IsDigits(id) ? id : u"-1"}});
}

bool ContentDatabase::UpdateLabel(const std::u16string& id, const std::u16string& label,
                                  const std::u16string& value) {
  if (!IsDigits(id)) {
    LastError = u"执行数据库操作失败！" + id;
    return false;
  }
  return ExecuteSql(Format(u"update %sContent set %s='%s' where ID=%s", Prefix(), Column(label),
                           Escape(value), id));
}

bool ContentDatabase::SetFlag(const std::u16string& id, const std::u16string& flag, int value) {
  if (!IsDigits(id)) {
    LastError = u"执行数据库操作失败！" + id;
    return false;
  }
  return ExecuteSql(
      Format(u"update %sContent set %s=%s where ID=%s", Prefix(), Column(flag),
             Format(u"%d", value), id));
}

bool ContentDatabase::DeleteRow(const std::u16string& id) {
  if (!IsDigits(id)) {
    LastError = u"执行数据库操作失败！" + id;
    return false;
  }
  return ExecuteSql(IsMySql() ? Format(u"delete  from %sContent  where ID=%s", Prefix(), id)
                              : Format(u"delete * from %scontent  where ID=%s", Prefix(), id));
}

bool ContentDatabase::AddDownload(const DownloadRow& row) {
  const std::u16string sql = Format(
      u"INSERT INTO %sDownloadFile (DownloadUrl,PageUrl,SaveUrl,ReplaceUrl, State ,Upload,labelId) "
      u"VALUES ('%s','%s','%s','%s','%d','%d','%s')",
      Prefix(), Escape(row.DownloadUrl), Escape(row.PageUrl), Escape(row.SaveUrl),
      Escape(row.ReplaceUrl), row.State, row.Upload, Escape(row.LabelId));
  if (ExecuteSql(sql)) return true;
  LastError = Format(u"数据库操作-写入下载出错%s", sql);
  return false;
}

bool ContentDatabase::SelectPendingUploads(const std::u16string& pageUrl) {
  return Read(Format(u"select * from %sDownloadFile where PageUrl='%s' and Upload=0", Prefix(),
                     Escape(pageUrl)));
}

bool ContentDatabase::MarkUploaded(const std::u16string& id) {
  if (!IsDigits(id)) {
    LastError = u"执行数据库操作失败！" + id;
    return false;
  }
  return ExecuteSql(Format(u"Update %sDownloadFile set Upload=1 where ID=%s", Prefix(), id));
}

bool ContentDatabase::SelectDownloads(const std::u16string& condition) {
  return Read(IsMySql() ? Format(u"select * from %sDownloadFile %s", Prefix(), condition)
                        : Format(u"select * from downloadfile %s", condition));
}

}  // namespace rz
