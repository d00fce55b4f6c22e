// Pieces the commands share: argument decoding, and for the job commands (run, db, combine)
// the database options, loading the job and bringing up the local database server.
#pragma once

#include <string>

#include "store/DbSettings.h"
#include "store/JobRule.h"

namespace rz {
class ContentDatabase;
class SiteStore;
}  // namespace rz

namespace rzcli {

// Arguments must be UTF-8; undecodable ones are bad input rather than silently empty.
bool DecodeArg(const std::string& arg, std::u16string& out);

// --engine ACCESS|MySql --host H --port P --user U --password P --database NAME_OR_FILE,
// laid over the job's own database settings.
struct DbOptions {
  std::string Engine, Host, Port, User, Password, Database;
  bool HasDatabase = false;

  // Takes `opt value` when opt is a database option; false when it is not one. A bad value
  // sets `error`.
  bool Take(const std::string& opt, const std::string& value, std::string& error);
  void ApplyTo(rz::DbSettings& settings) const;
};

// The job named on the command line; null after printing why it could not be loaded.
rz::JobRulePtr LoadJobOrReport(rz::SiteStore& store, const std::string& jobId);

// Starts the local database server and waits until `db` opens on it; it keeps running
// afterwards, as when the program starts it.
bool StartLocalServerFor(rz::ContentDatabase& db);

// Opens `db`; a database on the local server finds the server started when it is down.
bool OpenStartingLocalServer(rz::ContentDatabase& db);

}  // namespace rzcli
