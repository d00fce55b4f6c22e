#include <mutex>

#include "net/Http.h"

namespace pcutil {

const char16_t* const kDefaultUserAgent =
    u"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Trident/4.0; QQDownload 665; .NET CLR "
    u"2.0.50727; .NET CLR 3.0.04506.30; .NET CLR 3.0.04506.648; .NET CLR 3.5.21022; InfoPath.2)";

namespace {
std::mutex g_lock;
std::u16string g_userAgent;
NetTimeouts g_timeouts;
}  // namespace

void SetGlobalUserAgent(const std::u16string& userAgent) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_userAgent = userAgent;
}

std::u16string GlobalUserAgent() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_userAgent;
}

NetTimeouts GetNetTimeouts() {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_timeouts;
}

void SetNetTimeouts(const NetTimeouts& timeouts) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_timeouts = timeouts;
}

}  // namespace pcutil
