// The tests' own database server: the program's launcher (Mysql/bin/KiteSoft-mysql) run in a
// temporary program folder on a free loopback port. Started on first use, once per test
// program, and stopped when the program ends (also when it dies: a watchdog cleans up).
// Link rz_testmariadb to use it.
#pragma once

#include <string>

#include "store/DbSettings.h"

namespace rztest {

class MariaDb {
 public:
  // Connection settings of the running server (MySql, 127.0.0.1, root, database kitesoft).
  // Starts the server on first use; a server that does not come up fails the calling test.
  static rz::DbSettings Settings();
  // The temporary program folder the server runs from.
  static std::string ProgramFolder();
  // A loopback port nothing listens on right now.
  static int FreePort();
};

}  // namespace rztest
