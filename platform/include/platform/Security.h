// The checks every request to the local UI server passes. Each returns the reason of a
// refusal, or an empty text when the request may go on; the server logs every refusal with
// the check's name, its reason and the peer.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace rz {

// Host must be a loopback name (127.0.0.1, localhost, [::1]) or one of extraNames, with our
// port (a missing port is accepted only for port 80). Guards against DNS rebinding: a foreign
// site whose name resolves to 127.0.0.1 still sends its own name.
std::string ValidateHostHeader(bool hasHost, const std::string& host, int port,
                               const std::vector<std::string>& extraNames = {});

// A request carrying an Origin must come from our own origin ("http://" + Host); the WebSocket
// (originRequired) must carry one. There is no CORS: anything else is cross-site.
std::string ValidateOrigin(bool hasOrigin, const std::string& origin, const std::string& host,
                           bool originRequired);

// The access token issued at start, from the cookie named cookieName or the query "token=".
// Makes other local users and cross-site requests unable to drive the UI blind.
std::string ValidateToken(const std::string& expected, const std::string& cookieName,
                          const std::string& cookieHeader, const std::string& queryString);

// "rz_token_<port>": cookies are shared by every port of a host, so two instances on
// different ports must not overwrite each other's token.
std::string TokenCookieName(int port);

// Maps a decoded URL path below root. Refuses "..", backslashes, NUL and control characters,
// empty segments at the start ("//x"), and anything whose real location (symlinks resolved)
// leaves root. On success out holds the file to serve.
std::string ResolvePagePath(const std::filesystem::path& root, const std::string& relPath,
                            std::filesystem::path& out);

// "ui: refused <peer>: <check>: <reason>"
std::string FormatRefusal(const std::string& check, const std::string& reason,
                          const std::string& peer);

// 32 random hexadecimal characters.
std::string MakeAccessToken();

// Text value of a cookie in a Cookie header; empty when missing.
std::string CookieValue(const std::string& cookieHeader, const std::string& name);
// Raw value of a query parameter; empty when missing.
std::string QueryValue(const std::string& query, const std::string& name);

// Headers sent with every response (each line ends with CR LF).
const char* SecurityHeaders();

}  // namespace rz
