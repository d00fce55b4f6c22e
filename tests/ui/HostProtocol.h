// The line protocol of the browser tests' host programs (driven by harness.mjs): the UI
// server starts on a free port and "READY <address>" (or "FAILED <reason>") is printed; then
// one JSON array per line, ["op", args...], is answered with "OK <json>" or "ERR <reason>"
// until "quit" or the end of input.
#pragma once

#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include "platform/PageHost.h"
#include "platform/UiLoop.h"
#include "platform/UiServer.h"

namespace rztest {

// `onReader` may answer a command on the reading thread (returns true when it printed the
// answer itself); every other command runs `onUi` on the UI thread, which fills the result or
// throws. An unknown command is an error thrown by `onUi`. Returns 1 when the server did not
// start, otherwise 0 when the input ends.
inline int ServeHostCommands(
    rz::CUiServer& server, const rz::UiServerOptions& options, rz::CUiLoop& loop,
    const std::function<bool(const std::string& op, const rz::Json& cmd)>& onReader,
    const std::function<void(const std::string& op, const rz::Json& cmd, rz::Json& result)>& onUi) {
  std::string error;
  if (!server.Start(options, error)) {
    std::cout << "FAILED " << error << std::endl;
    return 1;
  }
  std::cout << "READY " << server.Address() << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    const rz::Json cmd = rz::Json::parse(line, nullptr, false);
    if (!cmd.is_array() || cmd.empty() || !cmd[0].is_string()) {
      std::cout << "ERR bad command" << std::endl;
      continue;
    }
    const std::string op = cmd[0].get<std::string>();
    if (op == "quit") break;
    if (onReader && onReader(op, cmd)) continue;
    rz::Json result;
    std::string failure;
    loop.Send([&] {
      try {
        onUi(op, cmd, result);
      } catch (const std::exception& e) {
        failure = e.what();
      }
    });
    if (failure.empty())
      std::cout << "OK " << result.dump() << std::endl;
    else
      std::cout << "ERR " << failure << std::endl;
  }
  return 0;
}

}  // namespace rztest
