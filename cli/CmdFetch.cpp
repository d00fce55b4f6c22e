// Network command: fetch a page the way the collector does, for rule writers.
#include <iostream>

#include "Commands.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "store/Settings.h"

namespace rzcli {

// fetch [--headers] URL [CHARSET]: GET with the UserAgent setting, the charset detected unless
// given, the decoded page printed as UTF-8. --headers first prints "status: N",
// "charset: NAME" and the raw response headers.
int CmdFetch(const Args& args) {
  bool headers = false;
  Args plain;
  for (const auto& a : args) {
    if (a == "--headers")
      headers = true;
    else if (a.size() > 2 && a.rfind("--", 0) == 0)
      return BadInput("fetch: unknown option " + a);
    else
      plain.push_back(a);
  }
  if (plain.empty() || plain.size() > 2) return BadInput("fetch needs URL [CHARSET]");
  rz::AppSettings settings;
  rz::LoadSettings(settings);
  pcutil::SetGlobalUserAgent(settings.UserAgent);

  pcutil::CHttpClientSession session;
  session.UseGlobalUserAgent();
  const int ok = session.Request(pcutil::Utf8ToUtf16(plain[0]), pcutil::kMethodGet, true);
  if (headers) std::cout << "status: " << session.StatusCode << "\n";
  if (!ok) {
    std::cerr << "rizede-cli: fetch failed"
              << (session.StatusCode > 0 ? " with status " + std::to_string(session.StatusCode)
                                         : std::string())
              << (session.LastError.empty() ? "" : ": " + session.LastError) << "\n";
    return 1;
  }
  std::u16string charset = plain.size() == 2 ? pcutil::Utf8ToUtf16(plain[1]) : u"自动识别";
  if (charset == u"自动识别") charset = session.DetectCharset();
  if (headers) std::cout << "charset: " << pcutil::Utf16ToUtf8(charset) << "\n" << session.HeaderText();
  std::cout << pcutil::Utf16ToUtf8(session.DecodeBody(charset));
  return 0;
}

}  // namespace rzcli
