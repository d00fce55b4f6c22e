// Connection settings of a content or publish database.
#pragma once

#include <string>

namespace rz {

struct DbSettings {
  std::u16string Type = u"MySql";  // "MySql", "ACCESS" or "SQL Server" (compared exactly)
  std::u16string SqlHost = u"127.0.0.1";
  std::u16string SqlUser = u"root";
  std::u16string SqlPsw;
  std::u16string SqlDb = u"kitesoft";  // database name, or the .mdb path for "ACCESS"
  std::u16string Port = u"7795";
  int ClientFlags = 0;

  bool operator==(const DbSettings&) const = default;
};

}  // namespace rz
