// Downloading pages for the collection steps: one list page of the URL step, and the fetch
// functions the content step plugs into CollectPage and DownloadReferences.
#pragma once

#include <functional>
#include <string>

#include "collect/Content.h"
#include "collect/PostProcess.h"
#include "collect/WorkData.h"
#include "store/JobRule.h"

namespace rz {

// One list page: downloaded with the global user agent (GET, closed after); `charset`
// "自动识别" is replaced by the charset detected on this page and kept for the run; then the
// links of the page (ListPageLinks). 1 when the page was read: out.Links, out.Text = the
// address, out.ResultCode 1. 0 when the download failed (no answer, status above 300):
// out.ResultCode 0, out.Text = the address. A rule pattern that does not compile or runs away
// also gives 0, with a red log line naming it in `problem` (when given).
int ParseListPage(const ListRule& rule, std::u16string& charset, const std::u16string& address,
                  ToData& out, std::u16string* problem = nullptr);

// Page downloads for CollectPage through pcutil::FetchPage.
PageFetch NetPageFetch();

// File downloads through pcutil::DownloadToFile; `record` writes the DownloadFile row (empty
// when the worker has no file database).
FileFetcher NetFileFetcher(std::function<bool(const DownloadFileRow&)> record = nullptr);

}  // namespace rz
