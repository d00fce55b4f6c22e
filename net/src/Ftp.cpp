// FTP over libcurl, one protocol step per call so that each step can be logged: a step is a
// transfer-less request carrying one quoted command on the kept control connection.
#include <cstdio>
#include <filesystem>
#include <memory>

#include "CurlSupport.h"
#include "net/Http.h"
#include "net/Transfer.h"

namespace pcutil {

using namespace netdetail;

namespace {

bool IsPassiveText(const std::u16string& text) {
  const std::u16string t = TrimSpace(text);
  return t == u"1" || EqualsNoCase(t, u"true") || EqualsNoCase(t, u"yes") || EqualsNoCase(t, u"on");
}

long PortFromText(const std::u16string& text) {
  const std::u16string t = TrimSpace(text);
  long v = 0;
  for (char16_t c : t) {
    if (c < u'0' || c > u'9') return 21;
    v = v * 10 + (c - u'0');
    if (v > 65535) return 21;
  }
  return v > 0 ? v : 21;
}

class FtpClient {
 public:
  bool Connect(const std::u16string& server, long port, const std::u16string& user,
               const std::u16string& password, bool passive) {
    easy_ = NewEasy();
    if (!easy_) return false;
    base_ = "ftp://" + Utf16ToUtf8(server) + ":" + std::to_string(port);
    CURL* h = easy_.get();
    ApplyCommonOptions(h);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, GetNetTimeouts().StallSeconds);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_USERNAME, Utf16ToUtf8(user).c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, Utf16ToUtf8(password).c_str());
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    // "-": the data connection comes back to the control connection's own address.
    curl_easy_setopt(h, CURLOPT_FTPPORT, passive ? nullptr : "-");
    // Paths are absolute and taken as they are: libcurl never changes folders by itself,
    // so the folder set by the steps stays in force.
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &FtpClient::OnDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
    // Logging in is a step of its own.
    return Step("");
  }

  bool ChangeFolder(const std::u16string& folder) { return Step("CWD " + Utf16ToUtf8(folder)); }
  bool MakeFolder(const std::u16string& folder) { return Step("MKD " + Utf16ToUtf8(folder)); }

  // The server's current folder, or empty.
  std::u16string CurrentFolder() {
    if (!Step("PWD")) return {};
    // 257 "<path>" ...; a quote inside the path is doubled.
    const size_t open = reply_.find('"');
    if (open == std::string::npos) return {};
    std::string path;
    for (size_t i = open + 1; i < reply_.size(); ++i) {
      if (reply_[i] != '"') {
        path += reply_[i];
      } else if (i + 1 < reply_.size() && reply_[i + 1] == '"') {
        path += '"';
        ++i;
      } else {
        break;
      }
    }
    return Utf8ToUtf16(path);
  }

  bool Upload(const std::u16string& localPath, const std::u16string& remoteName) {
    FilePtr in(std::fopen(ToFsPath(localPath).c_str(), "rb"));
    if (!in || !ResolveFolder()) return false;
    std::error_code ec;
    const auto size = std::filesystem::file_size(ToFsPath(localPath), ec);
    if (ec) return false;
    CURL* h = easy_.get();
    Prepare(RemoteUrl(remoteName));
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, nullptr);  // fread on READDATA
    curl_easy_setopt(h, CURLOPT_READDATA, in.get());
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    return rc == CURLE_OK;
  }

  bool Download(const std::u16string& remoteName, const std::u16string& localPath) {
    const std::string path = ToFsPath(localPath);
    if (!ResolveFolder()) return false;
    // "x": never over an existing file.
    FilePtr out(std::fopen(path.c_str(), "wbx"));
    if (!out) return false;
    CURL* h = easy_.get();
    Prepare(RemoteUrl(remoteName));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, nullptr);  // fwrite on WRITEDATA
    curl_easy_setopt(h, CURLOPT_WRITEDATA, out.get());
    const CURLcode rc = curl_easy_perform(h);
    const bool ok = rc == CURLE_OK && std::fflush(out.get()) == 0;
    out.reset();
    if (!ok) {
      std::error_code ec;
      std::filesystem::remove(path, ec);  // no half file under the wanted name
    }
    return ok;
  }

  // The folder the steps moved to, which transfers are made in.
  void SetFolder(const std::u16string& folder) { folder_ = Utf16ToUtf8(folder); }

  // Transfers name absolute paths; without a folder from the steps the server's current
  // one is asked for.
  bool ResolveFolder() {
    if (!folder_.empty() && folder_[0] == '/') return true;
    const std::u16string current = CurrentFolder();
    if (current.empty() || current[0] != u'/') return false;
    folder_ = Utf16ToUtf8(current);
    return true;
  }

  void Close() { easy_.reset(); }  // sends QUIT

 private:
  void Prepare(const std::string& url) {
    CURL* h = easy_.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    reply_.clear();
    sentCommand_.clear();
  }

  std::string RemoteUrl(const std::string& name) const {
    std::string url = base_ + "/";
    std::string path = folder_;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    // Every piece escaped, the separators kept; the leading "/" after the host makes the
    // path absolute.
    size_t pos = 0;
    while (pos <= path.size()) {
      size_t slash = path.find('/', pos);
      if (slash == std::string::npos) slash = path.size();
      const std::string piece = path.substr(pos, slash - pos);
      char* esc = curl_easy_escape(easy_.get(), piece.c_str(), static_cast<int>(piece.size()));
      if (esc) {
        url += esc;
        curl_free(esc);
      }
      if (slash < path.size()) url += '/';
      pos = slash + 1;
    }
    return url;
  }
  std::string RemoteUrl(const std::u16string& name) const { return RemoteUrl(Utf16ToUtf8(name)); }

  // One command (none for the login) as its own request. The "*" keeps a refused command
  // from closing the connection; its reply decides.
  bool Step(const std::string& command) {
    if (command.find_first_of("\r\n") != std::string::npos) return false;
    CURL* h = easy_.get();
    Prepare(base_ + "//");
    SlistPtr quote;
    if (!command.empty()) {
      if (!SlistAppend(quote, "*" + command)) return false;
      sentCommand_ = command;
      curl_easy_setopt(h, CURLOPT_QUOTE, quote.get());
    }
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_QUOTE, nullptr);
    if (rc != CURLE_OK) return false;
    if (command.empty()) return true;
    return !reply_.empty() && reply_[0] >= '1' && reply_[0] <= '3';
  }

  // Finds the final reply line to the quoted command among the protocol lines.
  static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    auto* c = static_cast<FtpClient*>(self);
    if (c->sentCommand_.empty()) return 0;
    const std::string text(data, size);
    if (type == CURLINFO_HEADER_OUT) {
      std::string line = text;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      c->awaiting_ = line == c->sentCommand_;
    } else if (type == CURLINFO_HEADER_IN && c->awaiting_) {
      // The last line of a reply is "ddd " (a "ddd-" line continues it).
      if (text.size() >= 4 && text[3] == ' ') {
        c->reply_ = text;
        c->awaiting_ = false;
      }
    }
    return 0;
  }

  EasyPtr easy_;
  std::string base_;
  std::string folder_;  // absolute, or empty when unknown
  std::string sentCommand_;
  std::string reply_;
  bool awaiting_ = false;
};

}  // namespace

int FtpTransfer(const std::u16string& server, const std::u16string& userName,
                const std::u16string& password, const std::u16string& remoteFolder,
                const std::u16string& remoteName, const std::u16string& localPath, bool upload,
                std::u16string* log, const FtpOptions& options) {
  auto Log = [log](const std::u16string& line) {
    if (log) *log += line + u"\r\n\r\n";
  };
  FtpClient ftp;
  if (!ftp.Connect(server, PortFromText(options.Port), userName, password,
                   IsPassiveText(options.UsePassive))) {
    Log(u"连接FTP出错．");
    return 0;
  }
  Log(u"连接FTP成功．");
  if (!remoteFolder.empty()) {
    if (ftp.ChangeFolder(remoteFolder)) {
      const std::u16string current = ftp.CurrentFolder();
      ftp.SetFolder(current);
      Log(Format(u"转到当前目录 %s 成功．", current));
    } else {
      std::vector<std::u16string> pieces;
      Split(remoteFolder, u"/", pieces);
      std::u16string path;
      for (const auto& piece : pieces) {
        if (piece.empty()) continue;
        path += u"/" + piece;
        if (!ftp.ChangeFolder(path)) {
          const bool made = ftp.MakeFolder(piece);
          Log(Format(made ? u"创建目录 %s/%s 成功．" : u"创建目录 %s/%s 失败．", remoteFolder,
                     piece));
        }
        ftp.CurrentFolder();
        // Going on in the wrong folder would put the file in the wrong place.
        if (!ftp.ChangeFolder(path)) {
          Log(Format(u"转到当前目录 %s 失败．", path));
          return 0;
        }
        ftp.SetFolder(path);
        Log(Format(u"转到当前目录 %s 成功．", path));
      }
    }
  }
  if (!remoteName.empty() && !localPath.empty()) {
    if (upload) {
      Log(Format(u"上传文件 %s 中...", localPath));
      if (!ftp.Upload(localPath, remoteName)) {
        Log(Format(u"上传文件 %s 失败．", localPath));
        return 0;
      }
      Log(Format(u"上传文件 %s 成功．", localPath));
    } else {
      Log(Format(u"下载文件 %s 中...", remoteName));
      if (!ftp.Download(remoteName, localPath)) {
        Log(Format(u"下载文件 %s 失败．", remoteName));
        return 0;
      }
      Log(Format(u"下载文件 %s 成功．", remoteName));
    }
  }
  ftp.Close();
  Log(u"退出FTP．");
  return 1;
}

int TestFtp(const std::u16string& server, const std::u16string& userName,
            const std::u16string& password, const std::u16string& folder, std::u16string& log,
            const FtpOptions& options) {
  const std::u16string local = ProgramPath(u"DB/TestFtp.txt");
  const std::string fsPath = ToFsPath(local);
  std::error_code ec;
  if (!std::filesystem::exists(fsPath, ec)) {
    std::filesystem::create_directories(std::filesystem::path(fsPath).parent_path(), ec);
    FilePtr f(std::fopen(fsPath.c_str(), "wb"));
    if (f) {
      const std::string text = "\xEF\xBB\xBF" + Utf16ToUtf8(u"测试FTP上传!");
      std::fwrite(text.data(), 1, text.size(), f.get());
    }
  }
  return FtpTransfer(server, userName, password, folder, u"TestFtp.txt", local, true, &log,
                     options);
}

}  // namespace pcutil
