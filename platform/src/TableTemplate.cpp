// Tag and table templates: the tree page copies the look of a template row.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>

#include "platform/HtmlCtrl.h"

namespace rz {

namespace {

struct CodeFree {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct DataFree {
  void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};

// Every match of pattern in subject, left to right; each match as [whole, group1, ...].
std::vector<std::vector<std::u16string>> MatchAll(const std::u16string& pattern,
                                                  const std::u16string& subject,
                                                  uint32_t options, bool firstOnly = false) {
  std::vector<std::vector<std::u16string>> out;
  int error = 0;
  PCRE2_SIZE offset = 0;
  std::unique_ptr<pcre2_code, CodeFree> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                    options | PCRE2_UTF, &error, &offset, nullptr));
  if (!code) return out;
  std::unique_ptr<pcre2_match_data, DataFree> data(
      pcre2_match_data_create_from_pattern(code.get(), nullptr));
  auto subj = reinterpret_cast<PCRE2_SPTR>(subject.data());
  PCRE2_SIZE start = 0;
  while (start <= subject.size()) {
    int rc = pcre2_match(code.get(), subj, subject.size(), start, 0, data.get(), nullptr);
    if (rc < 0) break;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data.get());
    std::vector<std::u16string> groups;
    for (int i = 0; i < rc; ++i) {
      if (ov[2 * i] == PCRE2_UNSET) groups.emplace_back();
      else groups.push_back(subject.substr(ov[2 * i], ov[2 * i + 1] - ov[2 * i]));
    }
    uint32_t count = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &count);
    groups.resize(count + 1);
    out.push_back(std::move(groups));
    if (firstOnly) break;
    start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
  }
  return out;
}

}  // namespace

std::map<std::u16string, std::u16string> ParseTagAttributes(const std::u16string& tag) {
  std::map<std::u16string, std::u16string> attributes;
  auto names = MatchAll(u"(\\w+)=", tag, PCRE2_CASELESS);
  auto values = MatchAll(u"\"(.+?)\"", tag, PCRE2_CASELESS);
  // Names and values are paired by position; if the counts differ (an unquoted value)
  // the pairing would be wrong, so nothing is taken.
  if (names.size() != values.size()) return attributes;
  for (size_t i = 0; i < names.size(); ++i)
    if (!names[i][1].empty()) attributes[names[i][1]] = values[i][1];
  return attributes;
}

bool ParseTableTemplate(const std::u16string& tableHtml, TableTemplate& out) {
  out = TableTemplate{};
  // A template row may span lines in a page file, so '.' also crosses line breaks here.
  const uint32_t flags = PCRE2_CASELESS | PCRE2_DOTALL;
  auto rowTag = MatchAll(u"<tr.+?>", tableHtml, flags, true);
  if (rowTag.empty()) return false;
  out.rowAttributes = ParseTagAttributes(rowTag[0][0]);
  auto row = MatchAll(u"<tr.+?</tr>", tableHtml, flags, true);
  if (row.empty()) return false;
  for (auto& cell : MatchAll(u"<td.+?>", row[0][0], flags))
    out.cellAttributes.push_back(ParseTagAttributes(cell[0]));
  for (auto& cell : MatchAll(u"<td.+?>(.+?)</td>", row[0][0], flags))
    out.cellHtml.push_back(cell[1]);
  return true;
}

}  // namespace rz
