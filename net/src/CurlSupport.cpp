#include "CurlSupport.h"

#include <mutex>

#include "net/Http.h"

namespace pcutil::netdetail {

void EnsureCurlGlobal() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {

// The share's data is guarded by curl's lock callbacks: one mutex per kind of shared data.
std::mutex g_shareLocks[CURL_LOCK_DATA_LAST];

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) { g_shareLocks[data].lock(); }
void UnlockShare(CURL*, curl_lock_data data, void*) { g_shareLocks[data].unlock(); }

// Lives as long as the process: handles may still be in use while static objects go away.
CURLSH* ConnectionShare() {
  static CURLSH* const share = [] {
    EnsureCurlGlobal();
    CURLSH* s = curl_share_init();
    if (!s) return s;
    curl_share_setopt(s, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(s, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    return s;
  }();
  return share;
}

}  // namespace

void ShareConnections(CURL* h) {
  if (CURLSH* share = ConnectionShare()) curl_easy_setopt(h, CURLOPT_SHARE, share);
}

EasyPtr NewEasy() {
  EnsureCurlGlobal();
  return EasyPtr(curl_easy_init());
}

bool SlistAppend(SlistPtr& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) return false;
  list.release();
  list.reset(grown);
  return true;
}

void ApplyCommonOptions(CURL* h) {
  const NetTimeouts t = GetNetTimeouts();
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, t.ConnectSeconds);
  // Less than one byte per second for StallSeconds ends the transfer.
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, t.StallSeconds);
}

std::string CurlErrorText(CURLcode code, const char* detail) {
  std::string text = curl_easy_strerror(code);
  if (detail && *detail) text += std::string(": ") + detail;
  return text;
}

std::string EscapeUrlPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (unsigned char c : path) {
    const bool raw = c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' &&
                     c != '^' && c != '`' && c != '{' && c != '|' && c != '}';
    if (raw) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::u16string TrimSpace(const std::u16string& text) {
  auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  size_t b = 0, e = text.size();
  while (b < e && space(text[b])) ++b;
  while (e > b && space(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool EqualsNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
    if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace pcutil::netdetail
