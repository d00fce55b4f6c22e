// The bare limit of the collection work on this machine: fetch the list pages and the
// articles with one libcurl multi handle (16 keep-alive connections), convert each page to
// UTF-16, cut the link area, the links, the title and the body with PCRE2-16 JIT and apply
// the body's tag filter. Nothing else: no rule store, no workers, no log.
//
//   bare BASE_URL LISTS [--db PORT PREFIX]
//
// With --db every article becomes one INSERT into PREFIX + "Content" of the database
// "kitesoft" on 127.0.0.1:PORT (root, no password). Prints "fetched=N lists=L articles=A
// titles=T stored=S failed=F".
#define PCRE2_CODE_UNIT_WIDTH 16
#include <curl/curl.h>
#include <mysql.h>
#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kHandles = 16;

std::u16string Utf8ToUtf16(const std::string& in) {
  std::u16string out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  while (p < end) {
    unsigned c = *p++;
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      continue;
    }
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || end - p < extra) {
      out += u'\uFFFD';
      continue;
    }
    unsigned cp = c & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) cp = (cp << 6) | (*p++ & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& in) {
  std::string out;
  out.reserve(in.size() * 3);
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned cp = in[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < in.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// One compiled, JIT-translated pattern with its match data.
class Pattern {
 public:
  explicit Pattern(const char16_t* text) {
    int err = 0;
    PCRE2_SIZE off = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text), PCRE2_ZERO_TERMINATED,
                          PCRE2_CASELESS | PCRE2_DOTALL | PCRE2_MULTILINE, &err, &off, nullptr);
    if (!code_) {
      std::fprintf(stderr, "pattern does not compile (%d)\n", err);
      std::exit(2);
    }
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pattern() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Group 1 of the first match at or after `start`; false when none. `next` is the end of it.
  bool Find(const std::u16string& s, size_t start, std::u16string& group, size_t& next) {
    int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), start, 0,
                         data_, nullptr);
    if (rc < 2) return false;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
    group.assign(s, ov[2], ov[3] - ov[2]);
    next = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    return true;
  }
  // Every match removed.
  std::u16string RemoveAll(const std::u16string& s) {
    std::u16string out;
    size_t pos = 0;
    while (pos <= s.size()) {
      int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), pos, 0,
                           data_, nullptr);
      if (rc < 1) break;
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      out.append(s, pos, ov[0] - pos);
      pos = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
      if (ov[1] == ov[0] && ov[0] < s.size()) out += s[ov[0]];
    }
    if (pos < s.size()) out.append(s, pos, std::u16string::npos);
    return out;
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

struct Transfer {
  CURL* easy = nullptr;
  std::string url;
  bool isList = false;
  std::string body;
};

size_t OnData(char* p, size_t size, size_t n, void* user) {
  static_cast<Transfer*>(user)->body.append(p, size * n);
  return size * n;
}

struct Db {
  MYSQL* conn = nullptr;
  std::string table;
  ~Db() {
    if (conn) mysql_close(conn);
  }
  bool Open(unsigned port, const std::string& prefix) {
    conn = mysql_init(nullptr);
    if (!mysql_real_connect(conn, "127.0.0.1", "root", "", "kitesoft", port, nullptr, 0)) {
      std::fprintf(stderr, "db: %s\n", mysql_error(conn));
      return false;
    }
    mysql_set_character_set(conn, "utf8mb4");
    table = prefix + "Content";
    return true;
  }
  std::string Escape(const std::string& s) {
    std::string out(s.size() * 2 + 1, '\0');
    out.resize(mysql_real_escape_string(conn, out.data(), s.data(), s.size()));
    return out;
  }
  bool Insert(const std::string& url, const std::u16string& title, const std::u16string& body) {
    std::string sql = "INSERT INTO " + table + " (`已采`,`标题`,`内容`,`PageUrl`) VALUES (1,'" +
                      Escape(Utf16ToUtf8(title)) + "','" + Escape(Utf16ToUtf8(body)) + "','" +
                      Escape(url) + "')";
    return mysql_real_query(conn, sql.data(), sql.size()) == 0;
  }
};

// Resolves a root-relative or absolute link against the site's base (scheme://host:port).
std::string Absolute(const std::string& origin, const std::string& link) {
  if (link.rfind("http://", 0) == 0 || link.rfind("https://", 0) == 0) return link;
  if (!link.empty() && link[0] == '/') return origin + link;
  return origin + "/" + link;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bare BASE_URL LISTS [--db PORT PREFIX]\n");
    return 2;
  }
  const std::string origin = argv[1];
  const int lists = std::atoi(argv[2]);
  std::unique_ptr<Db> db;
  if (argc >= 6 && std::strcmp(argv[3], "--db") == 0) {
    db = std::make_unique<Db>();
    if (!db->Open(static_cast<unsigned>(std::atoi(argv[4])), argv[5])) return 1;
  }

  Pattern area(u"<!--list-start-->(.*?)<!--list-end-->");
  Pattern href(u"href=[\"']?([^\"' >]+)");
  Pattern title(u"<h1>(.*?)</h1>");
  Pattern body(u"<!--body-start-->(.*?)<!--body-end-->");
  Pattern imgFilter(u"<img.*?>|</img>");

  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURLM* multi = curl_multi_init();
  std::deque<std::pair<std::string, bool>> queue;
  for (int i = 1; i <= lists; ++i) queue.emplace_back(origin + "/list/" + std::to_string(i) + ".html", true);

  std::vector<Transfer> slots(kHandles);
  std::vector<Transfer*> idle;
  for (auto& t : slots) {
    t.easy = curl_easy_init();
    curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(t.easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(t.easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(t.easy, CURLOPT_ACCEPT_ENCODING, "");
    idle.push_back(&t);
  }
  curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(kHandles));

  long fetched = 0, articles = 0, titles = 0, stored = 0, failed = 0;
  int running = 0;
  auto launch = [&] {
    while (!idle.empty() && !queue.empty()) {
      Transfer* t = idle.back();
      idle.pop_back();
      t->url = std::move(queue.front().first);
      t->isList = queue.front().second;
      queue.pop_front();
      t->body.clear();
      curl_easy_setopt(t->easy, CURLOPT_URL, t->url.c_str());
      curl_multi_add_handle(multi, t->easy);
      ++running;
    }
  };
  launch();
  while (running > 0) {
    int still = 0;
    curl_multi_perform(multi, &still);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
      long status = 0;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status);
      curl_multi_remove_handle(multi, msg->easy_handle);
      --running;
      ++fetched;
      if (msg->data.result != CURLE_OK || status != 200) {
        ++failed;
      } else {
        const std::u16string page = Utf8ToUtf16(t->body);
        std::u16string g;
        size_t next = 0;
        if (t->isList) {
          if (area.Find(page, 0, g, next)) {
            std::u16string link;
            size_t pos = 0;
            while (href.Find(g, pos, link, pos)) queue.emplace_back(Absolute(origin, Utf16ToUtf8(link)), false);
          }
        } else {
          ++articles;
          std::u16string t16, b16;
          if (title.Find(page, 0, t16, next) && !t16.empty()) ++titles;
          if (body.Find(page, 0, b16, next)) b16 = imgFilter.RemoveAll(b16);
          if (db) (db->Insert(t->url, t16, b16) ? ++stored : ++failed);
        }
      }
      idle.push_back(t);
    }
    launch();
    if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  for (auto& t : slots) curl_easy_cleanup(t.easy);
  curl_multi_cleanup(multi);
  curl_global_cleanup();
  std::printf("fetched=%ld lists=%d articles=%ld titles=%ld stored=%ld failed=%ld\n", fetched,
              lists, articles, titles, stored, failed);
  return failed == 0 ? 0 : 1;
}
