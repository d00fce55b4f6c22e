#include "storage/Ado.h"

#include <errmsg.h>
#include <mysql.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "storage/JetSql.h"

namespace rz {

const char16_t CAdo::kBadEngineMessage[] = u"数据库类型为空,此为软件BUG,请向官方反映详细操作!";

struct CAdo::MySqlState {
  MYSQL* conn = nullptr;
  MYSQL_RES* result = nullptr;
  // The row the next fetch returns. Seeking walks the result's row list from its start, so
  // reading rows one after another by index must not seek, or a step's feed is quadratic.
  unsigned long long cursor = 0;
  void FreeResult() {
    if (result) mysql_free_result(result);
    result = nullptr;
    cursor = 0;
  }
  void Disconnect() {
    FreeResult();
    if (conn) mysql_close(conn);
    conn = nullptr;
  }
  ~MySqlState() { Disconnect(); }
};

// The "ACCESS" engine keeps a whole result in memory: rows are addressed by position like a
// record set's cursor, and no read lock stays on the file while a stage walks its rows.
struct CAdo::SqliteState {
  sqlite3* db = nullptr;
  bool hasResult = false;
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows;
  size_t pos = 0;
  void ClearResult() {
    hasResult = false;
    names.clear();
    rows.clear();
    pos = 0;
  }
  void CloseDb() {
    ClearResult();
    if (db) sqlite3_close_v2(db);
    db = nullptr;
  }
  ~SqliteState() { CloseDb(); }
};

namespace {

using pcutil::Utf16ToUtf8;
using pcutil::Utf8ToUtf16;

unsigned ParsePort(const std::u16string& port) {
  unsigned value = 0;
  for (char16_t c : port) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + static_cast<unsigned>(c - u'0');
    if (value > 65535) return 0;
  }
  return value;
}

std::string ReadHead(const std::string& path, size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string head(n, '\0');
  in.read(head.data(), static_cast<std::streamsize>(n));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

bool FileExists(const std::string& path, off_t* size = nullptr) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  if (size) *size = st.st_size;
  return S_ISREG(st.st_mode);
}

std::u16string JetRefusal(const std::u16string& path) {
  return pcutil::Format(
      u"%s 是 Windows 版 Access(Jet) 数据库文件,本程序不能打开它:这里的 ACCESS 数据库是 "
      u"SQLite 格式。请在 Windows 上把这个任务的数据转到 MySql 数据库后再使用,文件未作任何改动。",
      path);
}

}  // namespace

bool IsJetDatabaseFile(const std::u16string& path) {
  std::string head = ReadHead(pcutil::ToFsPath(path), 32);
  if (head.size() < 19) return false;
  std::string tag = head.substr(4, 15);
  return tag == "Standard Jet DB" || tag == "Standard ACE DB";
}

CAdo::CAdo() : my_(std::make_unique<MySqlState>()), lite_(std::make_unique<SqliteState>()) {}

CAdo::~CAdo() = default;

void CAdo::SetType(const std::u16string& type) { type_ = type; }

void CAdo::SetError(const std::u16string& message, long code) {
  errorMessage_ = message;
  errorCode_ = code;
}

bool CAdo::BadEngine() {
  // No message box on this platform: the text goes to the error slot and the diagnostic log.
  SetError(kBadEngineMessage, 0);
  pcutil::WriteDiagnosticLog(kBadEngineMessage);
  return false;
}

bool CAdo::IsOpen() const {
  if (type_ == u"MySql") return my_->conn != nullptr;
  if (type_ == u"ACCESS") return lite_->db != nullptr;
  return false;
}

bool CAdo::ConnectMySql() {
  my_->Disconnect();
  my_->conn = mysql_init(nullptr);
  if (!my_->conn) {
    SetError(u"mysql_init failed", 0);
    return false;
  }
  // utf8mb4: plain "utf8" cannot carry characters outside the BMP (emoji, rare CJK).
  mysql_options(my_->conn, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  // Always TCP: "localhost" must reach the configured port, not a system server's socket.
  unsigned protocol = MYSQL_PROTOCOL_TCP;
  mysql_options(my_->conn, MYSQL_OPT_PROTOCOL, &protocol);
  unsigned timeout = 10;
  mysql_options(my_->conn, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  const std::string host = Utf16ToUtf8(settings_.SqlHost), user = Utf16ToUtf8(settings_.SqlUser),
                    psw = Utf16ToUtf8(settings_.SqlPsw), db = Utf16ToUtf8(settings_.SqlDb);
  if (!mysql_real_connect(my_->conn, host.c_str(), user.c_str(), psw.c_str(), db.c_str(),
                          ParsePort(settings_.Port), nullptr,
                          static_cast<unsigned long>(settings_.ClientFlags))) {
    SetMySqlError();
    my_->Disconnect();
    return false;
  }
  // Reconnection is done here, in full, rather than by the client library, so that the
  // session settings below are set again on every new connection.
  for (const char* s : {"set interactive_timeout=1073741824", "set global max_connections=32000"})
    mysql_query(my_->conn, s);
  if (strict_)
    mysql_query(my_->conn,
                "SET SESSION sql_mode=TRIM(BOTH ',' FROM CONCAT(@@sql_mode,',STRICT_ALL_TABLES'))");
  return true;
}

void CAdo::SetMySqlError() {
  SetError(Utf8ToUtf16(mysql_error(my_->conn)), static_cast<long>(mysql_errno(my_->conn)));
}

bool CAdo::SendMySql(const std::u16string& sql, bool retry) {
  const std::string bytes = Utf16ToUtf8(sql);
  if (mysql_real_query(my_->conn, bytes.data(), bytes.size()) == 0) return true;
  // "Gone away" means the statement never reached the server, so sending it again on a new
  // connection cannot run it twice. A connection lost during the statement is not retried:
  // the server may have run it.
  if (retry && mysql_errno(my_->conn) == CR_SERVER_GONE_ERROR && ConnectMySql() &&
      mysql_real_query(my_->conn, bytes.data(), bytes.size()) == 0)
    return true;
  if (my_->conn) {
    SetMySqlError();
    // A broken connection is replaced before the next statement.
    const unsigned code = mysql_errno(my_->conn);
    if (code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST) my_->Disconnect();
  }
  return false;
}

namespace {

// A healthy idle connection has nothing to read. Input or a hang-up means the server closed
// it (KILL, restart, wait_timeout) or sent an error first; only then is a ping needed, so a
// statement costs one round trip instead of two.
bool ConnectionQuiet(MYSQL* conn) {
  const int fd = static_cast<int>(mysql_get_socket(conn));
  if (fd < 0) return false;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) == 0;
}

}  // namespace

bool CAdo::EnsureMySql() {
  if (my_->conn && (ConnectionQuiet(my_->conn) || mysql_ping(my_->conn) == 0)) return true;
  return ConnectMySql();
}

bool CAdo::Open(const DbSettings& settings) {
  std::lock_guard lock(lock_);
  settings_ = settings;
  if (IsMySql()) return ConnectMySql();
  if (IsAccess()) {
    lite_->CloseDb();
    const std::string path = pcutil::ToFsPath(settings.SqlDb);
    off_t size = 0;
    if (!FileExists(path, &size)) {
      SetError(pcutil::Format(u"找不到数据库文件 %s", settings.SqlDb), 0);
      return false;
    }
    if (IsJetDatabaseFile(settings.SqlDb)) {
      SetError(JetRefusal(settings.SqlDb), 0);
      return false;
    }
    if (size > 0 && ReadHead(path, 16) != std::string("SQLite format 3\0", 16)) {
      SetError(pcutil::Format(u"%s 不是可以打开的数据库文件", settings.SqlDb), SQLITE_NOTADB);
      return false;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      SetError(Utf8ToUtf16(db ? sqlite3_errmsg(db) : "out of memory"), rc);
      sqlite3_close_v2(db);
      return false;
    }
    // Stages of one job open their own connections to the same file: wait for each other.
    sqlite3_busy_timeout(db, 30000);
    lite_->db = db;
    return true;
  }
  return BadEngine();
}

bool CAdo::Close() {
  std::lock_guard lock(lock_);
  if (IsMySql()) {
    my_->Disconnect();
    return true;
  }
  if (IsAccess()) {
    lite_->CloseDb();
    return true;
  }
  return false;
}

bool CAdo::CreateAccessDatabase(const std::u16string& path) {
  const std::string fsPath = pcutil::ToFsPath(path);
  off_t size = 0;
  if (FileExists(fsPath, &size) && size > 0) {
    // Never overwrite: the file may be a user's database brought from Windows.
    SetError(IsJetDatabaseFile(path) ? JetRefusal(path)
                                     : pcutil::Format(u"数据库文件 %s 已经存在", path),
             0);
    return false;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(fsPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           nullptr);
  if (rc != SQLITE_OK) SetError(Utf8ToUtf16(db ? sqlite3_errmsg(db) : "out of memory"), rc);
  sqlite3_close_v2(db);
  return rc == SQLITE_OK;
}

bool CAdo::Execute(const std::u16string& sql) {
  std::lock_guard lock(lock_);
  if (IsMySql()) {
    if (!EnsureMySql()) return false;
    if (!SendMySql(sql)) return false;
    // A statement that returns rows anyway must be read off, or the connection falls out of step.
    if (MYSQL_RES* r = mysql_store_result(my_->conn)) mysql_free_result(r);
    return true;
  }
  if (IsAccess()) {
    if (!lite_->db) {
      SetError(u"数据库没有打开", 0);
      return true;
    }
    const std::string bytes = Utf16ToUtf8(JetToSqlite(sql));
    char* message = nullptr;
    int rc = sqlite3_exec(lite_->db, bytes.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      int extended = sqlite3_extended_errcode(lite_->db);
      SetError(Utf8ToUtf16(message ? message : sqlite3_errstr(rc)), extended);
      sqlite3_free(message);
      // The old engine reported every rejected statement as done; callers rely on that for
      // best-effort statements. A duplicate key is the one rejection they need to see:
      // it is how a known link is recognised.
      if (extended == SQLITE_CONSTRAINT_UNIQUE || extended == SQLITE_CONSTRAINT_PRIMARYKEY)
        return false;
    }
    return true;
  }
  return BadEngine();
}

bool CAdo::QueryUnlocked(const std::u16string& sql) {
  if (IsMySql()) {
    if (!EnsureMySql()) return false;
    if (!SendMySql(sql)) return false;
    my_->FreeResult();
    my_->result = mysql_store_result(my_->conn);
    if (!my_->result && mysql_field_count(my_->conn) != 0) {
      SetMySqlError();
      return false;
    }
    return true;
  }
  if (IsAccess()) {
    lite_->ClearResult();
    if (!lite_->db) {
      SetError(u"数据库没有打开", 0);
      return false;
    }
    const std::string bytes = Utf16ToUtf8(JetToSqlite(sql));
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(lite_->db, bytes.c_str(), static_cast<int>(bytes.size()), &stmt,
                                nullptr);
    if (rc != SQLITE_OK || !stmt) {
      SetError(Utf8ToUtf16(sqlite3_errmsg(lite_->db)), sqlite3_extended_errcode(lite_->db));
      sqlite3_finalize(stmt);
      return false;
    }
    const int columns = sqlite3_column_count(stmt);
    for (int c = 0; c < columns; ++c) {
      const char* name = sqlite3_column_name(stmt, c);
      lite_->names.emplace_back(name ? name : "");
    }
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<std::string> row(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        if (text) row[static_cast<size_t>(c)].assign(text, static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
      }
      lite_->rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      SetError(Utf8ToUtf16(sqlite3_errmsg(lite_->db)), sqlite3_extended_errcode(lite_->db));
      sqlite3_finalize(stmt);
      lite_->ClearResult();
      return false;
    }
    sqlite3_finalize(stmt);
    lite_->hasResult = true;
    return true;
  }
  return BadEngine();
}

bool CAdo::Query(const std::u16string& sql) {
  // Also under the lock: a statement sent while another thread's statement is on the same
  // handle would break the client protocol.
  std::lock_guard lock(lock_);
  return QueryUnlocked(sql);
}

bool CAdo::QueryLocked(const std::u16string& sql) {
  if (!IsMySql()) return false;
  std::lock_guard lock(lock_);
  return QueryUnlocked(sql);
}

bool CAdo::LastInsertId(const std::u16string& table, std::u16string& id) {
  id.clear();
  if (!IsMySql()) return true;
  std::lock_guard lock(lock_);
  if (!my_->conn) {
    SetError(u"数据库没有打开", 0);
    return false;
  }
  // No reconnect here: on a new connection the id of the insert is gone.
  if (!SendMySql(u"SELECT LAST_INSERT_ID() from " + table, false)) return false;
  MYSQL_RES* r = mysql_store_result(my_->conn);
  if (!r) {
    SetMySqlError();
    return false;
  }
  if (MYSQL_ROW row = mysql_fetch_row(r)) {
    unsigned long* lengths = mysql_fetch_lengths(r);
    if (row[0]) id = Utf8ToUtf16(std::string(row[0], lengths[0]));
  }
  mysql_free_result(r);
  return true;
}

long CAdo::RecordCount() {
  if (IsMySql()) return my_->result ? static_cast<long>(mysql_num_rows(my_->result)) : 0;
  if (IsAccess()) return lite_->hasResult ? static_cast<long>(lite_->rows.size()) : 0;
  BadEngine();
  return 0;
}

int CAdo::FieldCount() {
  if (IsMySql()) return my_->result ? static_cast<int>(mysql_num_fields(my_->result)) : 0;
  if (IsAccess()) return lite_->hasResult ? static_cast<int>(lite_->names.size()) : 0;
  BadEngine();
  return 0;
}

int CAdo::GetRow(long index, std::vector<std::u16string>& names,
                 std::vector<std::u16string>& values) {
  if (IsMySql()) {
    MYSQL_RES* r = my_->result;
    if (!r) return 0;
    const unsigned columns = mysql_num_fields(r);
    if (index != -1) {
      if (index < 0) return static_cast<int>(columns);
      const auto wanted = static_cast<unsigned long long>(index);
      if (wanted != my_->cursor) mysql_data_seek(r, wanted);
      my_->cursor = wanted;
    }
    MYSQL_ROW row = mysql_fetch_row(r);
    if (!row) return static_cast<int>(columns);
    ++my_->cursor;
    unsigned long* lengths = mysql_fetch_lengths(r);
    MYSQL_FIELD* fields = mysql_fetch_fields(r);
    for (unsigned c = 0; c < columns; ++c) {
      names.push_back(Utf8ToUtf16(std::string(fields[c].name, fields[c].name_length)));
      values.push_back(row[c] ? Utf8ToUtf16(std::string(row[c], lengths[c])) : std::u16string());
    }
    return static_cast<int>(columns);
  }
  if (IsAccess()) {
    if (!lite_->hasResult) return 0;
    const int columns = static_cast<int>(lite_->names.size());
    if (index != -1) {
      if (index < 0) return columns;
      lite_->pos = static_cast<size_t>(index);
    }
    if (lite_->pos >= lite_->rows.size()) return columns;
    const auto& row = lite_->rows[lite_->pos];
    for (int c = 0; c < columns; ++c) {
      names.push_back(Utf8ToUtf16(lite_->names[static_cast<size_t>(c)]));
      values.push_back(Utf8ToUtf16(row[static_cast<size_t>(c)]));
    }
    return columns;
  }
  BadEngine();
  return 0;
}

int CAdo::GetValues(long index, const std::vector<std::u16string>& names,
                    std::vector<std::u16string>& values) {
  std::vector<std::u16string> rowNames, rowValues;
  if (!IsMySql() && !IsAccess()) {
    BadEngine();
    return 0;
  }
  GetRow(index, rowNames, rowValues);
  if (rowNames.empty()) return 0;
  values.clear();
  for (const auto& wanted : names) {
    std::u16string value;
    for (size_t c = 0; c < rowNames.size(); ++c)
      if (rowNames[c] == wanted) {
        value = rowValues[c];
        break;
      }
    values.push_back(value);
  }
  return static_cast<int>(names.size());
}

bool CAdo::MoveNext() {
  if (IsAccess()) {
    if (!lite_->hasResult || lite_->pos >= lite_->rows.size()) return false;
    ++lite_->pos;
    return true;
  }
  if (IsMySql()) return true;
  return BadEngine();
}

bool CAdo::CloseQuery() {
  if (IsAccess()) {
    lite_->ClearResult();
    return true;
  }
  if (IsMySql()) return true;
  return BadEngine();
}

std::u16string CAdo::ErrorText(const std::u16string& context) {
  if (IsAccess())
    return pcutil::Format(u"错误原因：%s-错误码：%ld-%s", errorMessage_, errorCode_, context);
  if (IsMySql())
    return pcutil::Format(u"错误原因：%s %s 错误号%d", errorMessage_, context,
                          static_cast<int>(errorCode_));
  return context;
}

}  // namespace rz
