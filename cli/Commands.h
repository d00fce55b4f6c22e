// rizede-cli commands. Each command gets its arguments (UTF-8) after the command word and
// returns the exit code: 0 ok, 1 nothing matched / failure, 2 bad input.
#pragma once

#include <string>
#include <vector>

namespace rzcli {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;    // arguments, shown by --help
  const char* summary;  // one line, shown by --help
  int (*run)(const Args& args);
};

// Every command, in the order --help lists them (defined in main.cpp).
const std::vector<Command>& AllCommands();

// Prints "rizede-cli: <message>" to stderr and returns 2.
int BadInput(const std::string& message);

// One handler per command; each lives in the Cmd*.cpp file of its area.

// CmdCollect.cpp
int CmdExpandListUrl(const Args& args);

// CmdRun.cpp
int CmdRun(const Args& args);

// CmdText.cpp
int CmdUrlKey(const Args& args);
int CmdUrlEncode(const Args& args);
int CmdToAbsolute(const Args& args);

// CmdStore.cpp
int CmdJobs(const Args& args);
int CmdRule(const Args& args);

// CmdFetch.cpp
int CmdFetch(const Args& args);

// CmdDb.cpp
int CmdDb(const Args& args);

// CmdPublish.cpp
int CmdPublishTest(const Args& args);

// CmdRewrite.cpp
int CmdCombine(const Args& args);

// CmdRegex.cpp
int CmdRegex(const Args& args);

}  // namespace rzcli
