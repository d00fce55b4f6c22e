#include "platform/UiServer.h"

#include <civetweb.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "foundation/Text.h"
#include "platform/Security.h"
#include "platform/Theme.h"

namespace rz {

namespace fs = std::filesystem;

// One WebSocket connection of a shell.
class CUiServer::Link : public CShellLink {
 public:
  Link(mg_connection* conn, std::string peer) : conn_(conn), peer_(std::move(peer)) {}
  bool SendText(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!conn_) return false;
    return mg_websocket_write(conn_, MG_WEBSOCKET_OPCODE_TEXT, text.data(), text.size()) > 0;
  }
  std::string Peer() const override { return peer_; }
  void Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    conn_ = nullptr;
  }
  std::string partial;  // a message arriving in fragments

 private:
  std::mutex mutex_;
  mg_connection* conn_;
  std::string peer_;
};

namespace {

CUiServer* ServerOf(const mg_connection* conn) {
  return static_cast<CUiServer*>(mg_get_request_info(conn)->user_data);
}
int OnRequest(mg_connection* conn, void*) { return ServerOf(conn)->HandleRequest(conn); }
int OnWsConnect(const mg_connection* conn, void*) { return ServerOf(conn)->HandleWsConnect(conn); }
void OnWsReady(mg_connection* conn, void*) { ServerOf(conn)->HandleWsReady(conn); }
int OnWsData(mg_connection* conn, int flags, char* data, size_t length, void*) {
  return ServerOf(conn)->HandleWsData(conn, flags, data, length);
}
void OnWsClose(const mg_connection* conn, void*) { ServerOf(conn)->HandleWsClose(conn); }

std::string Header(const mg_connection* conn, const char* name, bool* present = nullptr) {
  const char* value = mg_get_header(conn, name);
  if (present) *present = value != nullptr;
  return value ? value : "";
}

std::string PeerOf(const mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  return std::string(ri->remote_addr) + ":" + std::to_string(ri->remote_port);
}

const char* ContentType(const std::string& path) {
  static const std::map<std::string, const char*> types = {
      {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".svg", "image/svg+xml"}, {".png", "image/png"},
      {".gif", "image/gif"}, {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"},
      {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"},
      {".xml", "text/xml; charset=utf-8"}};
  std::string ext = fs::path(path).extension().string();
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto it = types.find(ext);
  return it == types.end() ? "application/octet-stream" : it->second;
}

void SendPlain(mg_connection* conn, int status, const char* statusText, const std::string& body,
               const std::string& extraHeaders = "") {
  mg_printf(conn,
            "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: %zu\r\n%s%sConnection: close\r\n\r\n%s",
            status, statusText, body.size(), SecurityHeaders(), extraHeaders.c_str(),
            body.c_str());
}

}  // namespace

CUiServer::CUiServer(CPageHost& host) : host_(host) {}

CUiServer::~CUiServer() { Stop(); }

void CUiServer::Log(const std::string& line) const {
  if (options_.log) options_.log(line);
  else std::cerr << line << std::endl;
}

bool CUiServer::Start(const UiServerOptions& options, std::string& error) {
  Stop();
  options_ = options;
  token_ = MakeAccessToken();
  if (token_.empty()) {
    error = "no random source for the access token";
    return false;
  }
  std::u16string skin = options.skinFolder.empty() ? SkinFolder() : options.skinFolder;
  skinFolder_ = pcutil::ToFsPath(skin);
  mg_init_library(0);
  int tries = options.port == 0 ? 1 : std::max(1, options.portTries);
  for (int i = 0; i < tries && !ctx_; ++i) {
    int port = options.port == 0 ? 0 : options.port + i;
    std::string listen = options.bindAddress + ":" + std::to_string(port);
    const char* config[] = {"listening_ports", listen.c_str(),
                            "num_threads", "8",
                            "enable_keep_alive", "yes",
                            "websocket_timeout_ms", "15000",
                            "enable_websocket_ping_pong", "yes",
                            "request_timeout_ms", "15000",
                            nullptr};
    mg_callbacks callbacks;
    std::memset(&callbacks, 0, sizeof callbacks);
    ctx_ = mg_start(&callbacks, this, config);
  }
  if (!ctx_) {
    error = "cannot listen on " + options.bindAddress + " port " + std::to_string(options.port);
    return false;
  }
  mg_server_port ports[4];
  int n = mg_get_server_ports(ctx_, 4, ports);
  port_ = n > 0 ? ports[0].port : options.port;
  mg_set_websocket_handler(ctx_, "/bridge", OnWsConnect, OnWsReady, OnWsData, OnWsClose, nullptr);
  mg_set_request_handler(ctx_, "/", OnRequest, nullptr);
  Log("ui: serving " + skinFolder_ + " on " + options.bindAddress + ":" + std::to_string(port_));
  return true;
}

void CUiServer::Stop() {
  if (!ctx_) return;
  mg_stop(ctx_);  // closes the WebSockets (their close handlers run) and joins the threads
  ctx_ = nullptr;
  std::lock_guard<std::mutex> lock(linksMutex_);
  for (auto& [conn, link] : links_) {
    link->Detach();
    host_.OnShellClosed(link);
  }
  links_.clear();
}

std::string CUiServer::Address() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_;
}

bool CUiServer::Refuse(mg_connection* conn, int status, const std::string& check,
                       const std::string& reason, const std::string& peer) {
  Log(FormatRefusal(check, reason, peer));
  static const std::map<int, const char*> texts = {
      {400, "Bad Request"}, {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
      {405, "Method Not Allowed"}};
  if (conn) SendPlain(conn, status, texts.at(status), std::string(texts.at(status)) + "\n");
  return true;
}

int CUiServer::CheckRequest(const mg_connection* conn, bool webSocket, mg_connection* reply,
                            const std::string& peer) {
  const mg_request_info* ri = mg_get_request_info(conn);
  bool hasHost = false, hasOrigin = false;
  const std::string host = Header(conn, "Host", &hasHost);
  const std::string origin = Header(conn, "Origin", &hasOrigin);
  std::string reason = ValidateHostHeader(hasHost, host, port_, options_.extraHostNames);
  if (!reason.empty()) return Refuse(reply, 400, "ValidateHostHeader", reason, peer), 400;
  // Browsers always send Origin on a WebSocket; a missing or foreign one is a cross-site
  // attempt to drive the UI.
  reason = ValidateOrigin(hasOrigin, origin, host, webSocket);
  if (!reason.empty()) return Refuse(reply, 403, "ValidateOrigin", reason, peer), 403;
  reason = ValidateToken(token_, TokenCookieName(port_), Header(conn, "Cookie"),
                         ri->query_string ? ri->query_string : "");
  if (!reason.empty()) return Refuse(reply, 401, "ValidateToken", reason, peer), 401;
  return 0;
}

int CUiServer::HandleRequest(mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  const std::string peer = PeerOf(conn);
  if (const int refused = CheckRequest(conn, false, conn, peer)) return refused;

  const std::string method = ri->request_method ? ri->request_method : "";
  // The decoded path before any clean-up: traversal must be seen to be refused.
  const std::string path = ri->local_uri_raw ? ri->local_uri_raw : "";
  if (method != "GET" && method != "HEAD")
    return Refuse(conn, 405, "ValidateMethod", "method " + method + " not served", peer), 405;

  if (path == "/") {
    // The entry point: the token moves into a cookie so page addresses carry none.
    std::string headers = "Set-Cookie: " + TokenCookieName(port_) + "=" + token_ +
                          "; HttpOnly; SameSite=Strict; Path=/\r\nLocation: /Html/Shell.html\r\n";
    mg_printf(conn,
              "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n%s%sConnection: close\r\n\r\n",
              SecurityHeaders(), headers.c_str());
    return 302;
  }
  std::string folder, rest;
  for (const char* prefix : {"/Html/", "/TabBar/"}) {
    if (path.rfind(prefix, 0) == 0) {
      folder = std::string(prefix).substr(1);
      rest = path.substr(std::strlen(prefix));
    }
  }
  if (folder.empty()) {
    SendPlain(conn, 404, "Not Found", "Not Found\n");
    return 404;
  }
  fs::path file;
  const std::string reason = ResolvePagePath(fs::u8path(skinFolder_) / folder, rest, file);
  if (!reason.empty()) return Refuse(conn, 404, "ResolvePagePath", reason, peer), 404;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    SendPlain(conn, 404, "Not Found", "Not Found\n");
    return 404;
  }
  ServeFile(conn, file.string(), method == "HEAD");
  return 200;
}

void CUiServer::ServeFile(mg_connection* conn, const std::string& path, bool headOnly) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string body = buffer.str();
  mg_printf(conn, "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n%s\r\n",
            ContentType(path), body.size(), SecurityHeaders());
  if (!headOnly) mg_write(conn, body.data(), body.size());
}

int CUiServer::HandleWsConnect(const mg_connection* conn) {
  return CheckRequest(conn, true, nullptr, PeerOf(conn)) == 0 ? 0 : 1;
}

void CUiServer::HandleWsReady(mg_connection* conn) {
  auto link = std::make_shared<Link>(conn, PeerOf(conn));
  {
    std::lock_guard<std::mutex> lock(linksMutex_);
    links_[conn] = link;
  }
  Log("ui: shell connected from " + link->Peer());
  host_.OnShellConnected(link);
}

int CUiServer::HandleWsData(mg_connection* conn, int flags, char* data, size_t length) {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> lock(linksMutex_);
    auto it = links_.find(conn);
    if (it != links_.end()) link = it->second;
  }
  if (!link) return 0;
  int opcode = flags & 0x0f;
  bool fin = (flags & 0x80) != 0;
  if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
  if (opcode == MG_WEBSOCKET_OPCODE_TEXT || opcode == MG_WEBSOCKET_OPCODE_CONTINUATION) {
    link->partial.append(data, length);
    if (fin) {
      std::string text;
      text.swap(link->partial);
      host_.OnShellMessage(link, text);
    }
  }
  return 1;
}

void CUiServer::HandleWsClose(const mg_connection* conn) {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> lock(linksMutex_);
    auto it = links_.find(conn);
    if (it == links_.end()) return;
    link = it->second;
    links_.erase(it);
  }
  link->Detach();
  Log("ui: shell disconnected from " + link->Peer());
  host_.OnShellClosed(link);
}

}  // namespace rz
