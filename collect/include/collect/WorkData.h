// The records that travel between the collection workers, the database worker and the
// job runner.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "store/JobRule.h"

namespace rz {

// The result of one unit of work.
struct ToData {
  std::vector<std::u16string> Links;               // links of one list page / keywords found
  std::map<std::u16string, std::u16string> Fields;  // PageUrl, ID, 已采, one entry per label
  std::u16string Text;                             // list page address, or the item's log line
  int ResultCode = 1;  // 1 success; content: 12 drop the stored row, other values failure
};

// One progress report of a run.
struct LogData {
  int TotalCount = 0;
  int OkCount = 0;
  int DoneCount = 0;
  int FailCount = 0;
  int RepeatCount = 0;
  std::u16string LogText;  // HTML fragment
  std::u16string StatusText;
  std::u16string JobName;
};

// One article page to collect: its address and, for a stored row, the row id.
struct PageEntry {
  std::u16string PageUrl;
  std::u16string ID;
};

// One unit of content work.
struct ListUrlData {
  ContentRule Content;
  std::u16string Charset;
  std::vector<PageEntry> Pages;
};

}  // namespace rz
