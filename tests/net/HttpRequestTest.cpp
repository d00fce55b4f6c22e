// What the HTTP session puts on the wire and how it reads the answer, against local servers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "HttpFixture.h"
#include "NetTestUtil.h"
#include "net/Http.h"

using namespace pcutil;
using namespace nettest;
using rztest::HttpFixture;
using rztest::RawHttpServer;

namespace {

const std::string kUa = N(kDefaultUserAgent);
const std::string kBoundary = "-----xz4BBcV-5C1C9B2B-95AC-4752-AF91-10B280A68D3B---";

}  // namespace

TEST(HttpAddress, SplitsLikeTheDesign) {
  struct Case {
    const char16_t* address;
    bool ok;
    const char16_t* scheme;
    const char16_t* host;
    int port;
    const char16_t* path;
    bool https;
  };
  const Case cases[] = {
      {u"HTTP://Host:8080/a?b", true, u"HTTP", u"Host", 8080, u"/a?b", false},
      {u"host/x", true, u"http", u"host", 80, u"/x", false},
      {u"https://www.example.com", true, u"https", u"www.example.com", 443, u"", true},
      {u"HtTpS://h:8443/p/q.html#frag", true, u"HtTpS", u"h", 8443, u"/p/q.html#frag", true},
      {u"http://h:/x", true, u"http", u"h", 80, u"/x", false},  // no number: the scheme's port
      {u"http://h/a:b/c", true, u"http", u"h", 80, u"/a:b/c", false},
      {u"ftp://h/file", false, u"ftp", u"h", 80, u"/file", false},
      {u"mailto:/x", false, u"mailto", u"", 80, u"", false},
      {u"http://h:99999/", false, u"http", u"h", -1, u"/", false},
  };
  for (const Case& c : cases) {
    HttpAddress a;
    SCOPED_TRACE(N(c.address));
    EXPECT_EQ(ParseHttpAddress(c.address, a), c.ok);
    EXPECT_EQ(a.Scheme, c.scheme);
    EXPECT_EQ(a.Host, c.host);
    if (c.port >= 0) {
      EXPECT_EQ(a.Port, c.port);
    }
    EXPECT_EQ(a.Path, c.path);
    EXPECT_EQ(a.IsHttps, c.https);
  }
}

TEST(HttpRequest, OtherSchemesFailWithoutTouchingTheNetwork) {
  RawHttpServer raw;
  CHttpClientSession s;
  EXPECT_EQ(s.Request(U("ftp://" + raw.HostPort() + "/x"), kMethodGet, true), 0);
  EXPECT_EQ(s.StatusCode, 0);
  EXPECT_TRUE(raw.Requests().empty());
}

TEST(HttpRequest, GetSendsExactlyTheDesignedHead) {
  RawHttpServer raw;
  CHttpClientSession s;
  s.Referer = U("http://ref.example/list.html");
  s.AddCookieHeader(u"sid=abc; lang=zh");
  ASSERT_EQ(s.Request(U(raw.Url("/a/b.html?x=1&y=中")), kMethodGet, true), 1) << s.LastError;
  EXPECT_EQ(s.StatusCode, 200);
  const auto [head, body] = rztest::SplitRawRequest(raw.Last());
  EXPECT_EQ(head,
            "GET /a/b.html?x=1&y=%E4%B8%AD HTTP/1.1\r\n"
            "Host: " + raw.HostPort() + "\r\n"
            "User-Agent: " + kUa + "\r\n"
            "Referer: http://ref.example/list.html\r\n"
            "Accept: */*\r\n"
            "Cookie: sid=abc; lang=zh\r\n"
            "\r\n");
  EXPECT_EQ(body, "");
  // The answer is the echo of the request, kept byte for byte with its headers.
  EXPECT_EQ(s.Body(), raw.Last());
  EXPECT_EQ(s.HeaderText().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(s.ResponseHeaders->RawText(), s.HeaderText());
}

TEST(HttpRequest, FormPostBodyAndHeaders) {
  RawHttpServer raw;
  CHttpClientSession s;
  s.AddField(u"a", u"1");
  s.AddField(u"b", 2);
  s.AddRefererHeader(U(raw.Url("/form.html")));
  ASSERT_EQ(s.Request(U(raw.Url("/post.php")), kMethodFormPost, true), 1) << s.LastError;
  const auto [head, body] = rztest::SplitRawRequest(raw.Last());
  EXPECT_EQ(body, "a=1&b=2");
  EXPECT_EQ(head,
            "POST /post.php HTTP/1.1\r\n"
            "Host: " + raw.HostPort() + "\r\n"
            "User-Agent: " + kUa + "\r\n"
            "Accept: */*\r\n"
            "Referer: " + raw.Url("/form.html") + "\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 7\r\n"
            "\r\n");
}

TEST(HttpRequest, FormBodiesFromFieldsAndRawParts) {
  struct Case {
    std::vector<std::pair<int, std::string>> parts;  // kind, "name=value" or raw text
    std::string body;
  };
  const Case cases[] = {
      {{{1, "a=1"}}, "a=1"},
      {{{1, "a=1"}, {1, "b=2"}, {1, "c="}}, "a=1&b=2&c="},
      {{{2, "raw%20text"}}, "raw%20text"},
      {{{1, "a=1"}, {2, "&z=9"}}, "a=1&&z=9"},  // the "&" follows every field but the last
      {{{2, "x=1"}, {1, "a=2"}}, "x=1a=2"},
      {{{1, "名=值"}}, "名=值"},  // UTF-8, used as stored
  };
  for (const Case& c : cases) {
    CHttpClientSession s;
    for (const auto& [kind, text] : c.parts) {
      if (kind == 2) {
        s.AddRaw(U(text));
      } else {
        const size_t eq = text.find('=');
        s.AddField(U(text.substr(0, eq)), U(text.substr(eq + 1)));
      }
    }
    Bytes body;
    s.BuildFormBody(body);
    EXPECT_EQ(body, c.body);
  }
}

TEST(HttpRequest, MultipartBodyByteForByte) {
  RawHttpServer raw;
  CHttpClientSession s;
  s.AddField(u"title", u"标题");
  s.AddField(u"id", 7);
  s.AddRaw(std::string("ignored"));  // raw parts have no place in a multipart body
  const std::string png("\x89PNG\r\n\x1a\n\0\x01\xff", 11);
  s.AddFile(u"upfile", u"图.png", u"image/png", png.data(), png.size());
  s.AddFile(u"doc", u"a.txt", u"text/plain", "hi", 2);
  ASSERT_EQ(s.Request(U(raw.Url("/up")), kMethodMultipartPost, true), 1) << s.LastError;
  const std::string expected =
      "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n标题\r\n"
      "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n7\r\n"
      "--" + kBoundary + "\r\nContent-Disposition: form-data; name=upfile;filename=\"图.png\"\r\n"
      "Content-Type: image/png\r\n\r\n" + png + "\r\n"
      "--" + kBoundary + "\r\nContent-Disposition: form-data; name=doc;filename=\"a.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\nhi\r\n"
      "--" + kBoundary + "\r\n";
  const auto [head, body] = rztest::SplitRawRequest(raw.Last());
  EXPECT_EQ(body, expected);
  EXPECT_EQ(head,
            "POST /up HTTP/1.1\r\n"
            "Host: " + raw.HostPort() + "\r\n"
            "User-Agent: " + kUa + "\r\n"
            "Accept: */*\r\n"
            "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n"
            "Content-Length: " + std::to_string(expected.size()) + "\r\n"
            "\r\n");
}

TEST(HttpRequest, HeaderModes) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::u16string, HeaderMode>> headers;
    bool sent;
    std::vector<std::string> lines;  // the header lines after Accept
  };
  const Case cases[] = {
      {"add twice", {{u"X-A: 1", HeaderMode::Add}, {u"X-A: 2", HeaderMode::Add}}, true,
       {"X-A: 1", "X-A: 2"}},
      {"replace", {{u"X-A: 1", HeaderMode::Add}, {u"x-a: 2", HeaderMode::Replace}}, true,
       {"X-A: 2"}},
      {"replace adds", {{u"X-A: 2", HeaderMode::Replace}}, true, {"X-A: 2"}},
      {"empty replace removes", {{u"X-A: 1", HeaderMode::Add}, {u"X-A:", HeaderMode::Replace}},
       true, {}},
      {"comma", {{u"X-A: 1", HeaderMode::Add}, {u"X-A: 2", HeaderMode::CoalesceComma}}, true,
       {"X-A: 1, 2"}},
      {"semicolon",
       {{u"Cookie: a=1", HeaderMode::Add}, {u"Cookie: b=2", HeaderMode::CoalesceSemicolon}},
       true, {"Cookie: a=1; b=2"}},
      {"several lines in one text", {{u"X-A: 1\r\nX-B: 2\r\n", HeaderMode::Add}}, true,
       {"X-A: 1", "X-B: 2"}},
      {"add-if-new refused", {{u"X-A: 1", HeaderMode::AddIfNew}, {u"X-A: 2", HeaderMode::AddIfNew}},
       false, {}},
      {"two cookie headers", {{u"Cookie: a=1", HeaderMode::AddIfNew}, {u"Cookie: b=2", HeaderMode::AddIfNew}},
       false, {}},
      {"malformed", {{u"no colon here", HeaderMode::Add}}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawHttpServer raw;
    CHttpClientSession s;
    for (const auto& [text, mode] : c.headers) s.AddHeader(text, mode);
    EXPECT_EQ(s.Request(U(raw.Url("/h")), kMethodGet, true), c.sent ? 1 : 0);
    if (!c.sent) {
      EXPECT_TRUE(raw.Requests().empty());
      continue;
    }
    auto lines = HeadLines(rztest::SplitRawRequest(raw.Last()).first);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Accept: */*");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), c.lines);
  }
  // Header texts always end in CR LF; the list is emptied by ClearHeaders.
  CHttpClientSession s;
  s.AddHeader(u"X-A: 1", HeaderMode::Add);
  s.AddHeader(u"X-B: 2\r\n", HeaderMode::Add);
  ASSERT_EQ(s.Headers.size(), 2u);
  EXPECT_EQ(s.Headers[0].Text, u"X-A: 1\r\n");
  EXPECT_EQ(s.Headers[1].Text, u"X-B: 2\r\n");
  s.AddRefererHeader(u"");
  s.AddCookieHeader(u"");
  EXPECT_EQ(s.Headers.size(), 2u);
  s.ClearHeaders();
  EXPECT_TRUE(s.Headers.empty());
}

TEST(HttpRequest, AcceptAndContentTypeCanBeReplaced) {
  RawHttpServer raw;
  CHttpClientSession s;
  s.AddHeader(u"Accept: text/html", HeaderMode::Replace);
  s.SetContentType(u"text/xml; charset=utf-8");
  s.AddRaw(u"<a/>");
  s.UserAgent = u"RzTest/1.0";
  ASSERT_EQ(s.Request(U(raw.Url("/x")), kMethodFormPost, true), 1);
  const auto [head, body] = rztest::SplitRawRequest(raw.Last());
  EXPECT_EQ(body, "<a/>");
  const auto lines = HeadLines(head);
  EXPECT_EQ(lines, (std::vector<std::string>{"Host: " + raw.HostPort(), "User-Agent: RzTest/1.0",
                                             "Accept: text/html",
                                             "Content-Type: text/xml; charset=utf-8",
                                             "Content-Length: 4"}));
}

TEST(HttpRequest, SessionIsReusableForSeveralRequests) {
  HttpFixture site;
  site.Serve("/login", rztest::Page("ok"));
  site.Serve("/post", rztest::Page("posted"));
  CHttpClientSession s;
  s.AddField(u"u", u"me");
  ASSERT_EQ(s.Request(U(site.Url("/login")), kMethodFormPost, false), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "ok");
  s.ClearFields();
  s.AddField(u"title", u"t");
  ASSERT_EQ(s.Request(U(site.Url("/post")), kMethodFormPost, false), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "posted");
  ASSERT_EQ(s.Request(U(site.Url("/login")), kMethodGet, true), 1) << s.LastError;
  const auto seen = site.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].Body, "title=t");
  EXPECT_EQ(seen[1].Header("Content-Length"), "7");
  EXPECT_EQ(seen[2].Method, "GET");
  EXPECT_EQ(seen[2].Header("Content-Length"), "");
}

TEST(HttpRequest, StatusAboveThreeHundredFails) {
  HttpFixture site;
  struct Case {
    int status;
    bool location;
    int result;
  };
  const Case cases[] = {{200, false, 1}, {204, false, 1}, {300, false, 1}, {301, false, 0},
                        {304, false, 0}, {404, false, 0}, {500, false, 0}, {503, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    const std::string path = "/s" + std::to_string(c.status);
    rztest::HttpReply reply = rztest::Page(c.status == 204 ? "" : "<p>page</p>");
    reply.Status = c.status;
    site.Serve(path, reply);
    CHttpClientSession s;
    EXPECT_EQ(s.Request(U(site.Url(path)), kMethodGet, true), c.result);
    EXPECT_EQ(s.StatusCode, c.status);
    if (c.result == 0) {
      // The failing answer is not read: no body and no header text.
      EXPECT_TRUE(s.Body().empty());
      EXPECT_TRUE(s.HeaderText().empty());
    }
  }
}

TEST(HttpRequest, FetchPageGivesStatusOnlyOnSuccess) {
  HttpFixture site;
  site.Serve("/ok", rztest::Page("<p>好</p>", "text/html; charset=utf-8"));
  std::u16string text = u"kept";
  EXPECT_EQ(FetchPage(U(site.Url("/missing")), text, u"自动识别"), 0);
  EXPECT_EQ(text, u"kept");
  EXPECT_EQ(FetchPage(U(site.Url("/ok")), text, u"自动识别"), 200);
  EXPECT_EQ(text, u"<p>好</p>");
}

TEST(HttpRequest, SessionsOneAfterAnotherShareTheConnectionButNotTheCookies) {
  HttpFixture site;
  std::mutex lock;
  std::set<int> clientPorts;
  site.Handle("/p", [&](const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard hold(lock);
      clientPorts.insert(req.remote_port);
    }
    res.set_header("Set-Cookie", "sid=1; Path=/");
    res.set_content("x", "text/html");
  });
  std::u16string text;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(FetchPage(U(site.Url("/p")), text, u"gb2312"), 200);
  EXPECT_EQ(clientPorts.size(), 1u);  // one kept-alive connection for the three sessions
  for (const auto& seen : site.Requests()) EXPECT_EQ(seen.Header("Cookie"), "");
}

TEST(HttpRequest, FetchPageUsesTheGlobalUserAgent) {
  HttpFixture site;
  site.Serve("/p", rztest::Page("x"));
  std::u16string text;
  SetGlobalUserAgent(u"RzAgent/2");
  EXPECT_EQ(FetchPage(U(site.Url("/p")), text, u"gb2312"), 200);
  SetGlobalUserAgent(u"");
  EXPECT_EQ(FetchPage(U(site.Url("/p")), text, u"gb2312"), 200);
  const auto seen = site.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Header("User-Agent"), "RzAgent/2");
  EXPECT_EQ(seen[1].Header("User-Agent"), kUa);
}

TEST(HttpRequest, RedirectsAreFollowedAndKeepTheCookieOnTheSameHost) {
  HttpFixture site;
  HttpFixture other;
  site.Serve("/r1", rztest::Redirect("/r2", 301));
  site.Serve("/r2", rztest::Redirect(site.Url("/page"), 302));
  site.Serve("/page", rztest::Page("final"));
  site.Serve("/away", rztest::Redirect("http://localhost:" + std::to_string(other.Port()) + "/p"));
  site.Serve("/cookie", [] {
    auto r = rztest::Page("set");
    r.Headers.push_back({"Set-Cookie", "server=1; path=/"});
    return r;
  }());
  other.Serve("/p", rztest::Page("elsewhere"));

  CHttpClientSession s;
  s.AddCookieHeader(u"sid=42");
  ASSERT_EQ(s.Request(U(site.Url("/r1")), kMethodGet, false), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "final");
  EXPECT_EQ(s.StatusCode, 200);
  // Only the last answer's headers are kept.
  EXPECT_EQ(s.HeaderText().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  auto seen = site.Requests();
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& r : seen) {
    EXPECT_EQ(r.Header("Cookie"), "sid=42") << r.Target;
    EXPECT_EQ(r.Header("Host"), site.HostPort()) << r.Target;
  }

  // Another host gets neither the cookie nor the first host's Host header.
  ASSERT_EQ(s.Request(U(site.Url("/away")), kMethodGet, false), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "elsewhere");
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_EQ(other.Last().Header("Cookie"), "");
  EXPECT_EQ(other.Last().Header("Host"), "localhost:" + std::to_string(other.Port()));

  // No cookie engine: a cookie set by a response never comes back.
  ASSERT_EQ(s.Request(U(site.Url("/cookie")), kMethodGet, false), 1);
  ASSERT_EQ(s.Request(U(site.Url("/page")), kMethodGet, true), 1);
  EXPECT_EQ(site.Last().Header("Cookie"), "sid=42");
}

TEST(HttpRequest, PostRedirectedToAPageIsFetched) {
  HttpFixture site;
  site.Serve("/save", rztest::Redirect("/done"));
  site.Serve("/done", rztest::Page("saved"));
  CHttpClientSession s;
  s.AddField(u"a", u"1");
  ASSERT_EQ(s.Request(U(site.Url("/save")), kMethodFormPost, true), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "saved");
  const auto seen = site.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Body, "a=1");
  EXPECT_EQ(seen[1].Method, "GET");
}

TEST(HttpRequest, GzipBodiesAreInflated) {
  HttpFixture site;
  std::string page;
  for (int i = 0; i < 3000; ++i) page += "<li>第" + std::to_string(i) + "条</li>\n";
  auto gz = rztest::Page(rztest::Gzip(page), "text/html; charset=utf-8");
  gz.Headers.push_back({"Content-Encoding", "GZIP"});
  site.Serve("/gz", gz);
  auto fake = rztest::Page("plain, not compressed");
  fake.Headers.push_back({"Content-Encoding", "gzip"});
  site.Serve("/fake", fake);
  auto deflate = rztest::Page(rztest::Gzip("x"));
  deflate.Headers.push_back({"Content-Encoding", "br"});
  site.Serve("/other", deflate);

  CHttpClientSession s;
  ASSERT_EQ(s.Request(U(site.Url("/gz")), kMethodGet, false), 1) << s.LastError;
  EXPECT_EQ(s.ResponseHeaders->ContentEncoding(), "gzip");
  EXPECT_EQ(s.Body(), page);
  ASSERT_EQ(s.Request(U(site.Url("/fake")), kMethodGet, false), 1);
  EXPECT_EQ(s.Body(), "plain, not compressed");
  ASSERT_EQ(s.Request(U(site.Url("/other")), kMethodGet, true), 1);
  EXPECT_EQ(s.Body(), rztest::Gzip("x"));  // only gzip is inflated

  // A cut-off stream keeps what could be inflated.
  const std::string cut = rztest::Gzip(page).substr(0, 200);
  const Bytes partial = GunzipBody(cut);
  EXPECT_FALSE(partial.empty());
  EXPECT_EQ(page.compare(0, partial.size(), partial), 0);
}

TEST(HttpRequest, HttpsWithASelfSignedCertificate) {
  HttpFixture site(HttpFixture::Scheme::Https);
  site.Serve("/secure", rztest::Page("secret"));
  CHttpClientSession s;
  s.AddCookieHeader(u"k=v");
  ASSERT_EQ(s.Request(U(site.Url("/secure")), kMethodGet, true), 1) << s.LastError;
  EXPECT_TRUE(s.IsHttps);
  EXPECT_EQ(s.Body(), "secret");
  EXPECT_EQ(site.Last().Header("Host"), site.HostPort());
  EXPECT_EQ(site.Last().Header("Cookie"), "k=v");
  std::u16string text;
  EXPECT_EQ(FetchPage(U(site.Url("/secure")), text, u"utf-8"), 200);
  EXPECT_EQ(text, u"secret");
}

TEST(HttpRequest, HostHeaderHasNoPortOnTheSchemesOwnPort) {
  // The raw server cannot listen on port 80, so the default-port case is checked on the
  // address the session would build; every other port must be in Host (checked above).
  RawHttpServer raw;
  raw.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  CHttpClientSession s;
  s.Access = AccessType::Proxy;
  s.ProxyName = U(raw.HostPort());
  ASSERT_EQ(s.Request(u"http://site.invalid/a.html", kMethodGet, true), 1) << s.LastError;
  const auto lines = HeadLines(rztest::SplitRawRequest(raw.Last()).first);
  EXPECT_EQ(raw.Last().rfind("GET http://site.invalid/a.html HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(lines.at(0), "Host: site.invalid");
}

TEST(HttpRequest, ProxySettingsReachTheProxy) {
  RawHttpServer proxy;
  proxy.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nproxy");
  CHttpClientSession s;
  s.Access = AccessType::Proxy;
  s.ProxyName = U(proxy.HostPort());
  s.ProxyUser = u"pu";
  s.ProxyPassword = u"pw";
  ASSERT_EQ(s.Request(u"http://site.invalid:8080/list?p=2", kMethodGet, true), 1) << s.LastError;
  EXPECT_EQ(s.Body(), "proxy");
  const std::string head = rztest::SplitRawRequest(proxy.Last()).first;
  EXPECT_EQ(head.rfind("GET http://site.invalid:8080/list?p=2 HTTP/1.1\r\n", 0), 0u);
  const auto lines = HeadLines(head);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Host: site.invalid:8080"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Proxy-Authorization: Basic cHU6cHc="),
            lines.end());
}

TEST(HttpRequest, DirectAccessIgnoresProxyVariablesAndPreconfiguredUsesThem) {
  RawHttpServer proxy;
  proxy.SetReply("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nproxy");
  HttpFixture site;
  site.Serve("/p", rztest::Page("direct"));
  const char* saved = std::getenv("http_proxy");
  const std::string savedValue = saved ? saved : "";
  setenv("http_proxy", proxy.Url("").c_str(), 1);
  CHttpClientSession direct;
  EXPECT_EQ(direct.Request(U(site.Url("/p")), kMethodGet, true), 1);
  EXPECT_EQ(direct.Body(), "direct");
  CHttpClientSession configured;
  configured.Access = AccessType::Preconfigured;
  EXPECT_EQ(configured.Request(U(site.Url("/p")), kMethodGet, true), 1);
  EXPECT_EQ(configured.Body(), "proxy");
  if (saved)
    setenv("http_proxy", savedValue.c_str(), 1);
  else
    unsetenv("http_proxy");
}

TEST(HttpRequest, StalledOrSilentServersEndInFailure) {
  ShortTimeouts limits(1);
  HttpFixture site;
  rztest::HttpReply stall = rztest::Page(std::string(5000, 'x'));
  stall.StallAfterBytes = 1;  // a burst would keep the averaged rate up for a while
  stall.StallMs = 60000;
  site.Serve("/stall", stall);
  rztest::HttpReply silent = rztest::Page("late");
  silent.DelayMs = 60000;
  site.Serve("/silent", silent);

  CHttpClientSession s;
  EXPECT_EQ(s.Request(U(site.Url("/stall")), kMethodGet, true), 0);
  EXPECT_EQ(s.StatusCode, 200);  // the answer had begun
  EXPECT_NE(s.LastError.find("imeout"), std::string::npos) << s.LastError;
  std::u16string text = u"kept";
  EXPECT_EQ(FetchPage(U(site.Url("/silent")), text, u"utf-8"), 0);
  EXPECT_EQ(text, u"kept");
}

TEST(HttpRequest, ConnectionThatNeverCompletesEndsInFailure) {
  // A loopback listener whose accept queue is full drops further connection attempts, so the
  // client waits for the handshake until its connect limit.
  ShortTimeouts limits(1);
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(fd);
  }
  CHttpClientSession s;
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";
  EXPECT_EQ(s.Request(U(url), kMethodGet, true), 0);
  EXPECT_EQ(s.StatusCode, 0);
  EXPECT_NE(s.LastError.find("imeout"), std::string::npos) << s.LastError;
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST(HttpRequest, UnreachableServerFails) {
  int port;
  {
    RawHttpServer gone;
    port = gone.Port();
  }
  CHttpClientSession s;
  EXPECT_EQ(s.Request(U("http://127.0.0.1:" + std::to_string(port) + "/"), kMethodGet, true), 0);
  EXPECT_EQ(s.StatusCode, 0);
  EXPECT_FALSE(s.LastError.empty());
}

TEST(HttpRequest, ReadChunkHandsOverTheReceivedBytes) {
  // A subclass that reads the body itself through ReadChunk instead of ReceiveResponse.
  class ChunkReader : public CHttpClientSession {
   public:
    int ReceiveResponse() override {
      CAutoBuffer all;
      while (ReadChunk(all) > 0) ++reads;
      received = all.Str();
      return 1;
    }
    int reads = 0;
    Bytes received;
  };
  HttpFixture site;
  const std::string big(300000, 'z');
  site.Serve("/big", rztest::Page(big));
  ChunkReader s;
  ASSERT_EQ(s.Request(U(site.Url("/big")), kMethodGet, true), 1);
  EXPECT_EQ(s.received, big);
  EXPECT_EQ(s.reads, 3);  // 131,072 bytes at most per read
  EXPECT_EQ(s.HeaderText().rfind("HTTP/1.1 200", 0), 0u);
}
