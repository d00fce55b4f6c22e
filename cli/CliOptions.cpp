#include "CliOptions.h"

#include <chrono>
#include <iostream>
#include <thread>

#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "storage/LocalServer.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Utf8ToUtf16;

bool DecodeArg(const std::string& arg, std::u16string& out) {
  out = Utf8ToUtf16(arg);
  return !(out.empty() && !arg.empty());
}

bool DbOptions::Take(const std::string& opt, const std::string& value, std::string& error) {
  if (opt == "--engine") {
    if (value != "ACCESS" && value != "MySql") error = "--engine is ACCESS or MySql";
    else Engine = value;
  } else if (opt == "--host") {
    Host = value;
  } else if (opt == "--port") {
    Port = value;
  } else if (opt == "--user") {
    User = value;
  } else if (opt == "--password") {
    Password = value;
  } else if (opt == "--database") {
    Database = value, HasDatabase = true;
  } else {
    return false;
  }
  return true;
}

void DbOptions::ApplyTo(rz::DbSettings& settings) const {
  if (!Engine.empty()) {
    settings.Type = Utf8ToUtf16(Engine);
    if (Engine == "ACCESS" && !HasDatabase) settings.SqlDb.clear();  // the job's own file
  }
  if (!Host.empty()) settings.SqlHost = Utf8ToUtf16(Host);
  if (!Port.empty()) settings.Port = Utf8ToUtf16(Port);
  if (!User.empty()) settings.SqlUser = Utf8ToUtf16(User);
  if (!Password.empty()) settings.SqlPsw = Utf8ToUtf16(Password);
  if (HasDatabase) settings.SqlDb = Utf8ToUtf16(Database);
}

rz::JobRulePtr LoadJobOrReport(rz::SiteStore& store, const std::string& jobId) {
  const std::u16string id = Utf8ToUtf16(jobId);
  rz::JobRulePtr rule = rz::LoadJobRule(store, id);
  if (!rule) {
    std::cerr << "rizede-cli: no job " << jobId << " (no readable "
              << pcutil::ToFsPath(rz::JobFilePath(id)) << ")\n";
  }
  return rule;
}

bool StartLocalServerFor(rz::ContentDatabase& db) {
  std::cerr << "rizede-cli: starting the local database server\n";
  rz::StartLocalServer();
  for (int i = 0; i < 600; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (db.Open(false)) return true;
    if (i > 50 && !rz::IsLocalServerRunning()) break;
  }
  return false;
}

bool OpenStartingLocalServer(rz::ContentDatabase& db) {
  if (db.Open(false)) return true;
  if (!(db.Settings == rz::LocalServerSettings()) || rz::IsLocalServerRunning()) return false;
  return StartLocalServerFor(db);
}

}  // namespace rzcli
