// Rewriting commands: article combination of a job's stored items.
#include <chrono>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "foundation/Text.h"
#include "rewrite/Combine.h"
#include "rewrite/Rewrite.h"
#include "storage/ContentDatabase.h"
#include "storage/LocalServer.h"
#include "store/JobRule.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Utf16ToUtf8;
using pcutil::Utf8ToUtf16;

namespace {

bool ParseCount(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i >= text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  value = std::stoi(text);
  return true;
}

// The job's database on the local server needs the server: start it when it is down.
bool ReachDatabase(const rz::DbSettings& settings, const std::u16string& jobId, std::u16string& error) {
  rz::ContentDatabase db(settings, jobId);
  if (db.Open(false)) return true;
  error = db.LastError;
  if (!(settings == rz::LocalServerSettings()) || rz::IsLocalServerRunning()) return false;
  std::cerr << "rizede-cli: starting the local database server\n";
  rz::StartLocalServer();
  for (int i = 0; i < 600; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rz::ContentDatabase again(settings, jobId);
    if (again.Open(false)) return true;
    error = again.LastError;
    if (i > 50 && !rz::IsLocalServerRunning()) break;
  }
  return false;
}

}  // namespace

// combine JOBID [--count N] [--marks MARKS] [--label NAME] [--seed N] [--engine ACCESS|MySql]
//               [--host H] [--port P] [--user U] [--password P] [--database NAME_OR_FILE]
// Options left out take the settings ArticleNumEx, ArticleSplit and ArticleTag.
int CmdCombine(const Args& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0)
    return BadInput("usage: combine JOBID [--count N] [--marks \"。|！|？\"] [--label 内容] [options]");
  const std::u16string jobId = Utf8ToUtf16(args[0]);
  rz::AppSettings settings;
  rz::LoadSettings(settings);
  rz::CombineOptions options{settings.ArticleNumEx, settings.ArticleSplit, settings.ArticleTag};
  std::string engine, host, port, user, password, database;
  bool hasDatabase = false, hasSeed = false;
  int seed = 0;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& opt = args[i];
    if (i + 1 >= args.size()) return BadInput(opt + " needs a value");
    const std::string& value = args[i + 1];
    if (opt == "--count") {
      if (!ParseCount(value, options.ArticleNumEx)) return BadInput("一次打乱多少篇填写不正确！");
    } else if (opt == "--marks") {
      options.ArticleSplit = Utf8ToUtf16(value);
    } else if (opt == "--label") {
      options.ArticleTag = Utf8ToUtf16(value);
    } else if (opt == "--seed") {
      if (!ParseCount(value, seed)) return BadInput("--seed takes a number");
      hasSeed = true;
    } else if (opt == "--engine") {
      if (value != "ACCESS" && value != "MySql") return BadInput("--engine is ACCESS or MySql");
      engine = value;
    } else if (opt == "--host") {
      host = value;
    } else if (opt == "--port") {
      port = value;
    } else if (opt == "--user") {
      user = value;
    } else if (opt == "--password") {
      password = value;
    } else if (opt == "--database") {
      database = value, hasDatabase = true;
    } else {
      return BadInput("unknown option " + opt);
    }
  }

  rz::SiteStore store;
  rz::JobRulePtr rule = rz::LoadJobRule(store, jobId);
  if (!rule) {
    std::cerr << "rizede-cli: no job " << args[0] << " (no readable "
              << pcutil::ToFsPath(rz::JobFilePath(jobId)) << ")\n";
    return 1;
  }
  const std::u16string problem = rz::CheckCombineOptions(options, *rule);
  if (!problem.empty()) return BadInput(Utf16ToUtf8(problem));

  rz::DbSettings db = rule->DbSettings;
  if (!engine.empty()) {
    db.Type = Utf8ToUtf16(engine);
    if (engine == "ACCESS" && !hasDatabase) db.SqlDb.clear();  // the job's own file
  }
  if (!host.empty()) db.SqlHost = Utf8ToUtf16(host);
  if (!port.empty()) db.Port = Utf8ToUtf16(port);
  if (!user.empty()) db.SqlUser = Utf8ToUtf16(user);
  if (!password.empty()) db.SqlPsw = Utf8ToUtf16(password);
  if (hasDatabase) db.SqlDb = Utf8ToUtf16(database);

  std::u16string error;
  if (!ReachDatabase(db, rule->JobId, error)) {
    std::cerr << "rizede-cli: " << Utf16ToUtf8(error) << "\n";
    return 1;
  }
  if (hasSeed) rz::SeedRewriteRandom(static_cast<unsigned>(seed));

  bool failed = false;
  rz::CombineReport report;
  report.Message = [&](const std::u16string& m) {
    failed = true;
    std::cerr << "rizede-cli: " << Utf16ToUtf8(m) << "\n";
  };
  report.Progress = [](int done, int rows) {
    std::cout << "rows " << done << " done (group of " << rows << ")\n";
  };
  const rz::CombineResult result = rz::CombineArticles(db, rule->JobId, options, report);
  if (!result.Ok || failed) return 1;
  std::cout << "combined " << result.Updated << " of " << result.Rows << " rows\n";
  return 0;
}

}  // namespace rzcli
