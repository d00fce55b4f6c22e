// Content database commands: row counts of a job's database, the data reset operations.
#include <iostream>

#include "CliOptions.h"
#include "Commands.h"
#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "store/JobRule.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Format;
using pcutil::Utf16ToUtf8;

namespace {

bool ParseInt(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::stoi(text);
  return true;
}

}  // namespace

// db JOBID [--reset N] [--engine ACCESS|MySql] [--host H] [--port P] [--user U]
//          [--password P] [--database NAME_OR_FILE]
// Without --reset: one "name<TAB>count" line per table count. A loaded job names the local
// database server; the options point at another database instead.
int CmdDb(const Args& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0) return BadInput("usage: db JOBID [--reset N] [options]");
  int reset = -1;
  bool resetGiven = false;
  DbOptions dbOptions;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& opt = args[i];
    if (i + 1 >= args.size()) return BadInput(opt + " needs a value");
    const std::string& value = args[i + 1];
    if (opt == "--reset") {
      resetGiven = true;
      if (!ParseInt(value, reset) || reset > 7)
        return BadInput("无效数据库操作类型！ (--reset takes 0 to 7)");
    } else if (std::string error; dbOptions.Take(opt, value, error)) {
      if (!error.empty()) return BadInput(error);
    } else {
      return BadInput("unknown option " + opt);
    }
  }

  rz::SiteStore store;
  rz::JobRulePtr rule = LoadJobOrReport(store, args[0]);
  if (!rule) return 1;
  rz::DbSettings settings = rule->DbSettings;
  dbOptions.ApplyTo(settings);

  rz::ContentDatabase db(settings, rule->JobId);
  if (!OpenStartingLocalServer(db)) {
    std::cerr << "rizede-cli: " << Utf16ToUtf8(db.LastError) << "\n";
    return 1;
  }

  if (resetGiven) {
    if (!db.ResetData(reset)) {
      std::cerr << "rizede-cli: " << Utf16ToUtf8(db.LastError) << "\n";
      return 1;
    }
    const std::u16string text = rz::ContentDatabase::ResetDataText(reset);
    if (!text.empty()) std::cout << Utf16ToUtf8(text) << "\n";
    return 0;
  }

  const std::u16string p = db.Prefix();
  const struct {
    const char* name;
    std::u16string sql;
  } counts[] = {
      {"links known", Format(u"select count(*) from %sPageUrl", p)},
      {"items", Format(u"select count(*) from %sContent", p)},
      {"collected", Format(u"select count(*) from %sContent where 已采=1", p)},
      {"rewritten", Format(u"select count(*) from %sContent where 已原创=1", p)},
      {"published", Format(u"select count(*) from %sContent where 已发=1", p)},
      {"downloaded files", Format(u"select count(*) from %sDownloadFile", p)},
  };
  for (const auto& c : counts) {
    if (!db.QuerySql(c.sql)) {
      std::cerr << "rizede-cli: " << Utf16ToUtf8(db.LastError) << "\n";
      return 1;
    }
    std::vector<std::u16string> names, values;
    db.Connection.GetRow(0, names, values);
    std::cout << c.name << "\t" << (values.empty() ? "0" : Utf16ToUtf8(values[0])) << "\n";
  }
  return 0;
}

}  // namespace rzcli
