// Local web sites for tests, all on 127.0.0.1 with a free port chosen by the system.
//
//  HttpFixture    in-process HTTP or HTTPS server (throwaway self-signed certificate) serving a
//                 table of target -> reply: status, headers as given, body; optional delays and
//                 mid-body stalls; every request it sees is recorded. Built in:
//                   /echo  answers "METHOD TARGET\r\n", the request headers ("Name: value\r\n"),
//                          an empty line, then the request body (not for multipart bodies).
//                 Unknown targets answer 404.
//  RawHttpServer  plain HTTP server that records each request byte for byte (head and body as
//                 they came over the wire) and answers with a fixed raw response, by default
//                 200 with the raw request as body. For checking exactly what a client sends,
//                 multipart bodies included.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Sandbox.h"

namespace rztest {

struct HttpReply {
  int Status = 200;
  std::vector<std::pair<std::string, std::string>> Headers;  // sent as given, in order
  std::string Body;
  int DelayMs = 0;           // silence before anything is answered
  long StallAfterBytes = -1;  // with StallMs: send this many body bytes, then go silent
  int StallMs = 0;
};

// A page with a content type ("" = no Content-Type header at all).
HttpReply Page(const std::string& body, const std::string& contentType = "text/html");
// A redirect to the location (absolute or relative).
HttpReply Redirect(const std::string& location, int status = 302);
// gzip-compressed bytes (with gzip header and trailer).
std::string Gzip(const std::string& bytes);

struct SeenRequest {
  std::string Method;
  std::string Target;  // path and query as requested
  std::string Path;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  // First value of the header (name ignoring case), "" when absent.
  std::string Header(const std::string& name) const;
  size_t HeaderCount(const std::string& name) const;
};

class HttpFixture {
 public:
  enum class Scheme { Http, Https };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  explicit HttpFixture(Scheme scheme = Scheme::Http);
  ~HttpFixture();
  HttpFixture(const HttpFixture&) = delete;
  HttpFixture& operator=(const HttpFixture&) = delete;

  // target: a path ("/a") or a path with query ("/a?b=1"); a request matches its exact target
  // first, then its path.
  void Serve(const std::string& target, HttpReply reply);
  void Handle(const std::string& target, Handler handler);

  int Port() const { return port_; }
  std::string HostPort() const;                      // "127.0.0.1:<port>"
  std::string Url(const std::string& target = "/") const;  // scheme://127.0.0.1:<port><target>

  std::vector<SeenRequest> Requests() const;
  SeenRequest Last() const;  // empty when nothing came
  void ClearRequests();

 private:
  void Dispatch(const httplib::Request& req, httplib::Response& res);
  // Waits up to ms, less when the fixture is stopping; false when stopping.
  bool Wait(int ms);

  Scheme scheme_;
  TempDir certDir_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex lock_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
  std::vector<std::pair<std::string, HttpReply>> replies_;
  std::vector<std::pair<std::string, Handler>> handlers_;
  std::vector<SeenRequest> seen_;
};

class RawHttpServer {
 public:
  RawHttpServer();
  ~RawHttpServer();
  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const;
  std::string Url(const std::string& target = "/") const;
  // The whole response to send, e.g. "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n".
  // Empty = echo the raw request as the body of a 200.
  void SetReply(const std::string& rawResponse);

  std::vector<std::string> Requests() const;  // head + body, as received
  std::string Last() const;

 private:
  void Run();
  void Serve(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex lock_;
  std::string reply_;
  std::vector<std::string> requests_;
};

// Splits a raw request into its head (up to and with the empty line) and its body.
std::pair<std::string, std::string> SplitRawRequest(const std::string& raw);

}  // namespace rztest
