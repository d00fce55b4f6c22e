// Local file publishing (CSV rows, one TXT or HTML file per item) and the FTP upload of an
// item's downloaded files.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "foundation/DiagLog.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "net/Transfer.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "publish/Template.h"
#include "storage/ContentDatabase.h"
#include "xml/XmlFile.h"

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;
namespace fs = std::filesystem;

namespace {

std::u16string HomeFolder() {
  const char* home = std::getenv("HOME");
  return pcutil::Utf8ToUtf16(home && *home ? home : "/tmp");
}

// XDG_DESKTOP_DIR from the user-dirs file ("$HOME/Desktop" style).
std::u16string XdgDesktop() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string file = (config && *config ? std::string(config)
                                               : pcutil::Utf16ToUtf8(HomeFolder()) + "/.config") +
                           "/user-dirs.dirs";
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
    std::string v = line.substr(16);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = pcutil::Utf16ToUtf8(HomeFolder()) + v.substr(5);
    if (v.empty() || v[0] != '/') return u"";
    return pcutil::Utf8ToUtf16(v);
  }
  return u"";
}

std::u16string WithSlash(std::u16string folder) {
  folder = ReplaceAll(folder, u"\\", u"/");
  if (folder.empty() || folder.back() != u'/') folder += u'/';
  return folder;
}

std::u16string FieldOf(const ToData& item, const char16_t* name) {
  auto it = item.Fields.find(name);
  return it == item.Fields.end() ? u"" : it->second;
}

}  // namespace

std::u16string DesktopFolder() {
  std::u16string folder = XdgDesktop();
  if (folder.empty()) folder = HomeFolder() + u"/Desktop";
  std::error_code ec;
  fs::create_directories(pcutil::ToFsPath(folder), ec);
  return WithSlash(folder);
}

std::u16string DefaultContentTemplate(const std::u16string& format) {
  if (format == u"csv") return Format(u"%s,%s", u"[DB:标题]", u"[DB:内容]");
  if (format == u"txt") return u"[DB:内容]";
  if (format == u"html") {
    std::u16string text;
    if (pcutil::ReadTextFile(pcutil::ProgramPath(u"html_tpl.html"), text, pcutil::TextModeDetect) == 0)
      return text;
  }
  return u"";
}

std::u16string CsvFilePath(const JobRule& job) {
  const std::u16string& path = job.LocalFilePublish.LocalPath;
  const std::u16string folder = path.empty() ? DesktopFolder() : WithSlash(path);
  return folder + (job.JobName.empty() ? job.JobId : job.JobName) + u".csv";
}

std::u16string ExpandFileNamePattern(const std::u16string& pattern) {
  static std::atomic<long> counter{0};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::u16string s = pattern;
  s = ReplaceAll(s, u"YYYY", Format(u"%04d", tm.tm_year + 1900));
  s = ReplaceAll(s, u"MM", Format(u"%02d", tm.tm_mon + 1));
  s = ReplaceAll(s, u"DD", Format(u"%02d", tm.tm_mday));
  s = ReplaceAll(s, u"HH", Format(u"%02d", tm.tm_hour));
  s = ReplaceAll(s, u"mm", Format(u"%02d", tm.tm_min));
  s = ReplaceAll(s, u"ss", Format(u"%02d", tm.tm_sec));
  if (s.find(u"[自增ID]") != std::u16string::npos)
    s = ReplaceAll(s, u"[自增ID]", Format(u"%ld", static_cast<long>(++counter)));
  while (s.find(u"[随机文件名]") != std::u16string::npos) {
    std::u16string name;
    static const char16_t letters[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < 8; ++i) name += letters[PublishRandomBelow(36)];
    const size_t at = s.find(u"[随机文件名]");
    s.replace(at, 7, name);
  }
  return s;
}

int PublishToLocalFile(CPublishThread& runner, ToData& item, const PublishTarget& target,
                       const JobRule& job) {
  const std::u16string folder =
      target.LocalPath.empty() ? DesktopFolder() : WithSlash(target.LocalPath);
  std::error_code ec;
  fs::create_directories(pcutil::ToFsPath(folder), ec);
  const std::u16string& format = target.ModuleName;

  if (format == u"csv") {
    const std::u16string file = CsvFilePath(job);
    std::map<std::u16string, std::u16string> escaped;
    for (const auto& [name, value] : item.Fields) {
      // A CR LF inside a value is one line break.
      std::u16string v = ReplaceAll(value, u"\r\n", u"\n");
      v = ReplaceAll(v, u"\"", u"\"\"");
      v = ReplaceAll(v, u"\n", u"\"\n\"");
      escaped[name] = v;
    }
    std::vector<std::u16string> pieces;
    pcutil::Split(target.ContentTmpl, u",", pieces, true);
    if (pieces.empty()) pieces.push_back(target.ContentTmpl);
    std::u16string row;
    for (const auto& p : pieces) row += u"\"" + p + u"\",";
    row.pop_back();
    row = FillLabelTags(row, escaped);
    // The file is text mode on the old system: every line feed is written as CR LF.
    const pcutil::Bytes bytes = pcutil::Utf16ToLocal(ReplaceAll(row, u"\n", u"\r\n") + u"\r\n");
    bool written = false;
    {
      std::lock_guard guard(runner.PublishLock());
      if (FILE* f = std::fopen(pcutil::ToFsPath(file).c_str(), "ab")) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        written = (std::fclose(f) == 0) && written;
      }
    }
    if (!written) {
      item.Text = Format(u"保存为csv文件[%s]时失败", file);
      return kPublishSaveFailed;
    }
    item.Text = u"添加一条CSV记录成功";
    pcutil::UnitPause();
    return kPublishFileSaved;
  }

  if (format == u"txt" || format == u"html") {
    const std::u16string content = FillLabelTags(target.ContentTmpl, item.Fields);
    // Date and counter parts first, so that label text is never taken for them.
    std::u16string name = FillLabelTags(ExpandFileNamePattern(target.FileNameTmpl), item.Fields);
    const bool html = format == u"html";
    for (auto& c : name) {
      if (std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos)
        c = html ? u'-' : u' ';
      else if (c == u' ' && html)
        c = u'-';
      else if (c < 0x20)
        c = html ? u'-' : u' ';  // control characters make no file name either
    }
    size_t b = 0, e = name.size();
    while (b < e && name[b] == u' ') ++b;
    while (e > b && name[e - 1] == u' ') --e;
    name = name.substr(b, e - b);
    if (name.empty() || name == u"." || name == u"..") {
      item.Text = u"文件名为空，保存失败";
      return kPublishSaveFailed;
    }
    // Keep the name within what the file system takes (255 bytes), extension included.
    while (pcutil::Utf16ToUtf8(name).size() > 240) name.pop_back();
    if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
    const std::u16string path = folder + name + u"." + format;
    if (!pcutil::WriteTextFile(path, content, pcutil::TextModeAnsi)) {
      item.Text = Format(u"保存为本地文件时失败原因:写入文件[%s]失败", path);
      return kPublishSaveFailed;
    }
    item.Text = name;
    pcutil::UnitPause();
    return kPublishFileSaved;
  }

  item.Text = Format(u"保存为本地文件时失败原因:保存格式不支持[%s]", format);
  return kPublishSaveFailed;
}

void UploadItemFiles(CPublishThread& runner, const JobRule& job, ToData& item) {
  ContentDatabase* db = runner.ContentDb();
  if (!db) return;
  const std::u16string webDir = ReplaceAll(job.FileWebDir, u"\\", u"/");
  const bool rewrite = !webDir.empty() && webDir != u"/";
  if (!job.EnableFtp && !rewrite) return;

  struct Record {
    std::u16string Id, SaveUrl, ReplaceUrl;
  };
  std::vector<Record> records;
  {
    std::lock_guard guard(runner.ContentDbLock());
    if (db->SelectPendingUploads(FieldOf(item, u"PageUrl"))) {
      const long n = db->RecordCount();
      for (long i = 0; i < n; ++i) {
        FieldMap row;
        if (!db->ReadRow(row, i)) break;
        records.push_back({row[u"ID"], row[u"SaveUrl"], row[u"ReplaceUrl"]});
      }
      db->CloseQuery();
    }
  }
  if (records.empty()) return;

  if (rewrite) {
    for (auto& [name, value] : item.Fields) {
      for (const Record& r : records) {
        if (r.ReplaceUrl.empty()) continue;
        std::u16string web = ReplaceAll(r.ReplaceUrl, u"\\", u"/");
        if (!web.empty() && web[0] == u'/') web.erase(0, 1);
        const std::u16string address = job.FileWebDir + web;
        // The item meets this for every destination: addresses rewritten by an earlier
        // destination are set aside so they never get the prefix twice.
        const std::u16string hold = u"\uE000\uE001";
        value = ReplaceAll(value, address, hold);
        value = ReplaceAll(value, r.ReplaceUrl, address);
        value = ReplaceAll(value, hold, address);
      }
    }
  }
  if (!job.EnableFtp) return;

  for (const Record& r : records) {
    pcutil::UnitPause();
    const std::u16string rel = ReplaceAll(r.ReplaceUrl, u"/", u"\\");
    const size_t cut = rel.rfind(u'\\');
    std::u16string folder = job.FtpDir + (cut == std::u16string::npos ? u"" : rel.substr(0, cut));
    folder = ReplaceAll(folder, u"\\", u"/");
    while (folder.find(u"//") != std::u16string::npos) folder = ReplaceAll(folder, u"//", u"/");
    const std::u16string remoteName = cut == std::u16string::npos ? rel : rel.substr(cut + 1);
    pcutil::FtpOptions options;
    options.Port = job.FtpPort;
    options.UsePassive = job.UsePassive;
    const int ok = pcutil::FtpTransfer(job.FtpServer, job.FtpUserName, job.FtpPassword, folder,
                                       remoteName, r.SaveUrl, true, nullptr, options);
    if (ok == 1) {
      bool marked;
      {
        std::lock_guard guard(runner.ContentDbLock());
        marked = db->MarkUploaded(r.Id);
      }
      if (marked)
        item.Text = Format(u"上传文件--成功上传文件：<a href=\"%s\" target=\"_blank\">%s</a>",
                           r.SaveUrl, r.SaveUrl);
      else
        pcutil::WriteDiagnosticLog(db->LastError.empty()
                                       ? Format(u"数据库操作-写入下载出错%s", r.Id)
                                       : db->LastError);
    } else {
      item.Text = Format(
          u"<font color=\"red\">上传文件--上传文件失败：<a href=\"%s\" target=\"_blank\">%s</a>，"
          u"请确保设置FTP正确</font>",
          r.SaveUrl, r.SaveUrl);
    }
  }
}

}  // namespace rz
