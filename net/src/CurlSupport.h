// Internal helpers shared by the HTTP session, the file download and the FTP transfer.
#pragma once

#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "foundation/Text.h"

namespace pcutil::netdetail {

// curl_global_init exactly once per process, before the first handle.
void EnsureCurlGlobal();

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
EasyPtr NewEasy();

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
// Appends one line; false when curl runs out of memory.
bool SlistAppend(SlistPtr& list, const std::string& line);

// The local file of a download or an upload.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Options every handle gets: the connect and stall limits, no signals, no verbose output.
void ApplyCommonOptions(CURL* h);

// HTTP handles: one connection cache for the whole process, so a session that ends leaves
// its kept-alive connection to the next session for the same server (a collector fetches
// thousands of pages from one site, each with a session of its own).
void ShareConnections(CURL* h);

// Text of a curl result plus curl's own detail, for LastError.
std::string CurlErrorText(CURLcode code, const char* detail);

// Percent-encodes what a URL path may not carry raw: controls, space, '"', '<', '>', '\',
// '^', '`', '{', '|', '}' and every byte >= 0x7F. '%' is kept, so encoded paths pass as they are.
std::string EscapeUrlPath(const std::string& path);

// Trims ASCII white space (space, tab, CR, LF) on both ends.
std::u16string TrimSpace(const std::u16string& text);
bool EqualsNoCase(const std::u16string& a, const std::u16string& b);

}  // namespace pcutil::netdetail
