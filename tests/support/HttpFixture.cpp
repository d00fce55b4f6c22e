#include "HttpFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace fs = std::filesystem;

namespace rztest {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// cpp-httplib files the connection's addresses among the request headers.
bool IsPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// A throwaway self-signed certificate for 127.0.0.1, written as PEM files into dir.
void MakeCertificate(const fs::path& dir, std::string& certPath, std::string& keyPath) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (!key || !cert) throw std::runtime_error("cannot make a test certificate");
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  certPath = (dir / "cert.pem").string();
  keyPath = (dir / "key.pem").string();
  FILE* f = std::fopen(certPath.c_str(), "wb");
  PEM_write_X509(f, cert);
  std::fclose(f);
  f = std::fopen(keyPath.c_str(), "wb");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  X509_free(cert);
  EVP_PKEY_free(key);
}

}  // namespace

HttpReply Page(const std::string& body, const std::string& contentType) {
  HttpReply r;
  r.Body = body;
  if (!contentType.empty()) r.Headers.push_back({"Content-Type", contentType});
  return r;
}

HttpReply Redirect(const std::string& location, int status) {
  HttpReply r;
  r.Status = status;
  r.Headers.push_back({"Location", location});
  r.Body = "moved";
  return r;
}

std::string Gzip(const std::string& bytes) {
  z_stream zs{};
  deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  char buf[16384];
  int rc;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = deflate(&zs, Z_FINISH);
    out.append(buf, sizeof buf - zs.avail_out);
  } while (rc == Z_OK);
  deflateEnd(&zs);
  return out;
}

std::string SeenRequest::Header(const std::string& name) const {
  for (const auto& [k, v] : Headers)
    if (SameName(k, name)) return v;
  return {};
}

size_t SeenRequest::HeaderCount(const std::string& name) const {
  size_t n = 0;
  for (const auto& h : Headers)
    if (SameName(h.first, name)) ++n;
  return n;
}

HttpFixture::HttpFixture(Scheme scheme) : scheme_(scheme) {
  if (scheme == Scheme::Https) {
    std::string cert, key;
    MakeCertificate(certDir_.Path(), cert, key);
    server_ = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (!server_->is_valid()) throw std::runtime_error("test web server cannot start");
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    Dispatch(req, res);
  };
  server_->Get(".*", dispatch);
  server_->Post(".*", httplib::Server::Handler(dispatch));
  server_->Put(".*", httplib::Server::Handler(dispatch));
  server_->Patch(".*", httplib::Server::Handler(dispatch));
  server_->Delete(".*", httplib::Server::Handler(dispatch));
  server_->Options(".*", dispatch);
  server_->set_keep_alive_timeout(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test web server cannot bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  for (int i = 0; i < 500 && !server_->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

HttpFixture::~HttpFixture() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
  }
  stopCv_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void HttpFixture::Serve(const std::string& target, HttpReply reply) {
  std::lock_guard<std::mutex> lock(lock_);
  replies_.insert(replies_.begin(), {target, std::move(reply)});
}

void HttpFixture::Handle(const std::string& target, Handler handler) {
  std::lock_guard<std::mutex> lock(lock_);
  handlers_.insert(handlers_.begin(), {target, std::move(handler)});
}

std::string HttpFixture::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string HttpFixture::Url(const std::string& target) const {
  return std::string(scheme_ == Scheme::Https ? "https://" : "http://") + HostPort() + target;
}

std::vector<SeenRequest> HttpFixture::Requests() const {
  std::lock_guard<std::mutex> lock(lock_);
  return seen_;
}

SeenRequest HttpFixture::Last() const {
  std::lock_guard<std::mutex> lock(lock_);
  return seen_.empty() ? SeenRequest{} : seen_.back();
}

void HttpFixture::ClearRequests() {
  std::lock_guard<std::mutex> lock(lock_);
  seen_.clear();
}

bool HttpFixture::Wait(int ms) {
  std::unique_lock<std::mutex> lock(lock_);
  return !stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void HttpFixture::Dispatch(const httplib::Request& req, httplib::Response& res) {
  SeenRequest seen;
  seen.Method = req.method;
  seen.Target = req.target;
  seen.Path = req.path;
  seen.Body = req.body;
  for (const auto& [k, v] : req.headers)
    if (!IsPseudoHeader(k)) seen.Headers.push_back({k, v});
  Handler handler;
  HttpReply reply;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    seen_.push_back(seen);
    for (const std::string& key : {req.target, req.path}) {
      for (const auto& [t, h] : handlers_)
        if (t == key) {
          handler = h;
          break;
        }
      if (handler) break;
      for (const auto& [t, r] : replies_)
        if (t == key) {
          reply = r;
          found = true;
          break;
        }
      if (found) break;
    }
  }
  if (handler) {
    handler(req, res);
    return;
  }
  if (!found && req.path == "/echo") {
    std::string text = req.method + " " + req.target + "\r\n";
    for (const auto& [k, v] : seen.Headers) text += k + ": " + v + "\r\n";
    text += "\r\n" + req.body;
    reply = Page(text, "text/plain");
    found = true;
  }
  if (!found) reply = Page("not found", "text/plain"), reply.Status = 404;
  if (reply.DelayMs > 0 && !Wait(reply.DelayMs)) return;
  res.status = reply.Status;
  std::string contentType;
  for (const auto& [k, v] : reply.Headers) {
    if (SameName(k, "Content-Type"))
      contentType = v;
    else
      res.headers.emplace(k, v);
  }
  if (reply.StallMs > 0 && reply.StallAfterBytes >= 0) {
    const std::string body = reply.Body;
    const size_t head = std::min(body.size(), static_cast<size_t>(reply.StallAfterBytes));
    const int stallMs = reply.StallMs;
    res.set_content_provider(
        body.size(), contentType,
        [this, body, head, stallMs](size_t offset, size_t, httplib::DataSink& sink) {
          if (offset < head) return sink.write(body.data(), head);
          if (!Wait(stallMs)) return false;
          return sink.write(body.data() + offset, body.size() - offset);
        });
    return;
  }
  if (!contentType.empty()) res.headers.emplace("Content-Type", contentType);
  res.body = reply.Body;
}

// ---------------------------------------------------------------------------------------

RawHttpServer::RawHttpServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("raw test server cannot listen");
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Run(); });
}

RawHttpServer::~RawHttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
}

std::string RawHttpServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string RawHttpServer::Url(const std::string& target) const {
  return "http://" + HostPort() + target;
}

void RawHttpServer::SetReply(const std::string& rawResponse) {
  std::lock_guard<std::mutex> lock(lock_);
  reply_ = rawResponse;
}

std::vector<std::string> RawHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(lock_);
  return requests_;
}

std::string RawHttpServer::Last() const {
  std::lock_guard<std::mutex> lock(lock_);
  return requests_.empty() ? std::string() : requests_.back();
}

void RawHttpServer::Run() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Serve(fd);
    ::close(fd);
  }
}

// One request per connection: read the head, then Content-Length bytes of body, answer, close.
void RawHttpServer::Serve(int fd) {
  std::string raw;
  size_t headEnd = std::string::npos;
  size_t want = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    if (headEnd != std::string::npos && raw.size() >= want) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[16384];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    raw.append(buf, static_cast<size_t>(n));
    if (headEnd == std::string::npos) {
      headEnd = raw.find("\r\n\r\n");
      if (headEnd == std::string::npos) continue;
      headEnd += 4;
      size_t length = 0;
      size_t pos = 0;
      while (pos < headEnd) {
        size_t eol = raw.find("\r\n", pos);
        const std::string line = raw.substr(pos, eol - pos);
        pos = eol + 2;
        if (line.size() > 15 && strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
          length = std::strtoul(line.c_str() + 15, nullptr, 10);
      }
      want = headEnd + length;
    }
  }
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(lock_);
    requests_.push_back(raw);
    reply = reply_;
  }
  if (reply.empty())
    reply = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
            std::to_string(raw.size()) + "\r\nConnection: close\r\n\r\n" + raw;
  size_t sent = 0;
  while (sent < reply.size()) {
    const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
}

std::pair<std::string, std::string> SplitRawRequest(const std::string& raw) {
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return {raw, {}};
  return {raw.substr(0, end + 4), raw.substr(end + 4)};
}

}  // namespace rztest
