// Small helpers shared by the network tests.
#pragma once

#include <string>
#include <vector>

#include "foundation/Text.h"
#include "net/Http.h"

namespace nettest {

inline std::u16string U(const std::string& utf8) { return pcutil::Utf8ToUtf16(utf8); }
inline std::string N(const std::u16string& text) { return pcutil::Utf16ToUtf8(text); }

// The header lines of a raw request head, without the request line and the empty line.
inline std::vector<std::string> HeadLines(const std::string& head) {
  std::vector<std::string> lines;
  size_t pos = head.find("\r\n");
  if (pos == std::string::npos) return lines;
  pos += 2;
  while (pos < head.size()) {
    const size_t end = head.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    lines.push_back(head.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// Lowers the connect and stall limits for one test and puts them back afterwards.
class ShortTimeouts {
 public:
  explicit ShortTimeouts(long seconds) : saved_(pcutil::GetNetTimeouts()) {
    pcutil::SetNetTimeouts({seconds, seconds});
  }
  ~ShortTimeouts() { pcutil::SetNetTimeouts(saved_); }

 private:
  pcutil::NetTimeouts saved_;
};

}  // namespace nettest
