// The program's HTTP client: GET, url-encoded POST and multipart POST over libcurl, with the
// raw response kept as bytes, gzip inflate, charset detection and decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Text.h"

namespace pcutil {

// The built-in user agent, used whenever the `UserAgent` setting is empty.
extern const char16_t* const kDefaultUserAgent;

// The `UserAgent` setting as the settings loader last handed it over (empty = not set).
// Kept here so that net does not depend on the settings store.
void SetGlobalUserAgent(const std::u16string& userAgent);
std::u16string GlobalUserAgent();

// Connect and stall limits of every request and transfer, in seconds. A request that cannot
// connect within the first, or moves less than one byte a second for the second (libcurl
// averages the rate over a few seconds), fails instead of hanging.
struct NetTimeouts {
  long ConnectSeconds = 30;
  long StallSeconds = 30;
};
NetTimeouts GetNetTimeouts();
void SetNetTimeouts(const NetTimeouts& timeouts);  // tests lower them

// Growable byte buffer the session reads into.
class CAutoBuffer {
 public:
  CAutoBuffer() = default;
  explicit CAutoBuffer(size_t reserve) { data_.reserve(reserve); }
  void Append(const void* data, size_t length);
  void Append(const Bytes& bytes) { data_ += bytes; }
  // Removes up to `length` bytes from the front into `out` (appended); returns how many.
  size_t TakeFront(size_t length, CAutoBuffer& out);
  void Clear() { data_.clear(); }
  void Reserve(size_t n) { data_.reserve(n); }
  const char* Data() const { return data_.data(); }
  size_t Size() const { return data_.size(); }
  bool Empty() const { return data_.empty(); }
  const Bytes& Str() const { return data_; }
  Bytes Release() { return std::move(data_); }

 private:
  Bytes data_;
};

// The parsed part of the last response's headers.
class CHttpResponseHeaders {
 public:
  void Set(const Bytes& rawText, const std::string& contentEncoding);
  const Bytes& RawText() const { return raw_; }
  // Lower-cased value of Content-Encoding ("" when absent).
  const std::string& ContentEncoding() const { return encoding_; }
  // First value of a header by name, ignoring case ("" when absent).
  std::string Value(const std::string& name) const;

 private:
  Bytes raw_;
  std::string encoding_;
};

// How a request header joins the headers already on the request.
enum class HeaderMode {
  Add,                // always added (a second line of the same name is sent too)
  AddIfNew,           // refused when the request already has that header: the send fails
  Replace,            // replaces the header of that name, or adds it; an empty value removes it
  CoalesceComma,      // appended to an existing value with ", "
  CoalesceSemicolon,  // appended to an existing value with "; "
};

enum class AccessType { Direct, Preconfigured, Proxy };

// Request method codes of `Request`.
enum : int { kMethodGet = 1, kMethodFormPost = 2, kMethodMultipartPost = 3 };

// An http(s) address split the way `Request` does it.
struct HttpAddress {
  std::u16string Scheme;
  std::u16string Host;
  int Port = 80;
  std::u16string Path;  // from the first "/" of the rest on; may be empty
  bool IsHttps = false;
};
// false for any scheme other than http and https.
bool ParseHttpAddress(const std::u16string& address, HttpAddress& out);

// Inflates a gzip body; bytes without the gzip signature come back unchanged.
Bytes GunzipBody(const Bytes& bytes);

// One object per request sequence, used by one thread.
class CHttpClientSession {
 public:
  struct Field {
    Bytes Name;
    Bytes Value;
    int Kind = 1;  // 1 name/value pair, 2 raw text
  };
  struct FilePart {
    std::u16string FieldName;
    std::u16string FileName;
    std::u16string ContentType;
    Bytes Data;
    size_t Length = 0;
  };
  struct Header {
    std::u16string Text;  // ends with "\r\n"
    HeaderMode Mode = HeaderMode::Add;
  };

  CHttpClientSession();
  virtual ~CHttpClientSession();
  CHttpClientSession(const CHttpClientSession&) = delete;
  CHttpClientSession& operator=(const CHttpClientSession&) = delete;

  virtual void ClearFields();
  virtual void AddField(const std::u16string& name, const std::u16string& value);
  virtual void AddField(const std::u16string& name, long long value);
  virtual void AddFile(const std::u16string& fieldName, const std::u16string& fileName,
                       const std::u16string& contentType, const void* data, size_t length);
  virtual void AddRaw(const Bytes& bytes);
  virtual void AddRaw(const std::u16string& text);
  virtual void AddHeader(const std::u16string& text, HeaderMode mode);
  virtual void ClearHeaders();
  // method: kMethodGet, kMethodFormPost, kMethodMultipartPost (anything else is GET).
  // Returns 1 when the request was sent and answered with a status of 300 or less, else 0.
  virtual int Request(const std::u16string& address, int method, bool close);
  virtual const Bytes& Body() const { return body_; }
  virtual const Bytes& HeaderText() const { return headerText_; }
  // The Set-Cookie header lines of every response of the last request's redirect chain, in
  // order (the session keeps no cookies itself; callers that need them carry them on).
  const Bytes& SetCookieText() const { return setCookieText_; }
  virtual std::u16string BodyAsUtf8() const;

  // The request primitives `Request` is built from; path is the part after the host.
  virtual int OpenRequest(bool post, const std::u16string& path, const std::u16string& acceptTypes);
  virtual int SendFormPost(const std::u16string& path);
  virtual int SendMultipartPost(const std::u16string& path);
  virtual int SendGet(const std::u16string& path);
  // Called just before a request goes out; a subclass may veto it by returning 0.
  virtual int BeforeSend() { return 1; }
  virtual void BuildFormBody(Bytes& out) const;
  virtual void BuildMultipartBody(Bytes& out, const std::u16string& boundary) const;
  virtual int ReceiveResponse();
  // Moves up to 131,072 received bytes into out; 0 when nothing is left.
  virtual size_t ReadChunk(CAutoBuffer& out);

  void AddRefererHeader(const std::u16string& value);
  void AddCookieHeader(const std::u16string& value);
  // The page charset: from the header text, else from a <meta> of the page, else "gb2312".
  std::u16string DetectCharset() const;
  std::u16string DecodeBody(const std::u16string& charset) const;
  // Takes the `UserAgent` setting when it is set.
  void UseGlobalUserAgent();
  void Close();

  // The state the design names; callers set the request-side ones before `Request`.
  std::u16string UserAgent;
  std::u16string Referer;
  std::u16string Boundary = u"-----xz4BBcV-5C1C9B2B-95AC-4752-AF91-10B280A68D3B---";
  std::u16string ContentTypeHeader = u"Content-Type: application/x-www-form-urlencoded\r\n";
  int32_t StatusCode = 0;
  std::vector<Field> Fields;
  std::vector<FilePart> Files;
  bool IsHttps = false;
  AccessType Access = AccessType::Direct;
  std::u16string ProxyName;  // "host:port" of the proxy
  std::u16string ProxyUser;
  std::u16string ProxyPassword;
  std::shared_ptr<CHttpResponseHeaders> ResponseHeaders;
  std::u16string AcceptHeader = u"Accept: */*\r\n";
  std::vector<Header> Headers;
  // Set when the last failure was a network or protocol error, for diagnostics.
  std::string LastError;

  // Sets the content type written by SendFormPost ("Content-Type: %s\r\n").
  void SetContentType(const std::u16string& type);

 private:
  struct Handles;
  struct PendingHeader {
    std::u16string Text;
    HeaderMode Mode;
  };
  int Connect();
  int Perform(const std::vector<PendingHeader>& headers, const Bytes* postBody, int attempts);
  void CloseRequest();
  std::u16string HostHeaderValue() const;

  std::unique_ptr<Handles> handles_;
  Bytes body_;
  Bytes headerText_;
  Bytes setCookieText_;
  // The address being requested, as split by `Request`.
  HttpAddress address_;
};

// Downloads a page like the collector does: the `UserAgent` setting, GET, handles closed after.
// On success a charset of "自动识别" is detected, the text is the decoded body and the result is
// the status (200); a failed request gives 0 and leaves the text unchanged.
int FetchPage(const std::u16string& address, std::u16string& text, const std::u16string& charset);

}  // namespace pcutil
