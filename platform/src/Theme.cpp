#include "platform/Theme.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "foundation/Text.h"

namespace rz {

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}
}  // namespace

IniData ParseIni(const std::string& text) {
  IniData data;
  std::string body = text;
  if (body.rfind("\xEF\xBB\xBF", 0) == 0) body.erase(0, 3);
  std::istringstream in(body);
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Lower(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Lower(Trim(line.substr(0, eq)));
    if (key.empty()) continue;
    auto& keys = data[section];
    if (!keys.count(key)) keys[key] = Trim(line.substr(eq + 1));  // first one wins
  }
  return data;
}

std::u16string ReadThemeValue(const std::u16string& key) {
  std::ifstream in(pcutil::ToFsPath(pcutil::ProgramPath(u"skin/theme.ini")), std::ios::binary);
  if (!in) return {};
  std::stringstream buffer;
  buffer << in.rdbuf();
  IniData ini = ParseIni(buffer.str());
  auto section = ini.find("skin");
  if (section == ini.end()) return {};
  auto value = section->second.find(Lower(pcutil::Utf16ToUtf8(key)));
  if (value == section->second.end()) return {};
  return pcutil::Utf8ToUtf16(value->second);
}

std::u16string SkinFolder() {
  return pcutil::ProgramPath(u"skin/" + ReadThemeValue(u"DefaultDir") + u"/");
}

std::u16string PageFolder() { return SkinFolder() + u"Html/"; }

}  // namespace rz
