#include "collect/ListUrl.h"

#include <cstdio>
#include <fstream>

#include "TextBits.h"
#include "foundation/Text.h"

namespace rz {

using collect_detail::LeadingInt;

namespace {

const std::u16string kFilePrefix = u"#FILE#";

// The text between the first "<" and the next ">" after it.
bool RangeText(const std::u16string& item, std::u16string& range) {
  auto open = item.find(u'<');
  if (open == std::u16string::npos) return false;
  auto close = item.find(u'>', open + 1);
  if (close == std::u16string::npos) return false;
  range = item.substr(open + 1, close - open - 1);
  return true;
}

std::u16string ZeroPadded(long long value, size_t width) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%0*lld", static_cast<int>(width > 40 ? 40 : width), value);
  return pcutil::Utf8ToUtf16(buf);
}

bool StartsWith(const std::u16string& s, const std::u16string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

void AppendFileLines(const std::u16string& path, std::vector<std::u16string>& out) {
  std::u16string full = path;
  bool absolute = !full.empty() && (full[0] == u'/' || full[0] == u'\\');
  if (!absolute) full = pcutil::ProgramPath(full);
  std::ifstream in(pcutil::ToFsPath(full), std::ios::binary);
  if (!in) return;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  // Address files are written either in UTF-8 or in the local code page.
  std::u16string text = pcutil::Utf8ToUtf16(bytes);
  if (text.empty() && !bytes.empty()) text = pcutil::LocalToUtf16(bytes);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find(u'\n', pos);
    std::u16string line = text.substr(pos, nl == std::u16string::npos ? nl : nl - pos);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    out.push_back(line);
    if (nl == std::u16string::npos) break;
    pos = nl + 1;
  }
}

}  // namespace

int ExpandListUrl(const std::u16string& item, std::vector<std::u16string>& out, int limit) {
  static_assert(kMaxRangeAddresses > 0);
  if (item.empty()) return 0;
  std::u16string range;
  std::vector<std::u16string> pieces;
  if (RangeText(item, range)) pcutil::Split(range, u",", pieces);
  if (pieces.size() >= 3) {
    const std::u16string token = u"<" + range + u">";
    // The count-down mirrors the preview: limit 5 gives four addresses, 0 never stops.
    long long left = limit;
    size_t made = 0;
    auto spend = [&left, &made]() {
      // A mistyped end (one digit too many) must not exhaust the memory of the collector.
      if (++made > kMaxRangeAddresses) return false;
      return left == 0 || --left != 0;
    };
    if (pieces.size() == 4) {
      const long long start = LeadingInt(pieces[0]);
      const long long end = LeadingInt(pieces[1]);
      const bool reverse = LeadingInt(pieces[2]) != 0;
      const long long multiple = LeadingInt(pieces[3]);
      const size_t width = pieces[0].size();
      long long index = reverse ? end : start;
      long long value = index * multiple;
      while (reverse ? index >= start : index <= end) {
        if (!spend()) break;
        out.push_back(pcutil::ReplaceAll(item, token, ZeroPadded(value, width)));
        index += reverse ? -1 : 1;
        value += reverse ? -multiple : multiple;
      }
    } else if (pieces.size() == 3) {
      const char16_t first = pieces[0][0];
      const char16_t last = pieces[1][0];
      const bool reverse = LeadingInt(pieces[2]) != 0;
      if (!reverse) {
        for (int c = first; c <= last; ++c) {
          if (!spend()) break;
          out.push_back(pcutil::ReplaceAll(item, token, std::u16string(1, char16_t(c))));
        }
      } else {
        for (int c = last; c >= first; --c) {
          if (!spend()) break;
          out.push_back(pcutil::ReplaceAll(item, token, std::u16string(1, char16_t(c))));
        }
      }
    }
    // Five or more fields: not a range this system writes; nothing is produced.
    return 1;
  }
  if (item.find(kFilePrefix) != std::u16string::npos) {
    AppendFileLines(StartsWith(item, kFilePrefix) ? item.substr(kFilePrefix.size()) : item, out);
    return 1;
  }
  out.push_back(item);
  return 1;
}

int ClassifyListUrl(const std::u16string& item, std::vector<std::u16string>& fields,
                    std::u16string& base) {
  if (item.empty()) return -1;
  std::u16string range;
  std::vector<std::u16string> pieces;
  if (RangeText(item, range)) pcutil::Split(range, u",", pieces);
  if (pieces.size() >= 3) {
    if (pieces.size() > 4) return -1;
    fields = pieces;
    base = pcutil::ReplaceAll(item, u"<" + range + u">", u"(*)");
    return pieces.size() == 4 ? 1 : 2;
  }
  return item.find(kFilePrefix) != std::u16string::npos ? 3 : 0;
}

std::u16string BuildListUrl(const std::u16string& base, const std::u16string& start,
                            const std::u16string& end, const std::u16string& reverse,
                            const std::u16string& multiple) {
  if (start.empty() || end.empty() || reverse.empty()) return base;
  std::u16string token = u"<" + start + u"," + end + u"," + reverse;
  if (!multiple.empty()) token += u"," + multiple;
  token += u">";
  return pcutil::ReplaceAll(base, u"(*)", token);
}

}  // namespace rz
