// The local UI server: HTTP for the page files, one WebSocket for the page bridge.
// Listens on loopback only unless told otherwise; every request passes the checks of
// platform/Security.h, and every refusal is logged with its check, reason and peer.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/PageHost.h"

struct mg_context;
struct mg_connection;

namespace rz {

struct UiServerOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 7796;             // 0: any free port
  int portTries = 20;          // when the port is taken, the next ones are tried
  std::vector<std::string> extraHostNames;  // names accepted in Host besides loopback
  std::u16string skinFolder;   // empty: from the theme file
  // Receives every log line of the server (refusals included); default: standard error.
  std::function<void(const std::string&)> log;
};

class CUiServer {
 public:
  explicit CUiServer(CPageHost& host);
  ~CUiServer();
  CUiServer(const CUiServer&) = delete;
  CUiServer& operator=(const CUiServer&) = delete;

  bool Start(const UiServerOptions& options, std::string& error);
  void Stop();

  int Port() const { return port_; }
  const std::string& Token() const { return token_; }
  // The address to open: http://127.0.0.1:<port>/?token=<token>
  std::string Address() const;

  // civetweb callbacks
  int HandleRequest(mg_connection* conn);
  int HandleWsConnect(const mg_connection* conn);
  void HandleWsReady(mg_connection* conn);
  int HandleWsData(mg_connection* conn, int flags, char* data, size_t length);
  void HandleWsClose(const mg_connection* conn);

 private:
  class Link;
  void Log(const std::string& line) const;
  // Host, Origin (required on a WebSocket) and token, in that order: 0, or the status of the
  // refusal, logged and, when `reply` is given, answered.
  int CheckRequest(const mg_connection* conn, bool webSocket, mg_connection* reply,
                   const std::string& peer);
  bool Refuse(mg_connection* conn, int status, const std::string& check,
              const std::string& reason, const std::string& peer);
  void ServeFile(mg_connection* conn, const std::string& path, bool headOnly);

  CPageHost& host_;
  UiServerOptions options_;
  mg_context* ctx_ = nullptr;
  int port_ = 0;
  std::string token_;
  std::string skinFolder_;
  std::mutex linksMutex_;
  std::map<const mg_connection*, std::shared_ptr<Link>> links_;
};

}  // namespace rz
