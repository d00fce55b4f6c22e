// Web publishing: login, random values, the article post and the answer analysis.
#include <map>

#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "publish/Template.h"
#include "store/Settings.h"

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;

namespace {

constexpr char16_t kAnalysis[] = u"<br/><strong><font color=\"red\">错误原因智能分析：</font></strong><br/>";

std::u16string Trim(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r' || s[b] == u'\n')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r' || s[e - 1] == u'\n')) --e;
  return s.substr(b, e - b);
}

bool ContainsAny(const std::u16string& answer, const std::vector<std::u16string>& texts) {
  for (const auto& t : texts)
    if (!t.empty() && answer.find(t) != std::u16string::npos) return true;
  return false;
}

// Escapes regular-expression characters, except the wildcard "(*)" which becomes ".*?".
std::u16string LiteralPattern(const std::u16string& text,
                              const std::vector<std::pair<std::u16string, std::u16string>>& keep) {
  static const std::u16string special = u"\\^$.|?*+()[]{}/";
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    bool kept = false;
    for (const auto& [tag, replacement] : keep)
      if (text.compare(i, tag.size(), tag) == 0) {
        out += replacement;
        i += tag.size();
        kept = true;
        break;
      }
    if (kept) continue;
    if (special.find(text[i]) != std::u16string::npos) out += u'\\';
    out += text[i++];
  }
  return out;
}

std::u16string MarkerPattern(const std::u16string& begin, const std::u16string& end) {
  return LiteralPattern(begin, {{u"(*)", u".*?"}}) + u"(.*?)" +
         LiteralPattern(end, {{u"(*)", u".*?"}});
}

}  // namespace

// ---- cookies ----

void PublishCookies::SetBase(const std::u16string& cookieText) {
  cookies_.clear();
  loose_.clear();
  std::vector<std::u16string> pieces;
  pcutil::Split(cookieText, u";", pieces);
  for (const auto& p : pieces) {
    const std::u16string piece = Trim(p);
    if (piece.empty()) continue;
    const size_t eq = piece.find(u'=');
    if (eq == std::u16string::npos || eq == 0)
      loose_.push_back(piece);
    else
      cookies_.emplace_back(piece.substr(0, eq), piece.substr(eq + 1));
  }
}

void PublishCookies::Take(const pcutil::Bytes& lines) {
  const std::u16string text = pcutil::Utf8ToUtf16(lines).empty() && !lines.empty()
                                  ? pcutil::LocalToUtf16(lines)
                                  : pcutil::Utf8ToUtf16(lines);
  std::vector<std::u16string> rows;
  pcutil::Split(text, u"\n", rows);
  for (const auto& row : rows) {
    std::u16string r = Trim(row);
    if (r.size() < 11) continue;
    r = Trim(r.substr(11));  // after "Set-Cookie:"
    const size_t semi = r.find(u';');
    const std::u16string pair = Trim(r.substr(0, semi));
    const size_t eq = pair.find(u'=');
    if (eq == std::u16string::npos || eq == 0) continue;
    const std::u16string name = pair.substr(0, eq), value = pair.substr(eq + 1);
    std::u16string attrs;
    for (char16_t c : (semi == std::u16string::npos ? u"" : r.substr(semi)))
      attrs += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    const bool removed = attrs.find(u"max-age=0") != std::u16string::npos ||
                         attrs.find(u"max-age=-") != std::u16string::npos ||
                         attrs.find(u"1970") != std::u16string::npos;
    auto it = std::find_if(cookies_.begin(), cookies_.end(),
                           [&](const auto& c) { return c.first == name; });
    if (removed) {
      if (it != cookies_.end()) cookies_.erase(it);
    } else if (it != cookies_.end()) {
      it->second = value;
    } else {
      cookies_.emplace_back(name, value);
    }
  }
}

std::u16string PublishCookies::Text() const {
  std::u16string out;
  for (const auto& l : loose_) out += (out.empty() ? u"" : u"; ") + l;
  for (const auto& [name, value] : cookies_)
    out += (out.empty() ? u"" : u"; ") + name + u"=" + value;
  return out;
}

std::u16string TargetCookieText(const PublishTarget& target) {
  std::u16string text = target.Cookies;
  if (text.size() >= 7) {
    std::u16string head = text.substr(0, 7);
    for (auto& c : head)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (head == u"cookie:") {
      size_t i = 7;
      while (i < text.size() && text[i] == u' ') ++i;
      text.erase(0, i);
    }
  }
  return text;
}

std::u16string JoinPostHost(const std::u16string& postHost, const std::u16string& path) {
  if (postHost.empty()) return path;
  if (postHost.back() != u'/' && !path.empty() && path[0] != u'/') return postHost + u"/" + path;
  return postHost + path;
}

bool SendPublishRequest(const PublishTarget& target, pcutil::CHttpClientSession& client,
                        const std::u16string& path, const std::u16string& body,
                        const std::u16string& refererPath, const std::u16string& cookieText,
                        int method, std::u16string& answer) {
  answer.clear();
  client.ClearFields();
  client.ClearHeaders();
  const std::u16string address = JoinPostHost(target.PostHost, path);
  if (!cookieText.empty()) client.AddHeader(u"Cookie: " + cookieText, pcutil::HeaderMode::Add);
  if (!refererPath.empty()) {
    std::u16string host = target.PostHost, ref = refererPath;
    while (!host.empty() && host.back() == u'/') host.pop_back();
    while (!ref.empty() && ref[0] == u'/') ref.erase(0, 1);
    client.AddHeader(u"Referer: " + host + u"/" + ref, pcutil::HeaderMode::Add);
  }
  if (!body.empty()) {
    // The body is URL-encoded already; literal text of the template goes in the site's charset.
    const std::string cs = pcutil::Utf16ToUtf8(target.Charset);
    pcutil::Bytes bytes = cs == "utf-8" || cs.empty() ? pcutil::Utf16ToUtf8(body)
                                                      : pcutil::EncodeCharset(body, cs);
    if (bytes.empty()) bytes = pcutil::Utf16ToUtf8(body);
    client.AddRaw(bytes);
  }
  const std::u16string ua = GlobalSettings().UserAgent;
  client.UserAgent = ua.empty() ? std::u16string(kDefaultUserAgent) : ua;
  const int ok = client.Request(address, method == 2 ? pcutil::kMethodFormPost : pcutil::kMethodGet,
                                false);
  const pcutil::Bytes& raw = client.Body();
  if (target.Charset == u"gb2312") {
    answer = pcutil::LocalToUtf16(raw);
  } else {
    answer = pcutil::DecodeCharset(raw, pcutil::Utf16ToUtf8(target.Charset));
    if (answer.empty() && !raw.empty()) answer = pcutil::Utf8ToUtf16(raw);
  }
  return ok == 1;
}

int PublishToWeb(const PublishModule& module, ToData& item, const PublishTarget& target) {
  pcutil::CHttpClientSession client;
  const bool login = target.IsWebLogin != 0;
  PublishCookies cookies;
  if (login) cookies.SetBase(TargetCookieText(target));
  std::u16string& message = item.Text;

  // 1. login
  if (login && target.IsUserCookies == 0) {
    const std::u16string body = ExpandPublishTemplate(module.LoginPost, item, target, &module, Web);
    std::u16string answer;
    const bool ok = SendPublishRequest(target, client, module.LoginUrl, body, u"", u"", 2, answer);
    cookies.Take(client.SetCookieText());
    message = answer;
    if (!ok) {
      const std::u16string url = JoinPostHost(target.PostHost, module.LoginUrl);
      message = Format(std::u16string(kAnalysis) +
                           u"登陆地址<a href=\"%s\" target=\"_blank\">%s</a>有错误或者无法访问，"
                           u"请检查登陆地址或者登陆POST数据是否正确！<br/><br/><br/>",
                       url, url) +
                answer;
      return kPublishLoginFailed;
    }
    if (ContainsAny(answer, module.LoginErrorStr)) return kPublishLoginFailed;
  }

  // 2. the article body
  std::u16string body = ExpandPublishTemplate(module.ArticlePost, item, target, &module, Web);

  // 3. random values
  std::map<std::u16string, std::u16string> pages;
  for (const RandValueEntry& entry : module.RandValue) {
    auto page = pages.find(entry.Url);
    if (page == pages.end()) {
      const std::u16string url = ExpandPublishTemplate(entry.Url, item, target, &module, Web);
      std::u16string answer;
      const bool ok =
          SendPublishRequest(target, client, url, u"", u"", cookies.Text(), 1, answer);
      cookies.Take(client.SetCookieText());
      if (!ok) {
        const std::u16string full = JoinPostHost(target.PostHost, url);
        message = Format(std::u16string(kAnalysis) +
                             u"随机取值地址<a href=\"%s\" target=\"_blank\">%s</a>有错误或者无法访问，"
                             u"请检查发表文章地址或者POST数据是否正确！<br/><br/><br/>",
                         full, full) +
                  message;
        return kPublishRandFailed;
      }
      page = pages.emplace(entry.Url, answer).first;
    }
    if (entry.Name.empty() || body.find(entry.Name) == std::u16string::npos) continue;
    std::vector<std::u16string> found;
    bool matched = false;
    if (!entry.CodeBegin.empty() && !entry.CodeEnd.empty()) {
      try {
        matched = pcutil::RegexCapture(MarkerPattern(entry.CodeBegin, entry.CodeEnd), page->second,
                                       pcutil::SingleLine, found) &&
                  found.size() >= 2;
      } catch (const pcutil::RegexError&) {
        matched = false;
      }
    }
    if (!matched) {
      message = std::u16string(kAnalysis) + u"随机取值代码开始结束字符串设置不正确！<br/><br/><br/>" +
                message;
      return kPublishRandFailed;
    }
    body = ReplaceAll(body, entry.Name, pcutil::UrlEncode(found[1], target.Charset));
  }

  // 4.-5. the post
  const std::u16string articleUrl =
      ExpandPublishTemplate(module.ArticleUrl, item, target, &module, Web);
  std::u16string answer;
  const bool ok = SendPublishRequest(target, client, articleUrl, body, module.refererContentUrl,
                                     cookies.Text(), 2, answer);
  message = answer;
  item.Fields[u"DB_TEST_PUBLISH_RESULT"] = body;

  // 7. the display
  const std::u16string postUrl = JoinPostHost(target.PostHost, articleUrl);
  std::u16string display = Format(
      u"<strong><font color=\"red\">发布结果显示：</font></strong><a href=\"#\"><strong><font "
      u"color=\"blue\"  id=\"%s\">%s</font></strong></a><br/><br/>Web返回数据为空<br/><strong><font "
      u"color=\"red\">发表地址：</font></strong><br/>%s<br/><strong><font "
      u"color=\"red\">POST数据：</font></strong><br/>%s<br/><strong><br/>",
      u"DB_TEST_PUBLISH_RESULT", u"【点击在浏览器中查看测试发布结果】", postUrl,
      pcutil::HtmlEscape(body));
  if (!answer.empty()) {
    const bool test = item.Fields.count(kTestMarkerLabel) > 0;
    display = ReplaceAll(display, u"Web返回数据为空", test ? pcutil::HtmlEscape(answer) : answer);
  }

  // 8. the verdict
  if (ContainsAny(answer, module.ArticleOkStr)) {
    message = u"<strong><font color=\"red\">发布成功</font></strong><br/>" + display;
    return kPublishWebOk;
  }
  if (ok && ContainsAny(answer, module.ArticleErrorStr)) {
    message = display + kAnalysis +
              u"发布结果返回HTML代码存在发表文章失败Html代码，请检查发布内容配置或者发布模块配置是否正确！";
    return kPublishPostFailed;
  }
  if (ok) {
    message = display + kAnalysis +
              u"您未设置WEB发布模块中的发表文章成功Html代码,导致发布有可能成功,但未知发布成功结果．<br/>"
              u"您可以在编辑规则--发布内容栏目--Web模块管理器中修改．";
    return kPublishUnknown;
  }
  message = Format(std::u16string(kAnalysis) +
                       u"发表文章地址<a href=\"%s\" target=\"_blank\">%s</a>有错误或者无法访问，"
                       u"请检查发表文章地址或者POST数据是否正确！<br/><br/><br/>",
                   postUrl, postUrl) +
            display;
  return kPublishPostFailed;
}

bool FetchCategoryList(PublishTarget& target, std::u16string& message) {
  PublishModulePtr module = LoadModule(kModuleFolderPost, target.ModuleName);
  if (!module || module->Type != u"POST") {
    message = kModuleMissingMessage;
    return false;
  }
  pcutil::CHttpClientSession client;
  std::u16string page;
  if (!SendPublishRequest(target, client, module->ListUrl, u"", module->RefererListUrl,
                          TargetCookieText(target), 1, page)) {
    message = u"Web请求出错，请检查请求地址或者网络！";
    return false;
  }
  if (!module->ListCodeStart.empty() && !module->ListCodeEnd.empty()) {
    std::vector<std::u16string> found;
    bool ok = false;
    try {
      ok = pcutil::RegexCapture(MarkerPattern(module->ListCodeStart, module->ListCodeEnd), page,
                                pcutil::SingleLine | pcutil::Global | pcutil::AllCaptures,
                                found) &&
           found.size() == 2;
    } catch (const pcutil::RegexError&) {
      ok = false;
    }
    if (!ok) {
      message =
          u"发布模块中获取列表开始结束代码匹配出错！请检查是否是登陆COOKIES过期或者填写列表开始结束代码错误";
      return false;
    }
    page = found[1];
  }
  const std::u16string& rex = module->ListRex;
  if (pcutil::CountDelimiters(rex, u"[分类名称]") != 1 || pcutil::CountDelimiters(rex, u"[分类ID]") != 1) {
    message = u"发布模块中分类列表名称与ID格式不正确：有且仅能包含一个[分类ID]和[分类名称]标签！";
    return false;
  }
  const std::u16string a = LiteralPattern(
      rex, {{u"(*)", u".*?"}, {u"[分类名称]", u".*?"}, {u"[分类ID]", u"(.*?)"}});
  const std::u16string b = LiteralPattern(
      rex, {{u"(*)", u".*?"}, {u"[分类ID]", u".*?"}, {u"[分类名称]", u"(.*?)"}});
  std::vector<std::u16string> ids, names;
  try {
    pcutil::RegexCaptureOdd(a, page, pcutil::SingleLine | pcutil::Global | pcutil::AllCaptures, ids);
    pcutil::RegexCaptureOdd(b, page, pcutil::SingleLine | pcutil::Global | pcutil::AllCaptures, names);
  } catch (const pcutil::RegexError&) {
    ids.clear();
  }
  target.ListIds.clear();
  for (size_t i = 0; i < ids.size(); ++i)
    target.ListIds.push_back({ids[i], i < names.size() ? names[i] : u""});
  message = target.ListIds.empty() ? u"您得到的列表为空，可能是分类列表名称与ID格式不正确！" : u"";
  return true;
}

int TestPublish(const JobRule& job, const PublishTarget& target, const std::u16string& title,
                const std::u16string& content, const DbSettings& contentDb,
                std::u16string& message) {
  PublishModulePtr module = LoadModule(kModuleFolderPost, target.ModuleName);
  if (!module) {
    message = kModuleMissingMessage;
    return -1;
  }
  CPublishThread runner;
  runner.OpenContentDb(contentDb, job.JobId);
  ToData item;
  item.Fields[u"标题"] = title;
  item.Fields[u"内容"] = content;
  item.Fields[kTestMarkerLabel] = u"1";
  const int code = runner.PublishToTarget(target, item, job, module.get());
  message = item.Text;
  return code;
}

}  // namespace rz
