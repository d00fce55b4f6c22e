#include <cstring>
#include <iostream>

#include "Commands.h"
#include "foundation/Text.h"

namespace rzcli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"url-key", "ADDRESS", "print the 32-digit link key of an address", CmdUrlKey},
      {"url-encode", "TEXT CHARSET", "URL-encode text (\"utf-8\" exactly, else the GBK code page)",
       CmdUrlEncode},
      {"to-absolute", "LINK BASE", "resolve a link against a base address", CmdToAbsolute},
      {"regex", "capture|odd|replace|split FLAGS PATTERN SUBJECT [TEMPLATE]",
       "run a rule pattern (FLAGS in hex, e.g. 0x83); one entry per line", CmdRegex},
      {"expand-list-url", "ITEM [LIMIT]",
       "print the list-page addresses of a stored list item, one a line", CmdExpandListUrl},
      {"run", "JOBID [--steps url,content,publish] [--engine ACCESS|MySql] [--host H] [--port P] "
              "[--user U] [--password P] [--database NAME_OR_FILE]",
       "run a job through its steps, printing the log; Ctrl-C stops (exit 0 finished, 1 could "
       "not start, 130 stopped)",
       CmdRun},
      {"jobs", "", "list the sites and jobs of the job index (rebuilt when missing)", CmdJobs},
      {"rule", "resave IN OUT", "load a job rule file and write it as Rizede saves it", CmdRule},
      {"db", "JOBID [--reset N] [--engine ACCESS|MySql] [--host H] [--port P] [--user U] "
             "[--password P] [--database NAME]",
       "row counts of a job's content database; --reset N runs data operation N (0-7)", CmdDb},
      {"publish-test", "JOBID TARGET_INDEX [--title T] [--content C] [--html]",
       "test-publish one item to a web target of a job (index from 0) and print the answer "
       "analysis (exit 0 when the site took it)",
       CmdPublishTest},
      {"combine", "JOBID [--count N] [--marks \"。|！|？\"] [--label 内容] [--seed N] [--engine ACCESS|MySql] "
                  "[--host H] [--port P] [--user U] [--password P] [--database NAME_OR_FILE]",
       "article combination: shuffle the sentences of one label across groups of N stored items "
       "(defaults: the settings ArticleNumEx, ArticleSplit, ArticleTag)",
       CmdCombine},
      {"fetch", "[--headers] URL [CHARSET]",
       "fetch a page as the collector does and print it as UTF-8 (--headers: status and headers "
       "first)",
       CmdFetch},
  };
  return commands;
}

int BadInput(const std::string& message) {
  std::cerr << "rizede-cli: " << message << "\n";
  return 2;
}

static void PrintHelp() {
  std::cout << "usage: rizede-cli [--root DIR] COMMAND [ARGS...]\n\n"
               "  --root DIR   use DIR as the program folder (default: the executable's folder)\n\n"
               "commands:\n";
  for (const auto& c : AllCommands())
    std::cout << "  " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
}

}  // namespace rzcli

int main(int argc, char** argv) {
  using namespace rzcli;
  Args args(argv + 1, argv + argc);
  while (!args.empty() && args[0].rfind("--", 0) == 0) {
    if (args[0] == "--help" || args[0] == "-h") {
      PrintHelp();
      return 0;
    }
    if (args[0] == "--root") {
      if (args.size() < 2) return BadInput("--root needs a folder");
      pcutil::SetProgramFolder(pcutil::Utf8ToUtf16(args[1]));
      args.erase(args.begin(), args.begin() + 2);
      continue;
    }
    return BadInput("unknown option " + args[0] + " (see --help)");
  }
  if (args.empty()) {
    PrintHelp();
    return 2;
  }
  const std::string name = args[0];
  args.erase(args.begin());
  for (const auto& c : AllCommands())
    if (name == c.name) return c.run(args);
  return BadInput("unknown command " + name + " (see --help)");
}
