// Tag and table templates: the tree page copies the look of a template row.
#include "patterns/Regex.h"
#include "platform/HtmlCtrl.h"

namespace rz {

namespace {

constexpr unsigned kEvery = pcutil::Global | pcutil::AllCaptures;

// Group 1 of the first match, or of every match with kEvery, left to right. The patterns
// here have exactly one group.
std::vector<std::u16string> Group1(const std::u16string& pattern, const std::u16string& subject,
                                   unsigned flags) {
  std::vector<std::u16string> found;
  try {
    pcutil::RegexCaptureOdd(pattern, subject, flags, found);
  } catch (const pcutil::RegexError&) {
    // A match past the engine's limits ends the list where it got to.
  }
  return found;
}

}  // namespace

std::map<std::u16string, std::u16string> ParseTagAttributes(const std::u16string& tag) {
  std::map<std::u16string, std::u16string> attributes;
  const unsigned flags = pcutil::CaseInsensitive | kEvery;
  auto names = Group1(u"(\\w+)=", tag, flags);
  auto values = Group1(u"\"(.+?)\"", tag, flags);
  // Names and values are paired by position; if the counts differ (an unquoted value)
  // the pairing would be wrong, so nothing is taken.
  if (names.size() != values.size()) return attributes;
  for (size_t i = 0; i < names.size(); ++i)
    if (!names[i].empty()) attributes[names[i]] = values[i];
  return attributes;
}

bool ParseTableTemplate(const std::u16string& tableHtml, TableTemplate& out) {
  out = TableTemplate{};
  // A template row may span lines in a page file, so '.' also crosses line breaks here.
  const unsigned flags = pcutil::CaseInsensitive | pcutil::SingleLine;
  auto rowTag = Group1(u"(<tr.+?>)", tableHtml, flags);
  if (rowTag.empty()) return false;
  out.rowAttributes = ParseTagAttributes(rowTag[0]);
  auto row = Group1(u"(<tr.+?</tr>)", tableHtml, flags);
  if (row.empty()) return false;
  for (auto& cell : Group1(u"(<td.+?>)", row[0], flags | kEvery))
    out.cellAttributes.push_back(ParseTagAttributes(cell));
  for (auto& cell : Group1(u"<td.+?>(.+?)</td>", row[0], flags | kEvery))
    out.cellHtml.push_back(std::move(cell));
  return true;
}

}  // namespace rz
