#include "platform/Security.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <system_error>

namespace rz {

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
}  // namespace

std::string ValidateHostHeader(bool hasHost, const std::string& host, int port,
                               const std::vector<std::string>& extraNames) {
  if (!hasHost || host.empty()) return "no Host header";
  std::string h = Lower(host);
  std::string name = h, portText;
  if (!h.empty() && h[0] == '[') {
    size_t close = h.find(']');
    if (close == std::string::npos) return "malformed Host '" + host + "'";
    name = h.substr(0, close + 1);
    std::string rest = h.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return "malformed Host '" + host + "'";
      portText = rest.substr(1);
    }
  } else {
    size_t colon = h.rfind(':');
    if (colon != std::string::npos) {
      name = h.substr(0, colon);
      portText = h.substr(colon + 1);
    }
  }
  bool known = name == "127.0.0.1" || name == "localhost" || name == "[::1]";
  for (const auto& extra : extraNames) known = known || name == Lower(extra);
  if (!known) return "Host '" + host + "' is not a loopback name";
  int given = 80;
  if (!portText.empty()) {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), ::isdigit))
      return "malformed Host '" + host + "'";
    given = std::stoi(portText);
  }
  if (given != port) return "Host '" + host + "' names another port";
  return {};
}

std::string ValidateOrigin(bool hasOrigin, const std::string& origin, const std::string& host,
                           bool originRequired) {
  if (!hasOrigin) return originRequired ? "no Origin header" : std::string();
  if (Lower(origin) != "http://" + Lower(host))
    return "Origin '" + origin + "' is not this server";
  return {};
}

std::string CookieValue(const std::string& cookieHeader, const std::string& name) {
  size_t pos = 0;
  while (pos < cookieHeader.size()) {
    size_t end = cookieHeader.find(';', pos);
    if (end == std::string::npos) end = cookieHeader.size();
    std::string part = cookieHeader.substr(pos, end - pos);
    size_t b = part.find_first_not_of(' ');
    if (b != std::string::npos) part = part.substr(b);
    if (part.rfind(name + "=", 0) == 0) return part.substr(name.size() + 1);
    pos = end + 1;
  }
  return {};
}

std::string QueryValue(const std::string& query, const std::string& name) {
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t end = query.find('&', pos);
    if (end == std::string::npos) end = query.size();
    std::string part = query.substr(pos, end - pos);
    if (part.rfind(name + "=", 0) == 0) return part.substr(name.size() + 1);
    pos = end + 1;
  }
  return {};
}

std::string TokenCookieName(int port) { return "rz_token_" + std::to_string(port); }

std::string ValidateToken(const std::string& expected, const std::string& cookieName,
                          const std::string& cookieHeader, const std::string& queryString) {
  if (expected.empty()) return "no token issued";
  for (const std::string& given :
       {CookieValue(cookieHeader, cookieName), QueryValue(queryString, "token")}) {
    // Constant-time comparison: the token must not leak through response timing.
    if (given.size() == expected.size() &&
        CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0)
      return {};
  }
  if (CookieValue(cookieHeader, cookieName).empty() && QueryValue(queryString, "token").empty())
    return "no access token";
  return "wrong access token";
}

std::string ResolvePagePath(const std::filesystem::path& root, const std::string& relPath,
                            std::filesystem::path& out) {
  namespace fs = std::filesystem;
  if (relPath.empty()) return "empty path";
  for (unsigned char c : relPath)
    if (c < 0x20 || c == 0x7f) return "control character in path";
  if (relPath.find('\\') != std::string::npos) return "backslash in path";
  if (relPath[0] == '/') return "absolute path";
  size_t pos = 0;
  while (pos <= relPath.size()) {
    size_t end = relPath.find('/', pos);
    if (end == std::string::npos) end = relPath.size();
    std::string seg = relPath.substr(pos, end - pos);
    if (seg == "..") return "'..' in path";
    if (seg.empty() && end != relPath.size()) return "empty segment in path";
    pos = end + 1;
  }
  std::error_code ec;
  fs::path base = fs::canonical(root, ec);
  if (ec) return "page folder missing";
  fs::path target = fs::weakly_canonical(base / fs::u8path(relPath), ec);
  if (ec) return "path cannot be resolved";
  auto rel = target.lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") return "path leaves its folder";
  out = target;
  return {};
}

std::string FormatRefusal(const std::string& check, const std::string& reason,
                          const std::string& peer) {
  return "ui: refused " + peer + ": " + check + ": " + reason;
}

std::string MakeAccessToken() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    // Without a random source there can be no secret; refuse everything rather than guess.
    return {};
  }
  static const char* digits = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

const char* SecurityHeaders() {
  return "X-Frame-Options: SAMEORIGIN\r\n"
         "Content-Security-Policy: frame-ancestors 'self'\r\n"
         "X-Content-Type-Options: nosniff\r\n"
         "Referrer-Policy: same-origin\r\n"
         "Cache-Control: no-store\r\n";
}

}  // namespace rz
