#include "foundation/DiagLog.h"

#include <cstdio>
#include <ctime>
#include <filesystem>

#include "foundation/Text.h"

namespace pcutil {

namespace {

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

std::u16string TodayFile() {
  std::tm tm = LocalNow();
  return ProgramPath(u"log/" + Format(u"%d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                                      tm.tm_mday) + u".log");
}

}  // namespace

int AppendLogFileLine(const std::u16string& text, const std::u16string& file) {
  const std::u16string name = file.empty() ? TodayFile() : file;
  std::tm tm = LocalNow();
  // Written as UTF-8: the Linux-native form of text files, readable whatever the locale.
  std::string line = Utf16ToUtf8(Format(u"%d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                                        tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                        tm.tm_sec) +
                                 u":" + text) +
                     "\n";
  FILE* f = std::fopen(ToFsPath(name).c_str(), "a+");
  if (!f) return -1;
  // One write per line keeps lines from different threads whole.
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
  return 0;
}

void WriteDiagnosticLog(const std::u16string& text) {
  std::error_code ec;
  std::filesystem::create_directories(ToFsPath(ProgramPath(u"log")), ec);
  AppendLogFileLine(text, TodayFile());
}

}  // namespace pcutil
