// The collector's start-up work: the local database server, the forced upgrade dialog and
// the update check, with the main window's program side and no browser attached.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "app/MainFrame.h"
#include "app/RizedeApp.h"
#include "app/Startup.h"
#include "foundation/Text.h"
#include "storage/Conversion.h"
#include "storage/LocalServer.h"
#include "store/JobRule.h"
#include "store/Settings.h"
#include "store/Sites.h"
#include "update/UpdateManager.h"
#include "update/Zip.h"

namespace fs = std::filesystem;
using pcutil::Utf8ToUtf16;

namespace {

// A listening loopback socket: stands for a database server that accepts connections.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 16);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  std::u16string Port() const { return Utf8ToUtf16(std::to_string(port_)); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A loopback port with nothing listening on it.
std::u16string ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return Utf8ToUtf16(std::to_string(ntohs(a.sin_port)));
}

// The main window's program side on its own UI loop.
struct Ui {
  rz::CUiLoop loop;
  rz::CPageHost host{loop};
  std::unique_ptr<rz::CMainFrame> frame;
  std::vector<int> updateCommands;
  Ui() {
    loop.Start();
    loop.Send([this] {
      frame = std::make_unique<rz::CMainFrame>(host);
      frame->onUpdate = [this] { updateCommands.push_back(32777); };
      frame->Create();
    });
  }
  ~Ui() {
    loop.Send([this] { frame.reset(); });
    loop.Quit();
    loop.Join();
  }
  // Titles of the dialogs open right now.
  std::vector<std::string> Dialogs() {
    std::vector<std::string> out;
    loop.Send([&] {
      for (int id = 1; id < 200; ++id) {
        rz::Json r = host.PageRecord(id);
        if (r.is_object() && r.value("place", "") == "dialog") out.push_back(r.value("title", ""));
      }
    });
    return out;
  }
};

// Only the jobs a test makes itself (the shipped template job is left out).
void NoJobs(const rztest::Sandbox& box) {
  fs::remove_all(box / "Data/Job");
  fs::create_directories(box / "Data/Job");
}

void SetDatabase(const std::u16string& type, const std::u16string& port) {
  rz::GlobalSettings() = rz::AppSettings{};
  rz::GlobalSettings().DBTYPE = type;
  rz::GlobalSettings().Port = port;
  ASSERT_TRUE(rz::SaveSettings(rz::GlobalSettings()));
}

// One site with one job whose rule file exists.
void AddJob() {
  rz::SiteStore store;
  auto site = store.AddSite(store.NewId(), u"站点");
  auto rule = std::make_shared<rz::JobRule>();
  rule->JobId = store.NewId();
  rule->SiteId = site->SiteId;
  rule->JobName = u"任务甲";
  ASSERT_TRUE(rz::SaveJobRule(*rule));
  auto job = std::make_shared<rz::JobEntry>();
  job->JobId = rule->JobId;
  job->JobName = rule->JobName;
  site->Jobs.push_back(job);
  ASSERT_TRUE(store.SaveIndex());
}

std::string ManifestArchive(const rz::Manifest& m) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "Version.xml", pcutil::Utf16ToUtf8(rz::ManifestXml(m)));
  auto zip = Utf8ToUtf16((dir.Path() / "Version.zip").string());
  EXPECT_TRUE(rz::WriteZip(zip, {{"Version.xml", Utf8ToUtf16((dir.Path() / "Version.xml").string())}}));
  return rztest::ReadFile(dir.Path() / "Version.zip");
}

}  // namespace

// The upgrade runs exactly when the settings do not name the local server (type and port);
// afterwards they do, in memory and in the settings file.
TEST(Startup, UpgradeWhenTheSettingsDoNotNameTheLocalServer) {
  Listener server;
  struct Case {
    const char* name;
    std::u16string type, port;
    bool upgrade;
  } cases[] = {
      {"local server", u"MySql", server.Port(), false},
      {"file database", u"ACCESS", server.Port(), true},
      {"another MySql port", u"MySql", u"3306", true},
      {"type compared exactly", u"mysql", server.Port(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::Sandbox box;
    NoJobs(box);
    SetDatabase(c.type, c.port);
    Ui ui;
    rz::StartupOptions options;
    options.localServerPort = server.Port();
    rz::CStartupWorker worker(*ui.frame, options);
    bool afterUpgrade = false;
    worker.afterUpgrade = [&] { afterUpgrade = true; };
    worker.Start();
    worker.Join();
    EXPECT_EQ(worker.UpgradeRan(), c.upgrade);
    EXPECT_EQ(afterUpgrade, c.upgrade);
    EXPECT_EQ(rz::GlobalSettings().DBTYPE, c.upgrade ? u"MySql" : c.type);
    EXPECT_EQ(rz::GlobalSettings().Port, c.upgrade ? server.Port() : c.port);
    rz::AppSettings saved;
    ASSERT_TRUE(rz::LoadSettings(saved));
    EXPECT_EQ(saved.DBTYPE, rz::GlobalSettings().DBTYPE);
    EXPECT_EQ(saved.Port, rz::GlobalSettings().Port);
    EXPECT_EQ(saved.SqlHost, u"127.0.0.1");
    EXPECT_EQ(saved.SqlDb, u"kitesoft");
    EXPECT_TRUE(ui.Dialogs().empty());  // closed with OK by the worker's end message
  }
  rz::GlobalSettings() = rz::AppSettings{};
}

// A target that cannot be created leaves the dialog open with its message; Cancel asks, and
// only OK there ends the dialog (and stops the conversion).
TEST(Startup, UpgradeDialogStaysOnFailureAndAsksBeforeAborting) {
  rztest::Sandbox box;
  NoJobs(box);
  AddJob();
  SetDatabase(u"ACCESS", u"");
  Ui ui;
  rz::DbSettings target = rz::LocalServerSettings();
  target.Port = ClosedPort();
  rz::SiteStore store;
  store.LoadIndex();
  rz::AppSettings settings = rz::GlobalSettings();

  std::unique_ptr<rz::CDBThreadDlg> dialog;
  std::vector<std::u16string> questions;
  std::atomic<int> answer{2};
  ui.loop.Send([&] {
    dialog = std::make_unique<rz::CDBThreadDlg>(ui.host, target, store, settings);
    dialog->confirm = [&](const std::u16string& q) {
      questions.push_back(q);
      return answer.load();
    };
  });
  auto modal = std::async(std::launch::async, [&] {
    return ui.host.RunModal(*dialog, {{"title", pcutil::Utf16ToUtf8(rz::kUpgradeCaption)}});
  });
  // The worker gives up on the first job: the status says so and the dialog stays.
  std::u16string failed = rz::ConversionStatusLine(u"创建任务甲的数据库失败");
  for (int i = 0; i < 600 && dialog->StatusLine() != failed; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(dialog->StatusLine(), failed);
  dialog->Join();
  EXPECT_FALSE(dialog->Succeeded());
  EXPECT_EQ(ui.Dialogs(), std::vector<std::string>{"旧数据库强制升级向导【*】"});
  EXPECT_EQ(modal.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  // Cancel, then Cancel in the question: nothing changes.
  ui.loop.Send([&] { dialog->OnWindowMessage(rz::kMsgCloseRequest, 0); });
  EXPECT_TRUE(dialog->Running());
  EXPECT_EQ(ui.Dialogs().size(), 1u);
  // Cancel, then OK: the dialog ends with 1.
  answer = 1;
  ui.loop.Send([&] { dialog->OnWindowMessage(rz::kMsgCloseRequest, 0); });
  EXPECT_EQ(modal.get(), 1);
  EXPECT_FALSE(dialog->Running());
  EXPECT_EQ(questions, (std::vector<std::u16string>(2, rz::kUpgradeAbortQuestion)));
  // The application's settings were not touched by the failed conversion.
  EXPECT_EQ(settings.DBTYPE, u"ACCESS");
  ui.loop.Send([&] { dialog.reset(); });
}

// The update check against a local manifest server: a new version shows the designed notice
// with the manifest's tip and sends command 32777; no new version and a failed check show
// nothing.
TEST(Startup, UpdateCheckAnnouncesNewVersions) {
  Listener server;
  rz::Manifest installed;
  rz::UpdateData item;
  item.Name = item.FilePath = u"Rizede";
  item.Version = u"1.0.0.1";
  installed.Items = {item};
  rz::Manifest newer = installed;
  newer.Items[0].Version = u"1.0.0.2";
  newer.UpdateTip = u"修复了若干问题";
  struct Case {
    const char* name;
    std::string archive;  // empty: the server has none
    std::vector<std::u16string> notices;
  } cases[] = {
      {"new version", ManifestArchive(newer),
       {u"您的软件有新的版本，请点确定进行更新！\r\n修复了若干问题"}},
      {"up to date", ManifestArchive(installed), {}},
      {"no manifest on the server", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::Sandbox box;
    SetDatabase(u"MySql", server.Port());
    fs::create_directories(box / "System");
    rztest::WriteFile(box / "System/Version.zip", ManifestArchive(installed));
    rztest::HttpFixture site;
    if (!c.archive.empty()) site.Serve("/system/version.zip", rztest::Page(c.archive, "application/zip"));

    Ui ui;
    rz::StartupOptions options;
    options.localServerPort = server.Port();
    options.manifestUrl = rz::ManifestUrlOf(Utf8ToUtf16(site.Url("/")));
    rz::CStartupWorker worker(*ui.frame, options);
    std::vector<std::u16string> notices;
    worker.newVersionBox = [&](const std::u16string& text) {
      notices.push_back(text);
      return 1;
    };
    worker.Start();
    worker.Join();
    EXPECT_FALSE(worker.UpgradeRan());
    EXPECT_EQ(notices, c.notices);
    EXPECT_EQ(ui.updateCommands.size(), c.notices.size());
    ASSERT_NE(worker.UpdateManager(), nullptr);
    EXPECT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(site.Last().Path, "/system/version.zip");
  }
  rz::GlobalSettings() = rz::AppSettings{};
}

TEST(Startup, ManifestAddressOfTheUpdateServer) {
  EXPECT_EQ(rz::ManifestUrlOf(u""), u"");
  EXPECT_EQ(rz::ManifestUrlOf(u"http://127.0.0.1:8080"), u"http://127.0.0.1:8080/system/version.zip");
  EXPECT_EQ(rz::ManifestUrlOf(u"http://127.0.0.1:8080/"), u"http://127.0.0.1:8080/system/version.zip");
}

// The program's steps start the program folder's own database server and stop it at exit.
TEST(Startup, DatabaseServerStartedAndStopped) {
  rztest::Sandbox box;
  if (!fs::exists(box / "Mysql/bin/KiteSoft-mysql")) GTEST_SKIP() << "no launcher in the program folder";
  rz::CRizedeApp app;
  rz::StartupOptions options;
  options.localServerPort = ClosedPort();
  rz::InstallStartupSteps(app, options);
  const std::u16string folder = pcutil::ProgramPath();
  ASSERT_FALSE(rz::IsLocalServerRunningAt(folder));
  app.startDatabaseServer();
  EXPECT_TRUE(rz::IsLocalServerRunningAt(folder));
  app.stopDatabaseServer();
  EXPECT_FALSE(rz::IsLocalServerRunningAt(folder));
}
