// The few Jet SQL forms the system issues against "ACCESS" databases, rewritten for SQLite:
//   select top N ...            -> select ... LIMIT N
//   delete * from ...           -> delete from ...
//   autoincrement(1,1) primary key -> INTEGER PRIMARY KEY AUTOINCREMENT
//   short                       -> INTEGER
//   rnd(...)                    -> random()
// Bracketed names ([已采]) are understood by SQLite as they are. Text inside quotes,
// brackets and backticks is never touched.
#pragma once

#include <string>

namespace rz {

std::u16string JetToSqlite(const std::u16string& sql);

}  // namespace rz
