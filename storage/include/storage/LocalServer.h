// Control of the local database server: the program folder's Mysql/bin/KiteSoft-mysql.
#pragma once

#include <sys/types.h>

#include <string>

#include "store/DbSettings.h"

namespace rz {

// The local server's port: 7795, or RIZEDE_LOCAL_DB_PORT when that names a port (tests and
// development, so they never touch the server of a Rizede the user runs).
std::u16string LocalServerPort();

// The connection to the local server: MySql on 127.0.0.1:LocalServerPort(), root without
// password, database "kitesoft".
DbSettings LocalServerSettings();

// Starts the program folder's server unless it runs already. Does not wait for the server to
// accept connections; always 1 (a server that cannot start shows up as failing connections).
int StartLocalServer();
bool IsLocalServerRunning();
// Ends the server (SIGTERM, which shuts it down cleanly with exit code 0) and waits until the
// process is gone. Always 1; nothing happens when no server runs.
int StopLocalServer();

// The same for a given program folder and port (tests, tools).
int StartLocalServerAt(const std::u16string& programFolder, const std::u16string& port);
bool IsLocalServerRunningAt(const std::u16string& programFolder);
int StopLocalServerAt(const std::u16string& programFolder);
// The server process of that program folder, or 0.
pid_t FindLocalServer(const std::u16string& programFolder);

// The first process (ascending ids) whose image name equals `name` exactly: the file name of
// /proc/<pid>/exe or the kernel's process name (/proc/<pid>/comm). 0 when none.
pid_t FindProcessByName(const std::u16string& name);

}  // namespace rz
