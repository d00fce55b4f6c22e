#include <cstdio>
#include <filesystem>
#include <memory>

#include "CurlSupport.h"
#include "net/Http.h"
#include "net/Transfer.h"

namespace pcutil {

using namespace netdetail;

namespace {

struct DownloadState {
  CURL* easy = nullptr;
  std::string path;
  FilePtr file;
  bool isHttp = true;  // ftp:// answers with FTP reply codes, which are no HTTP status
  bool createFailed = false;
  bool writeFailed = false;

  // The local file is created once a response is there, before its status is looked at,
  // so a refused download leaves the empty file behind.
  bool Create() {
    if (file) return true;
    file.reset(std::fopen(path.c_str(), "wb"));
    if (!file) createFailed = true;
    return !createFailed;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<DownloadState*>(self);
    long code = 0;
    curl_easy_getinfo(s->easy, CURLINFO_RESPONSE_CODE, &code);
    if (!s->Create() || (s->isHttp && code > 200)) return 0;
    const size_t n = size * count;
    if (std::fwrite(data, 1, n, s->file.get()) != n) {
      s->writeFailed = true;
      return 0;
    }
    return n;
  }
};

}  // namespace

int DownloadToFile(const std::u16string& address, const std::u16string& localPath) {
  DownloadState state;
  state.path = ToFsPath(localPath);
  std::error_code ec;
  std::filesystem::remove(state.path, ec);
  EasyPtr easy = NewEasy();
  if (!easy) return -1;
  CURL* h = easy.get();
  state.easy = h;
  state.isHttp = !(address.size() >= 4 && (address[0] | 0x20) == u'f' &&
                   (address[1] | 0x20) == u't' && (address[2] | 0x20) == u'p' && address[3] == u':');
  const std::string url = EscapeUrlPath(Utf16ToUtf8(address));
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  ApplyCommonOptions(h);
  if (state.isHttp) ShareConnections(h);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_USERAGENT, Utf16ToUtf8(kDefaultUserAgent).c_str());
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 16384L);
  SlistPtr headers;
  if (!SlistAppend(headers, "Accept: */*") || !SlistAppend(headers, "Pragma: no-cache"))
    return -1;
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DownloadState::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);
  const CURLcode rc = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  const bool answered = status > 0 || (rc == CURLE_OK);
  if (!answered) return -1;  // nothing reached the server: no file
  if (!state.Create()) return -1;
  if ((state.isHttp && status > 200) || rc != CURLE_OK || state.writeFailed) return -1;
  if (std::fflush(state.file.get()) != 0) return -1;
  return 1;
}

}  // namespace pcutil
