// Clean-up of extracted label values: replacement rules, HTML tag filters, link rewriting,
// and the download of referenced images and Flash files with their local file names.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rz {

// Stands in for "|" inside a value while the replacement rules (which use "|") run.
inline const std::u16string kBarMarker = u"#竖线转义符#";

// Each item is "from|to"; from is literal text with "(*)" for any text. Every match
// (ignore case, "." matches line ends) is replaced by the literal to-part. "|" in the value
// survives. Items that do not split into exactly two pieces, or have an empty from-part,
// are skipped. Takes the unit pause after each item.
std::u16string ApplyReplacements(const std::u16string& value,
                                 const std::vector<std::u16string>& items);

// Each item is a pattern; every match is removed. Takes the unit pause after each item.
std::u16string ApplyTagFilters(const std::u16string& value,
                               const std::vector<std::u16string>& patterns);

struct HtmlTagFilter {
  std::u16string Id;       // made at start-up from the local time and a running number
  std::u16string Name;     // display name
  std::u16string Pattern;  // stored in a label's HtmlTags when ticked
};
// The filters the job editor offers, in display order.
const std::vector<HtmlTagFilter>& HtmlTagFilterTable();
// The editor's check box id of a filter: "htmltagtable_" + name without "<" and ">".
std::u16string HtmlTagFilterElementId(const HtmlTagFilter& filter);

// Makes quoted href/src addresses of the value absolute against `base`.
std::u16string RewriteLinks(const std::u16string& value, const std::u16string& base);

// A path made safe to join below a destination folder: "/" and "\" separate components,
// empty, "." and ".." components are dropped, percent-encoded characters are decoded before
// the checks, control characters are removed, characters that break a file name or a web
// reference become "_", over-long components are shortened (keeping the extension).
// A leading "/" is kept: the path is still meant relative to the destination folder.
std::u16string SafeRelativePath(const std::u16string& path);

// The relative path of a downloaded file: sub-folder + "/" + a name built from
// `saveFileFormat` (YYYY MM DD HH mm ss, [自增ID], [随机文件名], [原文件名],
// [采集页面地址MD5值], [自增ID:局部]) and the extension of the address. An empty format
// gives five random characters + the address's file name. The result never leaves the
// destination folder (see SafeRelativePath).
std::u16string MakeFileName(const std::u16string& fileUrl, const std::u16string& saveFileFormat,
                            const std::u16string& articleUrl, const std::u16string& subFolder,
                            int localCounter);

enum class ReferenceKind { Image, Flash };

// The references a value makes to files of that kind, in key order, duplicates collapsed:
// "src=" references first; only when there are none, bare addresses with the extension.
std::vector<std::u16string> FindReferences(const std::u16string& value, ReferenceKind kind);

// One downloaded file (a row of the DownloadFile table).
struct DownloadFileRow {
  std::u16string DownloadUrl;  // absolute address, entities replaced, spaces as %20
  std::u16string PageUrl;      // the article
  std::u16string SaveUrl;      // local file path
  std::u16string ReplaceUrl;   // what now stands in the value for the reference
  int State = 0;               // 1 downloaded and recorded
  int Upload = 0;
  std::u16string LabelId;
};

// What DownloadReferences needs from its worker.
struct FileFetcher {
  // Downloads `url` into the local file `path` (its folder exists); true on success.
  std::function<bool(const std::u16string& url, const std::u16string& path)> Download;
  // Records a downloaded file (the worker's DownloadFile insert); empty when no file
  // database is open. True when the row was written.
  std::function<bool(const DownloadFileRow&)> Record;
};

// Downloads every referenced file of `kind` into baseFolder + subFolder and replaces each
// reference in the value by its relative path. Rows (with State) are appended to `rows`.
std::u16string DownloadReferences(const FileFetcher& fetcher, const std::u16string& value,
                                  const std::u16string& articleUrl, const std::u16string& labelId,
                                  ReferenceKind kind, const std::u16string& saveFileFormat,
                                  const std::u16string& baseFolder,
                                  const std::u16string& subFolder,
                                  std::vector<DownloadFileRow>& rows);

}  // namespace rz
