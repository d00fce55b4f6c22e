// Helpers shared by the rule store tests.
#pragma once

#include <filesystem>
#include <string>

#include "Sandbox.h"
#include "foundation/Text.h"

namespace storetest {

inline std::u16string U(const std::string& utf8) { return pcutil::Utf8ToUtf16(utf8); }
inline std::string S(const std::u16string& text) { return pcutil::Utf16ToUtf8(text); }
inline std::u16string P(const std::filesystem::path& p) { return U(p.string()); }

inline const std::string kBom = "\xEF\xBB\xBF";
inline const std::string kDecl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A file's bytes as a rule store file: byte-order mark, declaration, then the body.
inline std::string CfgBytes(const std::string& body) { return kBom + kDecl + body; }

inline std::string Fixture(const std::string& name) {
  return rztest::ReadFile(std::filesystem::path(RZ_STORE_FIXTURES) / name);
}

}  // namespace storetest
