// CAdo: one connection to a database, on one of two engines chosen by name.
//   "MySql"  — a MySQL/MariaDB server through MariaDB Connector/C.
//   "ACCESS" — a local database file (e.g. DB/<JobId>/Default.mdb), kept as SQLite. The Jet
//              statements the system issues are rewritten for SQLite (see JetSql.h).
// Callers pass SQL text and read rows as column names and text values.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/DbSettings.h"

namespace rz {

class CDatabase {
 public:
  virtual ~CDatabase() = default;
};

class CAdoInterface : public CDatabase {};

class CAdo : public CAdoInterface {
 public:
  CAdo();
  ~CAdo() override;
  CAdo(const CAdo&) = delete;
  CAdo& operator=(const CAdo&) = delete;

  // The engine name, compared exactly: "MySql" or "ACCESS". Must precede Open.
  void SetType(const std::u16string& type);
  const std::u16string& Type() const { return type_; }

  bool Open(const DbSettings& settings);
  bool Close();
  bool IsOpen() const;
  // Creates an empty database file at `path` ("ACCESS"). Refuses a file that exists already.
  bool CreateAccessDatabase(const std::u16string& path);

  // A statement without rows. "ACCESS" keeps the old engine's behaviour: a statement the
  // engine rejects still returns true (callers such as the column rename and the table
  // creation rely on failures passing), except a unique-index violation, which returns false
  // so that storing a known link is recognised as known.
  bool Execute(const std::u16string& sql);
  // A statement with rows; the whole result is kept on the client (random row access).
  bool Query(const std::u16string& sql);
  bool QueryLocked(const std::u16string& sql);
  // "MySql": the id of the last insert on this connection. Other engines: true, empty id.
  bool LastInsertId(const std::u16string& table, std::u16string& id);

  long RecordCount();
  int FieldCount();
  // Appends the names and values of row `index` (-1: the current row) and returns the column
  // count; nothing is appended when there is no such row. "MySql" reads advance to the next
  // row; "ACCESS" reads stay on the row until MoveNext.
  int GetRow(long index, std::vector<std::u16string>& names, std::vector<std::u16string>& values);
  int GetValues(long index, const std::vector<std::u16string>& names,
                std::vector<std::u16string>& values);
  bool MoveNext();
  bool CloseQuery();

  // The reason of the last failure, with `context` worked in.
  std::u16string ErrorText(const std::u16string& context = u"");

  // Session strict mode on "MySql" (set again after every reconnect): a write that does not
  // fit fails instead of being cut or changed silently.
  void SetStrictWrites(bool strict) { strict_ = strict; }

  // Holds the connection's lock across several statements (database publishing keeps an
  // insert and its LAST_INSERT_ID() together). The lock is recursive.
  std::unique_lock<std::recursive_mutex> Hold() { return std::unique_lock(lock_); }

  // The message for an unknown engine name.
  static const char16_t kBadEngineMessage[];

 private:
  struct MySqlState;
  struct SqliteState;

  bool IsMySql() const { return type_ == u"MySql"; }
  bool IsAccess() const { return type_ == u"ACCESS"; }
  bool BadEngine();
  bool ConnectMySql();
  bool EnsureMySql();  // reconnect with the saved settings when the server went away
  // One statement on the open connection; `retry`: once more on a new connection when the
  // server had gone away before it arrived.
  bool SendMySql(const std::u16string& sql, bool retry = true);
  void SetMySqlError();                       // the connection's last error
  bool QueryUnlocked(const std::u16string& sql);
  void SetError(const std::u16string& message, long code);

  std::u16string type_;
  DbSettings settings_;
  bool strict_ = false;
  std::recursive_mutex lock_;
  std::unique_ptr<MySqlState> my_;
  std::unique_ptr<SqliteState> lite_;
  std::u16string errorMessage_;
  long errorCode_ = 0;
};

// Recognises a database file made by the Windows Access/Jet engine (.mdb/.accdb signature).
bool IsJetDatabaseFile(const std::u16string& path);

}  // namespace rz
