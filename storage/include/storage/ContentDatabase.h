// A job's content database: the links it knows, its items (one column per label plus the
// flags 已采/已原创/已发) and its downloaded files. "ACCESS": one file per job
// (DB/<JobId>/Default.mdb); "MySql": tables prefixed with the job id.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "storage/Ado.h"
#include "store/DbSettings.h"

namespace rz {

// An item's columns: name -> value, ordered by name.
using FieldMap = std::map<std::u16string, std::u16string>;

// One row of the DownloadFile table.
struct DownloadRow {
  std::u16string DownloadUrl, PageUrl, SaveUrl, ReplaceUrl;
  int State = 0;
  int Upload = 0;
  std::u16string LabelId;
};

class ContentDatabase {
 public:
  ContentDatabase(const DbSettings& settings, const std::u16string& jobId);
  ~ContentDatabase();
  ContentDatabase(const ContentDatabase&) = delete;
  ContentDatabase& operator=(const ContentDatabase&) = delete;

  DbSettings Settings;   // copy of the job's settings ("ACCESS": SqlDb becomes the file path)
  CAdo Connection;
  std::u16string DbName;  // the job id
  std::u16string LastError;

  bool Open(bool create, const std::vector<std::u16string>& labelNames = {});
  bool CreateTables(const std::vector<std::u16string>& labelNames);
  bool AddColumn(const std::u16string& label);
  bool DropColumn(const std::u16string& label);
  bool RenameColumn(const std::u16string& oldName, const std::u16string& newName);

  bool SelectContent(const std::u16string& condition);
  bool QuerySql(const std::u16string& sql);
  bool ExecuteSql(const std::u16string& sql);
  bool ExecuteTemplate(const std::u16string& sqlTemplate, const FieldMap& record);
  // Reads row `index` (-1: the current row). An empty record gets every column; otherwise
  // only the values of the names it has are filled. False when there is no such row.
  bool ReadRow(FieldMap& record, long index = -1);
  bool NextRow();
  long RecordCount() { return Connection.RecordCount(); }
  void CloseQuery() { Connection.CloseQuery(); }
  void Close();
  bool ResetData(int operation);
  bool DropTables();

  // The text shown after ResetData operation n (empty for 0, 1 and unknown numbers).
  static std::u16string ResetDataText(int operation);

  bool IsMySql() const { return Settings.Type == u"MySql"; }
  // MySQL: the job id with "-" turned into "_", plus "_". Access: empty.
  std::u16string Prefix() const;
  std::u16string Escape(const std::u16string& value) const { return EscapeValue(value, Settings.Type); }
  // A column name quoted for the engine: `name` / [name].
  std::u16string Column(const std::u16string& name) const { return ColumnRef(name, Settings.Type); }

  // --- the statements of the system, built for this database's engine and prefix ---
  // Link collection: the count of a link key (-1 on failure); storing a new key (false when
  // the key is known or the insert failed); the content row of a new link.
  int CountLink(const std::u16string& key);
  bool InsertLink(const std::u16string& key);
  bool InsertLinkRow(const std::u16string& pageUrl);
  // A list page's links in a few statements instead of two per link: the stored keys among
  // `keys` (false when they cannot be read), and the keys and content rows of new links, each
  // kind in multi-row inserts.
  bool KnownLinks(const std::vector<std::u16string>& keys, std::set<std::u16string>& known);
  bool InsertLinks(const std::vector<std::u16string>& keys);
  bool InsertLinkRows(const std::vector<std::u16string>& pageUrls);
  // Statements between BeginBatch and CommitBatch are committed together: one log flush
  // instead of one per statement. A statement that fails inside fails alone; the others
  // still commit, unless RollbackBatch drops them all.
  bool BeginBatch();
  bool CommitBatch();
  bool RollbackBatch();
  // Rows not yet collected.
  bool SelectUncollected();
  // Collected, unpublished rows: at most `count` (0: all), order 1 newest first, 2 random.
  std::u16string PublishSelectSql(int count, int order) const;
  bool SelectForPublish(int count, int order);
  // Storing a collected item: update of its row (record holds ID) or a new row.
  bool UpdateItem(const FieldMap& record);
  bool InsertItem(const FieldMap& record);
  bool InsertKeywordItem(const FieldMap& record);
  bool DeleteByPageUrl(const std::u16string& pageUrl);
  bool MarkPublished(const std::u16string& id);
  bool UpdateLabel(const std::u16string& id, const std::u16string& label,
                   const std::u16string& value);
  bool SetFlag(const std::u16string& id, const std::u16string& flag, int value);
  bool DeleteRow(const std::u16string& id);
  bool AddDownload(const DownloadRow& row);
  bool SelectPendingUploads(const std::u16string& pageUrl);
  bool MarkUploaded(const std::u16string& id);
  bool SelectDownloads(const std::u16string& condition);

  // --- statement building, shared with database publishing and the tools ---
  static std::u16string EscapeValue(const std::u16string& value, const std::u16string& engine);
  static std::u16string ColumnRef(const std::u16string& name, const std::u16string& engine);
  // Expands "(*)" and "(#)" of an insert template from the record's names (ID left out).
  static std::u16string BuildInsert(const std::u16string& sqlTemplate, const FieldMap& record,
                                    const std::u16string& engine);
  // Fills a template with the record's values (placeholders "[DB:name]", "(*)", "(INSERT1)"
  // and "(INSERT2)"), escaping every value for the engine.
  static std::u16string FillTemplate(const std::u16string& sqlTemplate, const FieldMap& record,
                                     const std::u16string& engine);
  // The prefix of a job's MySQL tables.
  static std::u16string TablePrefix(const std::u16string& jobId);
  // Where a job's "ACCESS" file lives: SqlDb, or DB/<JobId>/Default.mdb when empty.
  static std::u16string AccessPath(const std::u16string& sqlDb, const std::u16string& jobId);

 private:
  bool Read(const std::u16string& sql);
  // One column of new rows, in multi-row inserts.
  bool InsertValues(const std::u16string& table, const std::u16string& column,
                    const std::vector<std::u16string>& values);
  std::u16string pathOpened_;
};

}  // namespace rz
