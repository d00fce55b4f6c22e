#include "FixtureCms.h"

namespace rztest {

namespace {
constexpr const char* kStored = "stored-4f2a";
}

FixtureCms::FixtureCms() {
  sessions_.insert(kStored);
  http_.Handle("/login.php", [this](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(lock_);
    ++logins_;
    if (req.get_param_value("user") == kUser && req.get_param_value("pass") == kPassword) {
      const std::string id = "s" + std::to_string(++counter_) + "x";
      sessions_.insert(id);
      res.status = 302;
      res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly");
      res.set_header("Location", "/admin.php");
      return;
    }
    res.set_content("<html><body>用户名或密码错误</body></html>", "text/html; charset=utf-8");
  });
  http_.Handle("/admin.php", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body>管理后台</body></html>", "text/html; charset=utf-8");
  });
  http_.Handle("/category.php", [this](const httplib::Request& req, httplib::Response& res) {
    if (!HasSession(req)) {
      res.set_content("<html>请先登录</html>", "text/html; charset=utf-8");
      return;
    }
    res.set_content(
        "<html><select><!--cats--><option value=\"3\">新闻</option>\n<option "
        "value=\"7\">体育 &amp; 健康</option>\n<option value=\"12\">科技</option><!--/cats--></select>"
        "<option value=\"99\">outside</option></html>",
        "text/html; charset=utf-8");
  });
  http_.Handle("/token.php", [this](const httplib::Request& req, httplib::Response& res) {
    if (!HasSession(req)) {
      res.set_content("<html>请先登录</html>", "text/html; charset=utf-8");
      return;
    }
    std::string token;
    {
      std::lock_guard lock(lock_);
      token = "tk" + std::to_string(++counter_);
      tokens_.insert(token);
    }
    res.set_header("Set-Cookie", "visit=" + token + "; Path=/");
    res.set_content("<form><input type=\"hidden\" name=\"token\" value=\"" + token +
                        "\"></form>",
                    "text/html; charset=utf-8");
  });
  http_.Handle("/broken.php", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html>nothing here</html>", "text/html; charset=utf-8");
  });
  http_.Handle("/post.php", [this](const httplib::Request& req, httplib::Response& res) {
    Article a;
    for (const auto& [k, v] : req.params) a.Form[k] = v;
    a.RawBody = req.body;
    a.Cookie = req.get_header_value("Cookie");
    const bool session = HasSession(req);
    std::lock_guard lock(lock_);
    const std::string title = a.Form["title"];
    std::string answer;
    bool ok = false;
    if (!session)
      answer = "发布失败：请先登录";
    else if (!tokens_.count(a.Form["token"]))
      answer = "发布失败：令牌无效";
    else if (title.find("FAIL") != std::string::npos)
      answer = "发布失败：标题被拒绝";
    else if (title.find("UNKNOWN") != std::string::npos)
      answer = "已处理";
    else
      answer = "发布成功", ok = true;
    tokens_.erase(a.Form["token"]);
    posts_.push_back(a);
    accepted_.push_back(ok);
    res.set_content("<html><body>" + answer + "</body></html>", "text/html; charset=utf-8");
  });
}

std::string FixtureCms::StoredSession() const { return std::string(kSessionCookie) + "=" + kStored; }

bool FixtureCms::HasSession(const httplib::Request& req) const {
  const std::string cookie = req.get_header_value("Cookie");
  const std::string key = std::string(kSessionCookie) + "=";
  std::lock_guard lock(lock_);
  for (size_t at = cookie.find(key); at != std::string::npos; at = cookie.find(key, at + 1)) {
    const size_t b = at + key.size();
    const size_t e = cookie.find(';', b);
    if (sessions_.count(cookie.substr(b, e == std::string::npos ? std::string::npos : e - b)))
      return true;
  }
  return false;
}

std::vector<FixtureCms::Article> FixtureCms::Accepted() const {
  std::lock_guard lock(lock_);
  std::vector<Article> out;
  for (size_t i = 0; i < posts_.size(); ++i)
    if (accepted_[i]) out.push_back(posts_[i]);
  return out;
}

std::vector<FixtureCms::Article> FixtureCms::Posts() const {
  std::lock_guard lock(lock_);
  return posts_;
}

int FixtureCms::LoginCount() const {
  std::lock_guard lock(lock_);
  return logins_;
}

}  // namespace rztest
