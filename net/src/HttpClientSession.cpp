#include <chrono>
#include <cstring>
#include <strings.h>

#include "CurlSupport.h"
#include "net/Http.h"

namespace pcutil {

using namespace netdetail;

namespace {

constexpr size_t kMaxHeaderText = 10239;
constexpr size_t kChunkRead = 131072;
constexpr long kMaxRedirects = 20;

// One request header as it will go on the wire.
struct HeaderLine {
  std::string Name;
  std::string Value;
};

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string TrimBytes(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// Adds header text (one or more "Name: value" lines) to the request's set by the mode.
// false when a line is malformed or refused by AddIfNew.
bool ApplyHeader(std::vector<HeaderLine>& set, const std::u16string& text, HeaderMode mode) {
  const std::string bytes = Utf16ToUtf8(text);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (TrimBytes(line).empty()) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    HeaderLine h{TrimBytes(line.substr(0, colon)), TrimBytes(line.substr(colon + 1))};
    if (h.Name.empty()) return false;
    auto found = set.end();
    for (auto it = set.begin(); it != set.end(); ++it)
      if (SameName(it->Name, h.Name)) {
        found = it;
        break;
      }
    switch (mode) {
      case HeaderMode::Add:
        set.push_back(h);
        break;
      case HeaderMode::AddIfNew:
        if (found != set.end()) return false;
        set.push_back(h);
        break;
      case HeaderMode::Replace:
        if (h.Value.empty()) {
          std::erase_if(set, [&](const HeaderLine& x) { return SameName(x.Name, h.Name); });
        } else if (found != set.end()) {
          found->Value = h.Value;
        } else {
          set.push_back(h);
        }
        break;
      case HeaderMode::CoalesceComma:
      case HeaderMode::CoalesceSemicolon:
        if (found != set.end())
          found->Value += (mode == HeaderMode::CoalesceComma ? ", " : "; ") + h.Value;
        else
          set.push_back(h);
        break;
    }
  }
  return true;
}

int ParsePortText(const std::u16string& text) {
  long v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    v = v * 10 + (c - u'0');
    if (v > 65535) return -1;
  }
  return static_cast<int>(v);
}

}  // namespace

bool ParseHttpAddress(const std::u16string& address, HttpAddress& out) {
  out = HttpAddress{};
  std::u16string rest;
  const size_t mark = address.find(u":/");
  if (mark == std::u16string::npos) {
    out.Scheme = u"http";
    rest = address;
  } else {
    out.Scheme = address.substr(0, mark);
    rest = mark + 3 <= address.size() ? address.substr(mark + 3) : std::u16string();
  }
  const size_t slash = rest.find(u'/');
  std::u16string host = slash == std::u16string::npos ? rest : rest.substr(0, slash);
  out.Path = slash == std::u16string::npos ? std::u16string() : rest.substr(slash);
  out.IsHttps = EqualsNoCase(out.Scheme, u"https");
  const int defaultPort = out.IsHttps ? 443 : 80;
  const size_t colon = host.find(u':');
  if (colon != std::u16string::npos) {
    out.Port = ParsePortText(host.substr(colon + 1));
    host.resize(colon);
    out.Host = host;
    if (out.Port < 0) return false;
    if (out.Port == 0) out.Port = defaultPort;  // no usable number: the scheme's port
  } else {
    out.Port = defaultPort;
  }
  out.Host = host;
  return out.IsHttps || EqualsNoCase(out.Scheme, u"http");
}

// The curl handle stands for the session and connection handles (it keeps the connection
// alive between requests); the request is the option set put on it by OpenRequest.
struct CHttpClientSession::Handles {
  EasyPtr easy;
  SlistPtr headerList;
  Bytes postBody;
  char errorText[CURL_ERROR_SIZE] = {};
  // What the last exchange received.
  Bytes headerText;
  Bytes setCookies;  // Set-Cookie lines of every response of the chain, redirects included
  CAutoBuffer received;
  long status = 0;
  CURLcode result = CURLE_OK;

  void ResetExchange() {
    headerText.clear();
    setCookies.clear();
    received.Clear();
    status = 0;
    result = CURLE_OK;
    errorText[0] = 0;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* h = static_cast<Handles*>(self);
    const size_t n = size * count;
    // Each response of a redirect chain starts with its status line; keep only the last.
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) h->headerText.clear();
    if (n > 11 && strncasecmp(data, "set-cookie:", 11) == 0 &&
        h->setCookies.size() + n <= kMaxHeaderText * 4)
      h->setCookies.append(data, n);
    if (h->headerText.size() < kMaxHeaderText)
      h->headerText.append(data, std::min(n, kMaxHeaderText - h->headerText.size()));
    return n;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* h = static_cast<Handles*>(self);
    long code = 0;
    curl_easy_getinfo(h->easy.get(), CURLINFO_RESPONSE_CODE, &code);
    // A failing status is not worth its body.
    if (code > 300) return 0;
    h->received.Append(data, size * count);
    return size * count;
  }
};

CHttpClientSession::CHttpClientSession()
    : UserAgent(kDefaultUserAgent),
      ResponseHeaders(std::make_shared<CHttpResponseHeaders>()),
      handles_(std::make_unique<Handles>()) {
  body_.reserve(102400);
}

CHttpClientSession::~CHttpClientSession() { Close(); }

void CHttpClientSession::ClearFields() { Fields.clear(); }

void CHttpClientSession::AddField(const std::u16string& name, const std::u16string& value) {
  Fields.push_back({Utf16ToUtf8(name), Utf16ToUtf8(value), 1});
}

void CHttpClientSession::AddField(const std::u16string& name, long long value) {
  Fields.push_back({Utf16ToUtf8(name), std::to_string(value), 1});
}

void CHttpClientSession::AddFile(const std::u16string& fieldName, const std::u16string& fileName,
                                 const std::u16string& contentType, const void* data,
                                 size_t length) {
  FilePart part{fieldName, fileName, contentType, Bytes(), length};
  if (data && length) part.Data.assign(static_cast<const char*>(data), length);
  part.Length = part.Data.size();
  Files.push_back(std::move(part));
}

void CHttpClientSession::AddRaw(const Bytes& bytes) {
  // The name of a raw part plays no part in any body; a tick count tells parts apart.
  const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  Fields.push_back({std::to_string(tick), bytes, 2});
}

void CHttpClientSession::AddRaw(const std::u16string& text) { AddRaw(Utf16ToUtf8(text)); }

void CHttpClientSession::AddHeader(const std::u16string& text, HeaderMode mode) {
  std::u16string line = text;
  if (line.size() < 2 || line.compare(line.size() - 2, 2, u"\r\n") != 0) line += u"\r\n";
  Headers.push_back({line, mode});
}

void CHttpClientSession::ClearHeaders() { Headers.clear(); }

void CHttpClientSession::AddRefererHeader(const std::u16string& value) {
  if (!value.empty()) AddHeader(u"Referer: " + value, HeaderMode::AddIfNew);
}

void CHttpClientSession::AddCookieHeader(const std::u16string& value) {
  if (!value.empty()) AddHeader(u"Cookie: " + value, HeaderMode::AddIfNew);
}

void CHttpClientSession::SetContentType(const std::u16string& type) {
  ContentTypeHeader = u"Content-Type: " + type + u"\r\n";
}

void CHttpClientSession::UseGlobalUserAgent() {
  const std::u16string ua = GlobalUserAgent();
  if (!ua.empty()) UserAgent = ua;
}

std::u16string CHttpClientSession::BodyAsUtf8() const { return Utf8ToUtf16Lenient(body_); }

void CHttpClientSession::CloseRequest() {
  if (handles_->easy) curl_easy_setopt(handles_->easy.get(), CURLOPT_HTTPHEADER, nullptr);
  handles_->headerList.reset();
}

void CHttpClientSession::Close() {
  CloseRequest();
  handles_->easy.reset();
}

int CHttpClientSession::Connect() {
  if (!handles_->easy) handles_->easy = NewEasy();
  if (!handles_->easy) {
    LastError = "cannot create a transfer handle";
    return 0;
  }
  return 1;
}

int CHttpClientSession::Request(const std::u16string& address, int method, bool close) {
  int ok = 0;
  try {
    body_.clear();
    headerText_.clear();
    setCookieText_.clear();
    LastError.clear();
    HttpAddress parsed;
    const bool known = ParseHttpAddress(address, parsed);
    IsHttps = parsed.IsHttps;
    if (!known) {
      LastError = "unsupported address scheme";
    } else {
      address_ = parsed;
      if (Connect() && BeforeSend()) {
        int sent = 0;
        if (method == kMethodFormPost)
          sent = SendFormPost(parsed.Path);
        else if (method == kMethodMultipartPost)
          sent = SendMultipartPost(parsed.Path);
        else
          sent = SendGet(parsed.Path);
        ok = sent && ReceiveResponse() ? 1 : 0;
      }
    }
  } catch (const std::exception& e) {
    LastError = e.what();
    ok = 0;
  } catch (...) {
    LastError = "unexpected failure";
    ok = 0;
  }
  if (close) Close();
  return ok;
}

int CHttpClientSession::OpenRequest(bool post, const std::u16string& path,
                                    const std::u16string& acceptTypes) {
  if (!Connect()) return 0;
  CloseRequest();
  CURL* h = handles_->easy.get();
  // A reset keeps the live connection and drops the previous request's options.
  curl_easy_reset(h);
  std::string url = Utf16ToUtf8(address_.IsHttps ? u"https://" : u"http://");
  url += Utf16ToUtf8(address_.Host) + ":" + std::to_string(address_.Port);
  url += path.empty() ? std::string("/") : EscapeUrlPath(Utf16ToUtf8(path));
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  ApplyCommonOptions(h);
  ShareConnections(h);  // after the reset, which drops the share
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, handles_->errorText);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(h, CURLOPT_USERAGENT, Utf16ToUtf8(UserAgent).c_str());
  if (!Referer.empty()) curl_easy_setopt(h, CURLOPT_REFERER, Utf16ToUtf8(Referer).c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Bodies are inflated by the session itself, after the status check.
  curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(h, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
  // The collector must work on sites with broken certificates.
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYHOST, 0L);
  switch (Access) {
    case AccessType::Direct:
      curl_easy_setopt(h, CURLOPT_PROXY, "");  // also ignores proxy variables
      break;
    case AccessType::Preconfigured:
      break;  // the environment's proxy variables
    case AccessType::Proxy:
      curl_easy_setopt(h, CURLOPT_PROXY, Utf16ToUtf8(ProxyName).c_str());
      if (!ProxyUser.empty())
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, Utf16ToUtf8(ProxyUser).c_str());
      if (!ProxyPassword.empty())
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, Utf16ToUtf8(ProxyPassword).c_str());
      curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
      break;
  }
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Handles::OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, handles_.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Handles::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, handles_.get());
  if (post)
    curl_easy_setopt(h, CURLOPT_POST, 1L);
  else
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  (void)acceptTypes;  // "*/*" always; the Accept header carries it
  return 1;
}

int CHttpClientSession::Perform(const std::vector<PendingHeader>& headers, const Bytes* postBody,
                                int attempts) {
  std::vector<HeaderLine> set;
  for (const auto& hd : headers)
    if (!ApplyHeader(set, hd.Text, hd.Mode)) {
      LastError = "request header refused: " + Utf16ToUtf8(TrimSpace(hd.Text));
      return 0;
    }
  // libcurl writes Host (with the port when it is not the scheme's own) and Content-Length
  // itself, with the same values; passing ours would also send them unchanged to the target
  // of a redirect. An empty Expect keeps it from waiting for "100 Continue".
  SlistPtr list;
  bool hasExpect = false;
  for (const auto& line : set) {
    if (SameName(line.Name, "Host") || SameName(line.Name, "Content-Length")) continue;
    if (SameName(line.Name, "Expect")) hasExpect = true;
    const std::string text = line.Value.empty() ? line.Name + ";" : line.Name + ": " + line.Value;
    if (!SlistAppend(list, text)) return 0;
  }
  if (!hasExpect && !SlistAppend(list, "Expect:")) return 0;
  handles_->headerList = std::move(list);
  CURL* h = handles_->easy.get();
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, handles_->headerList.get());
  if (postBody) {
    handles_->postBody = *postBody;
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(handles_->postBody.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, handles_->postBody.data());
  }
  for (int attempt = 0; attempt < attempts; ++attempt) {
    handles_->ResetExchange();
    handles_->result = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &handles_->status);
    // A response arrived: the send is done, whatever happens to the body.
    if (handles_->status > 0) return 1;
    LastError = CurlErrorText(handles_->result, handles_->errorText);
  }
  return 0;
}

int CHttpClientSession::SendGet(const std::u16string& path) {
  if (!OpenRequest(false, path, u"*/*")) return 0;
  std::vector<PendingHeader> headers{{AcceptHeader, HeaderMode::Replace}};
  for (const auto& hd : Headers) headers.push_back({hd.Text, hd.Mode});
  headers.push_back({Format(u"Host: %s\r\n", HostHeaderValue()), HeaderMode::Replace});
  return Perform(headers, nullptr, 3);
}

int CHttpClientSession::SendFormPost(const std::u16string& path) {
  if (!OpenRequest(true, path, u"*/*")) return 0;
  Bytes body;
  BuildFormBody(body);
  std::vector<PendingHeader> headers{{AcceptHeader, HeaderMode::Replace}};
  for (const auto& hd : Headers) headers.push_back({hd.Text, hd.Mode});
  headers.push_back({Format(u"Host: %s\r\n", HostHeaderValue()), HeaderMode::Replace});
  headers.push_back(
      {Format(u"Content-Length: %u\r\n", static_cast<unsigned long>(body.size())),
       HeaderMode::AddIfNew});
  headers.push_back({ContentTypeHeader, HeaderMode::Replace});
  return Perform(headers, &body, 3);
}

int CHttpClientSession::SendMultipartPost(const std::u16string& path) {
  const std::u16string contentType =
      Format(u"Content-Type: multipart/form-data; boundary=%s\r\n", Boundary);
  Bytes body;
  BuildMultipartBody(body, Boundary);
  if (!OpenRequest(true, path, u"*/*")) return 0;
  std::vector<PendingHeader> headers{
      {AcceptHeader, HeaderMode::Replace},
      {contentType, HeaderMode::AddIfNew},
      {Format(u"Content-Length: %u\r\n", static_cast<unsigned long>(body.size())),
       HeaderMode::AddIfNew}};
  for (const auto& hd : Headers) headers.push_back({hd.Text, hd.Mode});
  headers.push_back({Format(u"Host: %s\r\n", HostHeaderValue()), HeaderMode::Replace});
  return Perform(headers, &body, 1);
}

std::u16string CHttpClientSession::HostHeaderValue() const {
  // The port belongs in Host when it is not the scheme's own, or redirects the site builds
  // from it point at the wrong port.
  const int defaultPort = address_.IsHttps ? 443 : 80;
  if (address_.Port == defaultPort) return address_.Host;
  return address_.Host + u":" + Utf8ToUtf16(std::to_string(address_.Port));
}

void CHttpClientSession::BuildFormBody(Bytes& out) const {
  for (size_t i = 0; i < Fields.size(); ++i) {
    const Field& f = Fields[i];
    if (f.Kind == 1) {
      out += f.Name + "=" + f.Value;
      if (i + 1 < Fields.size()) out += "&";
    } else if (f.Kind == 2) {
      out += f.Value;
    }
  }
}

void CHttpClientSession::BuildMultipartBody(Bytes& out, const std::u16string& boundary) const {
  const Bytes b = Utf16ToUtf8(boundary);
  for (const Field& f : Fields) {
    if (f.Kind != 1) continue;
    out += "--" + b + "\r\nContent-Disposition: form-data; name=\"" + f.Name + "\"\r\n\r\n" +
           f.Value + "\r\n";
  }
  for (const FilePart& p : Files) {
    out += Utf16ToUtf8(Format(
        u"--%s\r\nContent-Disposition: form-data; name=%s;filename=\"%s\"\r\nContent-Type: "
        u"%s\r\n\r\n",
        boundary, p.FieldName, p.FileName, p.ContentType));
    out.append(p.Data.data(), std::min(p.Length, p.Data.size()));
    out += "\r\n";
  }
  out += "--" + b + "\r\n";
}

size_t CHttpClientSession::ReadChunk(CAutoBuffer& out) {
  if (headerText_.empty()) headerText_ = handles_->headerText;
  return handles_->received.TakeFront(kChunkRead, out);
}

int CHttpClientSession::ReceiveResponse() {
  Handles& h = *handles_;
  StatusCode = static_cast<int32_t>(h.status);
  setCookieText_ = h.setCookies;
  if (StatusCode > 300) {
    LastError = "HTTP status " + std::to_string(StatusCode);
    return 0;
  }
  headerText_ = h.headerText;
  const CHttpResponseHeaders parsed = [&] {
    CHttpResponseHeaders p;
    p.Set(headerText_, "");
    return p;
  }();
  ResponseHeaders->Set(headerText_, parsed.Value("Content-Encoding"));
  if (h.result != CURLE_OK) {
    LastError = CurlErrorText(h.result, h.errorText);
    return 0;
  }
  // The whole response is taken over at once (reading it off in pieces moved the rest of
  // the page down after every piece).
  Bytes raw = h.received.Release();
  h.received.Clear();
  if (ResponseHeaders->ContentEncoding() == "gzip")
    body_ = GunzipBody(raw);
  else
    body_ = std::move(raw);
  return 1;
}

int FetchPage(const std::u16string& address, std::u16string& text, const std::u16string& charset) {
  CHttpClientSession session;
  session.UseGlobalUserAgent();
  if (!session.Request(address, kMethodGet, true)) return 0;
  std::u16string cs = charset;
  if (cs == u"自动识别") cs = session.DetectCharset();
  text = session.DecodeBody(cs);
  return session.StatusCode;
}

}  // namespace pcutil
