#include "collect/PostProcess.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "TextBits.h"
#include "collect/Links.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace rz {

using namespace collect_detail;
using pcutil::ReplaceAll;

namespace {

constexpr unsigned kCleanFlags =
    pcutil::CaseInsensitive | pcutil::MultiLine | pcutil::SingleLine | pcutil::Global;

// Program-wide "[自增ID]" counter: 1 for the first name after start-up.
std::atomic<int> g_fileCounter{0};

std::u16string RandomChars(int n) {
  static const char16_t kAlphabet[] = u"abcdefghijklmnopqrstuvwxyz1234567890";
  thread_local std::mt19937 gen(static_cast<unsigned>(
      std::random_device{}() ^
      static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count())));
  std::uniform_int_distribution<int> pick(0, 35);
  std::u16string s;
  for (int i = 0; i < n; ++i) s += kAlphabet[pick(gen)];
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX sequences decoded as UTF-8; text that does not decode stays as written.
std::u16string PercentDecode(const std::u16string& s) {
  if (s.find(u'%') == std::u16string::npos) return s;
  std::string bytes = pcutil::Utf16ToUtf8(s), out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    int h, l;
    if (bytes[i] == '%' && i + 2 < bytes.size() &&
        (h = HexDigit(bytes[i + 1])) >= 0 && (l = HexDigit(bytes[i + 2])) >= 0) {
      out += static_cast<char>(h * 16 + l);
      i += 2;
    } else {
      out += bytes[i];
    }
  }
  std::u16string decoded = pcutil::Utf8ToUtf16(out);
  return decoded.empty() && !out.empty() ? s : decoded;
}

size_t Utf8Length(const std::u16string& s) { return pcutil::Utf16ToUtf8(s).size(); }

// One path component made safe, or empty when nothing usable is left.
std::u16string SafeComponent(const std::u16string& raw) {
  std::u16string c = StripControls(PercentDecode(raw));
  for (auto& ch : c) {
    switch (ch) {
      case u'/': case u'\\': case u'?': case u'#': case u'%': case u'*':
      case u'<': case u'>': case u'|': case u'"': case u':':
        ch = u'_';
        break;
      default:
        break;
    }
  }
  c = Trim(c);
  if (c.find_first_not_of(u'.') == std::u16string::npos) return std::u16string();
  // File systems allow 255 bytes per name; stay well below, keeping a short extension.
  constexpr size_t kMaxBytes = 200;
  if (Utf8Length(c) > kMaxBytes) {
    std::u16string ext;
    size_t dot = c.rfind(u'.');
    if (dot != std::u16string::npos && c.size() - dot <= 16) ext = c.substr(dot);
    std::u16string stem = c.substr(0, c.size() - ext.size());
    while (!stem.empty() && Utf8Length(stem) + Utf8Length(ext) > kMaxBytes) {
      stem.pop_back();
      if (!stem.empty() && stem.back() >= 0xD800 && stem.back() <= 0xDBFF) stem.pop_back();
    }
    c = stem + ext;
  }
  return c;
}

// The file name of an address: after its last "/" or "\", query and fragment cut off.
std::u16string AddressFileName(const std::u16string& url) {
  std::u16string u = url.substr(0, url.find_first_of(u"?#"));
  size_t slash = u.find_last_of(u"/\\");
  std::u16string name = slash == std::u16string::npos ? u : u.substr(slash + 1);
  // A remote name never creates folders of its own.
  name = PercentDecode(name);
  for (auto& ch : name)
    if (ch == u'/' || ch == u'\\') ch = u'_';
  return name;
}

std::u16string TwoDigits(int v) { return pcutil::Format(u"%02d", v); }

}  // namespace

std::u16string ApplyReplacements(const std::u16string& value,
                                 const std::vector<std::u16string>& items) {
  // Without items only the marker's own return to "|" is left to do (one pass, not two).
  if (items.empty()) return ReplaceAll(value, kBarMarker, u"|");
  std::u16string v = ReplaceAll(value, u"|", kBarMarker);
  for (const auto& item : items) {
    std::vector<std::u16string> pieces;
    if (!pcutil::Split(item, u"|", pieces, true) || pieces.size() != 2 || pieces[0].empty())
      continue;
    const std::u16string pattern =
        ReplaceAll(WildcardToPattern(pieces[0], {u"(*)"}), u"(*)", u".*?");
    // The to-part is plain text: "$" must not name a group.
    pcutil::RegexReplace(v, pattern, kCleanFlags, ReplaceAll(pieces[1], u"$", u"$$"));
    pcutil::UnitPause();
  }
  return ReplaceAll(v, kBarMarker, u"|");
}

std::u16string ApplyTagFilters(const std::u16string& value,
                               const std::vector<std::u16string>& patterns) {
  std::u16string v = value;
  for (const auto& p : patterns) {
    if (p.empty()) continue;
    pcutil::RegexReplace(v, p, kCleanFlags, u"");
    pcutil::UnitPause();
  }
  return v;
}

const std::vector<HtmlTagFilter>& HtmlTagFilterTable() {
  static const std::vector<HtmlTagFilter> table = [] {
    static const char16_t* const rows[][2] = {
        {u"链接a", u"<a.*?>|</a>"},
        {u"tbody", u"<tbody.*?>|</tbody>"},
        {u"表单form", u"<form.*?>.*?</form>"},
        {u"表格table", u"<table.*?>|</table>"},
        {u"表格行tr", u"<tr.*?>|</tr>"},
        {u"单元td", u"<td.*?>|</td>"},
        {u"图像img", u"<img.*?>|</img>"},
        {u"脚本script", u"<script.*?>.*?</script>"},
        {u"frame iframe", u"<frame.*?>|</frame>|<iframe.*?>|</iframe>"},
        {u"li ul dd dt", u"<li.*?>|</li>|<ul.*?>|</ul>|<dd.*?>|</dd>|<dt.*?>|</dt>"},
        {u"标签Span", u"<span.*?>|</span>"},
        {u"b strong", u"<b .*?>|</b>|<strong.*?>|</strong>"},
        {u"换行br", u"<br.*?>|</br>"},
        {u"段落p", u"<p.*?>|</p>"},
        {u"字体font", u"<font.*?>|</font>"},
        {u"空格&amp;nbsp;", u"&nbsp;"},
        {u"层div", u"<div.*?>|</div>"},
        {u"标签H1-7", u"<h.+?>|</h.+?>"},
        {u"标签Hr", u"<hr.*?>|</hr>"},
        {u"换行 \\r\\n\\t", u"\\s"},
        {u"去首尾空白", u"^\\s*|\\s*$"},
        {u"所有标签", u"<[^>]*>"},
    };
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    std::vector<HtmlTagFilter> out;
    int n = 0;
    for (const auto& r : rows) {
      std::u16string id = pcutil::Format(u"%d-%02d-%02d-%02d-%02d-%02d-%d", t.tm_year + 1900,
                                         t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                                         ++n);
      out.push_back({id, r[0], r[1]});
    }
    return out;
  }();
  return table;
}

std::u16string HtmlTagFilterElementId(const HtmlTagFilter& filter) {
  return u"htmltagtable_" + RemoveChar(RemoveChar(filter.Name, u'<'), u'>');
}

namespace {

// "name:" at the start (mailto:, javascript:, data:, https:...) or a page-local "#...":
// nothing to resolve.
bool NotRelative(const std::u16string& a) {
  if (!a.empty() && a[0] == u'#') return true;
  size_t i = 0;
  while (i < a.size() && ((a[i] >= u'a' && a[i] <= u'z') || (a[i] >= u'A' && a[i] <= u'Z') ||
                          (i > 0 && ((a[i] >= u'0' && a[i] <= u'9') || a[i] == u'+' ||
                                     a[i] == u'-' || a[i] == u'.'))))
    ++i;
  return i > 0 && i < a.size() && a[i] == u':';
}

}  // namespace

std::u16string RewriteLinks(const std::u16string& value, const std::u16string& base) {
  std::vector<std::u16string> m;
  pcutil::RegexCapture(u"(href|src)\\=(\"|')(.*?)(\"|'| )", value,
                       pcutil::CaseInsensitive | pcutil::Global | pcutil::MultiLine |
                           pcutil::AllCaptures,
                       m);
  if (m.empty() || m.size() % 5 != 0) return value;
  std::map<std::u16string, std::u16string> replacements;
  for (size_t i = 0; i < m.size(); i += 5) {
    const std::u16string& address = m[i + 3];
    if (address.empty() || NotRelative(address)) continue;
    replacements[m[i]] = m[i + 1] + u"=" + m[i + 2] + ResolveLink(address, base) + m[i + 4];
  }
  std::u16string v = value;
  for (const auto& [from, to] : replacements) v = ReplaceAll(v, from, to);
  return v;
}

std::u16string SafeRelativePath(const std::u16string& path) {
  const bool leading = !path.empty() && (path[0] == u'/' || path[0] == u'\\');
  std::u16string out;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t sep = path.find_first_of(u"/\\", pos);
    std::u16string comp = SafeComponent(
        path.substr(pos, sep == std::u16string::npos ? std::u16string::npos : sep - pos));
    if (!comp.empty()) out += (out.empty() ? u"" : u"/") + comp;
    if (sep == std::u16string::npos) break;
    pos = sep + 1;
  }
  return leading ? u"/" + out : out;
}

std::u16string MakeFileName(const std::u16string& fileUrl, const std::u16string& saveFileFormat,
                            const std::u16string& articleUrl, const std::u16string& subFolder,
                            int localCounter) {
  const std::u16string fileName = AddressFileName(fileUrl);
  std::u16string name;
  if (saveFileFormat.empty()) {
    name = RandomChars(5) + fileName;
  } else {
    size_t dot = fileName.rfind(u'.');
    const std::u16string ext = dot == std::u16string::npos ? u"" : fileName.substr(dot);
    const std::u16string stem = fileName.substr(0, fileName.size() - ext.size());
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    name = saveFileFormat;
    name = ReplaceAll(name, u"YYYY", pcutil::Format(u"%d", t.tm_year + 1900));
    name = ReplaceAll(name, u"MM", TwoDigits(t.tm_mon + 1));
    name = ReplaceAll(name, u"DD", TwoDigits(t.tm_mday));
    name = ReplaceAll(name, u"HH", TwoDigits(t.tm_hour));
    name = ReplaceAll(name, u"mm", TwoDigits(t.tm_min));
    name = ReplaceAll(name, u"ss", TwoDigits(t.tm_sec));
    name = ReplaceAll(name, u"[自增ID]", pcutil::Format(u"%d", ++g_fileCounter));
    name = ReplaceAll(name, u"[随机文件名]", RandomChars(5));
    name = ReplaceAll(name, u"[原文件名]", stem);
    name = ReplaceAll(name, u"[采集页面地址MD5值]", pcutil::UrlKey(articleUrl));
    name = ReplaceAll(name, u"[自增ID:局部]", pcutil::Format(u"%d", localCounter));
    name += ext;
  }
  std::u16string safeName = SafeRelativePath(name);
  while (!safeName.empty() && safeName[0] == u'/') safeName.erase(0, 1);
  if (safeName.empty()) safeName = RandomChars(5);
  return SafeRelativePath(subFolder) + u"/" + safeName;
}

std::vector<std::u16string> FindReferences(const std::u16string& value, ReferenceKind kind) {
  const std::u16string ext = kind == ReferenceKind::Image ? u"gif|jpg|jpeg|png|bmp" : u"swf";
  constexpr unsigned flags =
      pcutil::CaseInsensitive | pcutil::Global | pcutil::MultiLine | pcutil::AllCaptures;
  std::set<std::u16string> refs;
  std::vector<std::u16string> m;
  if (pcutil::RegexCapture(pcutil::Format(u"src=(.*?\\.(%s))", ext), value, flags, m)) {
    for (size_t i = 0; i + 2 < m.size(); i += 3) refs.insert(m[i + 1]);
  } else if (pcutil::RegexCapture(pcutil::Format(u"http://.*?\\.(%s)|/.*?\\.(%s)", ext, ext),
                                  value, flags, m)) {
    for (size_t i = 0; i + 2 < m.size(); i += 3) refs.insert(m[i]);
  }
  std::set<std::u16string> cleaned;
  for (auto r : refs) {
    if (!r.empty() && (r[0] == u'"' || r[0] == u'\'')) r.erase(0, 1);
    if (!r.empty()) cleaned.insert(r);
  }
  return {cleaned.begin(), cleaned.end()};
}

std::u16string DownloadReferences(const FileFetcher& fetcher, const std::u16string& value,
                                  const std::u16string& articleUrl, const std::u16string& labelId,
                                  ReferenceKind kind, const std::u16string& saveFileFormat,
                                  const std::u16string& baseFolderIn,
                                  const std::u16string& subFolder,
                                  std::vector<DownloadFileRow>& rows) {
  namespace fs = std::filesystem;
  const std::vector<std::u16string> refs = FindReferences(value, kind);
  if (refs.empty()) return value;
  std::u16string baseFolder = baseFolderIn;
  for (auto& c : baseFolder)
    if (c == u'\\') c = u'/';
  if (baseFolder.empty() || baseFolder[0] != u'/') baseFolder = pcutil::ProgramPath(baseFolder);
  while (baseFolder.size() > 1 && baseFolder.back() == u'/') baseFolder.pop_back();
  std::error_code ec;
  fs::create_directories(pcutil::ToFsPath(baseFolder + SafeRelativePath(u"/" + subFolder)), ec);

  std::u16string v = value;
  int counter = 1;
  for (const auto& ref : refs) {
    const std::u16string absolute = ResolveLink(ref, articleUrl);
    const std::u16string rel = MakeFileName(absolute, saveFileFormat, articleUrl, subFolder, counter++);
    const std::u16string local = baseFolder + (rel[0] == u'/' ? u"" : u"/") + rel;
    const fs::path file(pcutil::ToFsPath(local));
    fs::create_directories(file.parent_path(), ec);
    if (fs::is_regular_file(fs::symlink_status(file, ec)) || fs::is_symlink(fs::symlink_status(file, ec)))
      fs::remove(file, ec);
    DownloadFileRow row;
    row.DownloadUrl = ReplaceAll(DecodeCharRefs(absolute), u" ", u"%20");
    row.PageUrl = articleUrl;
    row.SaveUrl = local;
    row.ReplaceUrl = rel;
    row.LabelId = labelId;
    const bool ok = fetcher.Download && fetcher.Download(row.DownloadUrl, local);
    v = ReplaceAll(v, ref, rel);
    if (ok) {
      row.State = 1;
      if (fetcher.Record && !fetcher.Record(row)) row.State = 0;
    }
    rows.push_back(row);
  }
  return v;
}

}  // namespace rz
