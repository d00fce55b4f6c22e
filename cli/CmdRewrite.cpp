// Rewriting commands: article combination of a job's stored items.
#include <iostream>

#include "CliOptions.h"
#include "Commands.h"
#include "foundation/Text.h"
#include "rewrite/Combine.h"
#include "rewrite/Rewrite.h"
#include "storage/ContentDatabase.h"
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

}  // namespace

// combine JOBID [--count N] [--marks MARKS] [--label NAME] [--seed N] [--engine ACCESS|MySql]
//               [--host H] [--port P] [--user U] [--password P] [--database NAME_OR_FILE]
// Options left out take the settings ArticleNumEx, ArticleSplit and ArticleTag.
int CmdCombine(const Args& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0)
    return BadInput("usage: combine JOBID [--count N] [--marks \"。|！|？\"] [--label 内容] [options]");
  rz::AppSettings settings;
  rz::LoadSettings(settings);
  rz::CombineOptions options{settings.ArticleNumEx, settings.ArticleSplit, settings.ArticleTag};
  DbOptions dbOptions;
  bool hasSeed = false;
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
    } else if (std::string error; dbOptions.Take(opt, value, error)) {
      if (!error.empty()) return BadInput(error);
    } else {
      return BadInput("unknown option " + opt);
    }
  }

  rz::SiteStore store;
  rz::JobRulePtr rule = LoadJobOrReport(store, args[0]);
  if (!rule) return 1;
  const std::u16string problem = rz::CheckCombineOptions(options, *rule);
  if (!problem.empty()) return BadInput(Utf16ToUtf8(problem));

  rz::DbSettings db = rule->DbSettings;
  dbOptions.ApplyTo(db);

  {
    rz::ContentDatabase probe(db, rule->JobId);
    if (!OpenStartingLocalServer(probe)) {
      std::cerr << "rizede-cli: " << Utf16ToUtf8(probe.LastError) << "\n";
      return 1;
    }
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
