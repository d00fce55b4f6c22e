// A small CMS for publishing tests, served by an HttpFixture on 127.0.0.1.
//
//   POST /login.php        user=...&pass=...  right account: 302 to /admin.php with the session
//                          cookie set on the redirect; wrong account: "用户名或密码错误".
//   GET  /admin.php        the back-office start page.
//   GET  /category.php     the category list between "<!--cats-->" and "<!--/cats-->", items
//                          <option value="ID">NAME</option> (needs a session).
//   GET  /token.php        <input name="token" value="..."> (needs a session; sets "visit").
//   GET  /broken.php       a page without the token markers.
//   POST /post.php         records the form and answers "发布成功" when it holds a valid
//                          session and a current token, "发布失败：..." otherwise or when the
//                          title contains "FAIL"; a title containing "UNKNOWN" gets a neutral
//                          "已处理".
// Sessions: a login makes a new one; StoredSession() is valid from the start (for targets
// that use stored cookies).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "HttpFixture.h"

namespace rztest {

class FixtureCms {
 public:
  static constexpr const char* kUser = "editor";
  static constexpr const char* kPassword = "p@ss 中";
  static constexpr const char* kSessionCookie = "cms_session";

  FixtureCms();

  // http://127.0.0.1:<port>/ (ends with "/").
  std::string Host() const { return http_.Url("/"); }
  // "cms_session=<stored session id>".
  std::string StoredSession() const;

  struct Article {
    std::map<std::string, std::string> Form;  // decoded form fields (bytes as sent)
    std::string RawBody;
    std::string Cookie;
  };
  std::vector<Article> Accepted() const;  // posts answered with success
  std::vector<Article> Posts() const;     // every post
  int LoginCount() const;
  HttpFixture& Http() { return http_; }

 private:
  bool HasSession(const httplib::Request& req) const;

  HttpFixture http_;
  mutable std::mutex lock_;
  std::set<std::string> sessions_;
  std::set<std::string> tokens_;
  std::vector<Article> posts_;
  std::vector<bool> accepted_;
  int logins_ = 0;
  int counter_ = 0;
};

}  // namespace rztest
