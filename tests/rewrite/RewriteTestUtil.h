// Small helpers shared by the rewrite tests.
#pragma once

#include <string>
#include <vector>

#include "foundation/Text.h"
#include "store/JobRule.h"

namespace rwtest {

inline std::u16string U(const char* utf8) { return pcutil::Utf8ToUtf16(utf8); }
inline std::u16string U(const std::string& utf8) { return pcutil::Utf8ToUtf16(utf8); }
inline std::string S(const std::u16string& text) { return pcutil::Utf16ToUtf8(text); }

inline rz::LabelOriginal Rule(const char* id, const char* p1 = "", const char* p2 = "",
                              const char* p3 = "") {
  rz::LabelOriginal r;
  r.Id = U(id);
  r.Param1 = U(p1);
  r.Param2 = U(p2);
  r.Param3 = U(p3);
  return r;
}

inline rz::LabelRule Label(const char* name, std::vector<rz::LabelOriginal> chain) {
  rz::LabelRule l;
  l.LabelName = U(name);
  l.Original = std::move(chain);
  return l;
}

inline size_t Count(const std::u16string& text, const std::u16string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace rwtest
