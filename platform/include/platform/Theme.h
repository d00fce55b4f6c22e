// The theme file "skin/theme.ini": which skin folder the pages and tab pictures come from.
#pragma once

#include <map>
#include <string>

namespace rz {

// Sections and keys of an INI text; section and key names are compared case-insensitively
// (stored lower-cased). A UTF-8 byte-order mark and CR LF line ends are accepted.
using IniData = std::map<std::string, std::map<std::string, std::string>>;
IniData ParseIni(const std::string& text);

// Value of key in section "Skin" of "skin/theme.ini" under the program folder; empty when the
// file or key is missing.
std::u16string ReadThemeValue(const std::u16string& key);

// program folder + "skin/" + DefaultDir + "/"
std::u16string SkinFolder();
// SkinFolder() + "Html/"
std::u16string PageFolder();

}  // namespace rz
