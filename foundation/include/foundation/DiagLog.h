// The diagnostic log: one file per day in the program folder's "log" folder.
#pragma once

#include <string>

namespace pcutil {

// Appends "<local time>:<text>" to log/<year>-<mm>-<dd>.log; a line that cannot be written
// is dropped. Safe from any thread: the file is opened and closed for every line.
void WriteDiagnosticLog(const std::u16string& text);

// Appends one time-stamped line to `file` (empty = today's diagnostic log file).
// 0 when written, -1 when the file cannot be opened.
int AppendLogFileLine(const std::u16string& text, const std::u16string& file);

}  // namespace pcutil
