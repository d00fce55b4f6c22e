// Saving remote files to disk, and FTP transfers against a local FTP server.
#include <gtest/gtest.h>

#include <filesystem>

#include "FtpFixture.h"
#include "HttpFixture.h"
#include "NetTestUtil.h"
#include "Sandbox.h"
#include "net/Http.h"
#include "net/Transfer.h"

using namespace pcutil;
using namespace nettest;
using rztest::FtpFixture;
using rztest::HttpFixture;
using rztest::ReadFile;
using rztest::TempDir;
using rztest::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string AllBytes(size_t repeat) {
  std::string s;
  for (size_t r = 0; r < repeat; ++r)
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

std::u16string P(const fs::path& p) { return U(p.string()); }

struct Ftp {
  FtpFixture server;
  FtpOptions Options(const std::u16string& passive = u"") const {
    return {U(std::to_string(server.Port())), passive};
  }
  int Transfer(const std::u16string& folder, const std::u16string& name,
               const std::u16string& local, bool upload, std::u16string* log,
               const std::u16string& passive = u"", const char* password = FtpFixture::kPassword) {
    return FtpTransfer(u"127.0.0.1", U(FtpFixture::kUser), U(password), folder, name, local,
                       upload, log, Options(passive));
  }
};

std::u16string Lines(std::initializer_list<std::u16string> lines) {
  std::u16string text;
  for (const auto& l : lines) text += l + u"\r\n\r\n";
  return text;
}

}  // namespace

TEST(DownloadToFile, ReplacesAnExistingFileWithTheRemoteBytes) {
  HttpFixture site;
  const std::string image = AllBytes(200);
  site.Serve("/img/a.jpg", rztest::Page(image, "image/jpeg"));
  site.Serve("/moved.jpg", rztest::Redirect("/img/a.jpg"));
  TempDir dir;
  const fs::path file = dir.Path() / "a.jpg";
  WriteFile(file, "old content that is longer than nothing");
  EXPECT_EQ(DownloadToFile(U(site.Url("/img/a.jpg")), P(file)), 1);
  EXPECT_EQ(ReadFile(file), image);
  EXPECT_EQ(DownloadToFile(U(site.Url("/moved.jpg")), P(dir.Path() / "b.jpg")), 1);
  EXPECT_EQ(ReadFile(dir.Path() / "b.jpg"), image);
  // The built-in agent, not the setting; the designed request headers.
  SetGlobalUserAgent(u"Setting/1");
  EXPECT_EQ(DownloadToFile(U(site.Url("/img/a.jpg")), P(file)), 1);
  SetGlobalUserAgent(u"");
  const auto last = site.Last();
  EXPECT_EQ(last.Header("User-Agent"), N(kDefaultUserAgent));
  EXPECT_EQ(last.Header("Accept"), "*/*");
  EXPECT_EQ(last.Header("Pragma"), "no-cache");
}

TEST(DownloadToFile, FailingStatusLeavesAnEmptyFile) {
  HttpFixture site;
  auto forbidden = rztest::Page("no");
  forbidden.Status = 403;
  site.Serve("/403.png", forbidden);
  auto created = rztest::Page("made");
  created.Status = 201;  // anything above 200 counts as failure
  site.Serve("/201.png", created);
  TempDir dir;
  for (const char* path : {"/missing.png", "/403.png", "/201.png"}) {
    SCOPED_TRACE(path);
    const fs::path file = dir.Path() / "x.png";
    WriteFile(file, "previous");
    EXPECT_EQ(DownloadToFile(U(site.Url(path)), P(file)), -1);
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
  }
}

TEST(DownloadToFile, UnreachableServerLeavesNoFile) {
  int port;
  {
    rztest::RawHttpServer gone;
    port = gone.Port();
  }
  TempDir dir;
  const fs::path file = dir.Path() / "x.png";
  WriteFile(file, "previous");
  EXPECT_EQ(DownloadToFile(U("http://127.0.0.1:" + std::to_string(port) + "/x.png"), P(file)),
            -1);
  EXPECT_FALSE(fs::exists(file));
  // A folder that does not exist cannot take the file.
  HttpFixture site;
  site.Serve("/x.png", rztest::Page("png"));
  EXPECT_EQ(DownloadToFile(U(site.Url("/x.png")), P(dir.Path() / "no" / "x.png")), -1);
}

TEST(DownloadToFile, StalledDownloadFails) {
  ShortTimeouts limits(1);
  HttpFixture site;
  rztest::HttpReply stall = rztest::Page(std::string(100000, 'x'), "image/png");
  stall.StallAfterBytes = 1;
  stall.StallMs = 60000;
  site.Serve("/stall.png", stall);
  TempDir dir;
  EXPECT_EQ(DownloadToFile(U(site.Url("/stall.png")), P(dir.Path() / "s.png")), -1);
}

TEST(FtpTransfer, CreatesMissingFolderLevelsAndLogsEachStep) {
  Ftp ftp;
  fs::create_directories(ftp.server.Root() / "a");
  TempDir dir;
  const fs::path local = dir.Path() / "pic 1.jpg";
  const std::string data = AllBytes(40);
  WriteFile(local, data);
  std::u16string log;
  ASSERT_EQ(ftp.Transfer(u"a/b/c", u"pic 1.jpg", P(local), true, &log), 1) << N(log);
  EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 /a 成功．", u"创建目录 a/b/c/b 成功．",
                        u"转到当前目录 /a/b 成功．", u"创建目录 a/b/c/c 成功．",
                        u"转到当前目录 /a/b/c 成功．", u"上传文件 " + P(local) + u" 中...",
                        u"上传文件 " + P(local) + u" 成功．", u"退出FTP．"}));
  EXPECT_EQ(ReadFile(ftp.server.Root() / "a/b/c/pic 1.jpg"), data);
}

TEST(FtpTransfer, ExistingFolderIsEnteredDirectly) {
  Ftp ftp;
  fs::create_directories(ftp.server.Root() / "up/2024");
  TempDir dir;
  WriteFile(dir.Path() / "f.txt", "text");
  std::u16string log;
  ASSERT_EQ(ftp.Transfer(u"/up/2024/", u"f.txt", P(dir.Path() / "f.txt"), true, &log), 1);
  EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 /up/2024 成功．",
                        u"上传文件 " + P(dir.Path() / "f.txt") + u" 中...",
                        u"上传文件 " + P(dir.Path() / "f.txt") + u" 成功．", u"退出FTP．"}));
  EXPECT_EQ(ReadFile(ftp.server.Root() / "up/2024/f.txt"), "text");
  // No folder: the file goes to the folder the login ends in.
  log.clear();
  ASSERT_EQ(ftp.Transfer(u"", u"top.txt", P(dir.Path() / "f.txt"), true, &log), 1);
  EXPECT_EQ(ReadFile(ftp.server.Root() / "top.txt"), "text");
  EXPECT_EQ(log.find(u"转到"), std::u16string::npos);
}

TEST(FtpTransfer, BinaryRoundTripInActiveAndPassiveMode) {
  Ftp ftp;
  TempDir dir;
  const std::string data = AllBytes(300) + "\r\n\n\r";
  WriteFile(dir.Path() / "up.bin", data);
  for (const std::u16string passive : {u"", u"1", u"true"}) {
    SCOPED_TRACE(N(passive));
    const std::u16string name = u"data" + passive + u".bin";
    std::u16string log;
    ASSERT_EQ(ftp.Transfer(u"bin", name, P(dir.Path() / "up.bin"), true, &log, passive), 1)
        << N(log);
    EXPECT_EQ(ReadFile(ftp.server.Root() / "bin" / N(name)), data);
    const fs::path back = dir.Path() / ("back" + N(passive) + ".bin");
    log.clear();
    ASSERT_EQ(ftp.Transfer(u"bin", name, P(back), false, &log, passive), 1) << N(log);
    EXPECT_EQ(ReadFile(back), data);
    EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 /bin 成功．", u"下载文件 " + name + u" 中...",
                          u"下载文件 " + name + u" 成功．", u"退出FTP．"}));
  }
}

TEST(FtpTransfer, RefusedLoginLogsTheConnectError) {
  Ftp ftp;
  TempDir dir;
  WriteFile(dir.Path() / "f.txt", "x");
  std::u16string log;
  EXPECT_EQ(ftp.Transfer(u"a", u"f.txt", P(dir.Path() / "f.txt"), true, &log, u"", "wrong"), 0);
  EXPECT_EQ(log, u"连接FTP出错．\r\n\r\n");
  EXPECT_FALSE(fs::exists(ftp.server.Root() / "a"));
  // Nothing listening there at all.
  log.clear();
  EXPECT_EQ(FtpTransfer(u"127.0.0.1", u"u", u"p", u"", u"", u"", true, &log, {u"1", u""}), 0);
  EXPECT_EQ(log, u"连接FTP出错．\r\n\r\n");
  // The log is optional.
  EXPECT_EQ(ftp.Transfer(u"", u"", u"", true, nullptr), 1);
}

TEST(FtpTransfer, FailuresEndTheTransferWithTheirLine) {
  Ftp ftp;
  TempDir dir;
  WriteFile(ftp.server.Root() / "remote.txt", "remote");
  WriteFile(ftp.server.Root() / "a" / "file", "a file where a folder should be");
  WriteFile(dir.Path() / "exists.txt", "local");

  // Download never replaces a local file.
  std::u16string log;
  EXPECT_EQ(ftp.Transfer(u"/", u"remote.txt", P(dir.Path() / "exists.txt"), false, &log), 0);
  EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 / 成功．", u"下载文件 remote.txt 中...",
                        u"下载文件 remote.txt 失败．"}));
  EXPECT_EQ(ReadFile(dir.Path() / "exists.txt"), "local");

  // A remote file that is not there leaves no local file behind.
  log.clear();
  EXPECT_EQ(ftp.Transfer(u"/", u"none.txt", P(dir.Path() / "none.txt"), false, &log), 0);
  EXPECT_FALSE(fs::exists(dir.Path() / "none.txt"));

  // A missing local file cannot be uploaded.
  log.clear();
  const std::u16string missing = P(dir.Path() / "missing.txt");
  EXPECT_EQ(ftp.Transfer(u"/", u"m.txt", missing, true, &log), 0);
  EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 / 成功．", u"上传文件 " + missing + u" 中...",
                        u"上传文件 " + missing + u" 失败．"}));

  // A folder level that cannot be made stops the transfer instead of uploading elsewhere.
  log.clear();
  EXPECT_EQ(ftp.Transfer(u"a/file/c", u"x.txt", P(dir.Path() / "exists.txt"), true, &log), 0);
  EXPECT_EQ(log, Lines({u"连接FTP成功．", u"转到当前目录 /a 成功．", u"创建目录 a/file/c/file 失败．",
                        u"转到当前目录 /a/file 失败．"}));
  EXPECT_FALSE(fs::exists(ftp.server.Root() / "a" / "x.txt"));
}

TEST(FtpTransfer, TestFtpUploadsItsOwnFile) {
  rztest::Sandbox sandbox;
  Ftp ftp;
  std::u16string log;
  ASSERT_EQ(TestFtp(u"127.0.0.1", U(FtpFixture::kUser), U(FtpFixture::kPassword), u"/test/dir",
                    log, ftp.Options()),
            1)
      << N(log);
  const std::string expected = "\xEF\xBB\xBF" + N(u"测试FTP上传!");
  EXPECT_EQ(ReadFile(sandbox / "DB/TestFtp.txt"), expected);
  EXPECT_EQ(ReadFile(ftp.server.Root() / "test/dir/TestFtp.txt"), expected);
  const std::u16string last = u"退出FTP．\r\n\r\n";
  EXPECT_EQ(log.substr(log.size() - last.size()), last);
  // An existing test file is used as it is.
  WriteFile(sandbox / "DB/TestFtp.txt", "mine");
  log.clear();
  ASSERT_EQ(TestFtp(u"127.0.0.1", U(FtpFixture::kUser), U(FtpFixture::kPassword), u"/test/dir",
                    log, ftp.Options()),
            1);
  EXPECT_EQ(ReadFile(ftp.server.Root() / "test/dir/TestFtp.txt"), "mine");
}
