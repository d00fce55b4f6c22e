#include "collect/ListPage.h"

#include "collect/Links.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "net/Transfer.h"
#include "patterns/Regex.h"

namespace rz {

int ParseListPage(const ListRule& rule, std::u16string& charset, const std::u16string& address,
                  ToData& out, std::u16string* problem) {
  out.Text = address;
  out.ResultCode = 1;
  pcutil::CHttpClientSession session;
  session.UseGlobalUserAgent();
  const bool answered = session.Request(address, pcutil::kMethodGet, true) != 0;
  if (!answered || session.StatusCode < 200 || session.StatusCode > 300) {
    out.ResultCode = 0;
    return 0;
  }
  if (charset == u"自动识别") charset = session.DetectCharset();
  const std::u16string page = session.DecodeBody(charset);
  try {
    std::vector<std::u16string> links = ListPageLinks(rule, page, address);
    out.Links.insert(out.Links.end(), links.begin(), links.end());
  } catch (const pcutil::RegexError& e) {
    // The user's area markers or filters are broken: this page fails, the step goes on.
    out.ResultCode = 0;
    if (problem) {
      const std::u16string format =
          e.Offset() < 0
              ? u"<font color=\"red\">采网址--列表页的网址规则匹配超出了正则引擎的限制(%s)：<a href=\"%s\" target=\"_blank\">%s</a></font>"
              : u"<font color=\"red\">采网址--网址规则的正则表达式有误(%s)：<a href=\"%s\" target=\"_blank\">%s</a></font>";
      *problem = pcutil::Format(format, pcutil::Utf8ToUtf16(e.what()), address, address);
    }
    return 0;
  }
  return 1;
}

PageFetch NetPageFetch() {
  return [](const std::u16string& url, const std::u16string& charset, std::u16string& text) {
    return pcutil::FetchPage(url, text, charset);
  };
}

FileFetcher NetFileFetcher(std::function<bool(const DownloadFileRow&)> record) {
  FileFetcher f;
  f.Download = [](const std::u16string& url, const std::u16string& path) {
    return pcutil::DownloadToFile(url, path) == 1;
  };
  f.Record = std::move(record);
  return f;
}

}  // namespace rz
