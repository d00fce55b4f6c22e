#include "app/Startup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "app/MainFrame.h"
#include "app/RizedeApp.h"
#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "platform/CrashHandler.h"
#include "storage/Conversion.h"
#include "storage/LocalServer.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace rz {

using pcutil::Utf16ToUtf8;

std::u16string ManifestUrlOf(const std::u16string& updateServer) {
  if (updateServer.empty()) return {};
  std::u16string base = updateServer;
  while (!base.empty() && base.back() == u'/') base.pop_back();
  return base + u"/system/version.zip";
}

void LoadStartupSettings() {
  LoadGlobalSettings();
  pcutil::SetGlobalUserAgent(GlobalSettings().UserAgent);
}

// ---------------------------------------------------------------- CDBThreadDlg

CDBThreadDlg::CDBThreadDlg(CPageHost& host, DbSettings target, SiteStore& store,
                           AppSettings& settings)
    : CRizedeHtmlCtrl(host), target_(std::move(target)), store_(store), settings_(settings) {}

CDBThreadDlg::~CDBThreadDlg() {
  // Normally joined by the start-up worker; a dialog torn down early still waits for the job
  // being copied rather than leave a thread behind that refers to it.
  running_ = false;
  if (worker_.joinable()) worker_.join();
}

void CDBThreadDlg::OnInitialUpdate() {
  if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  NavigatePage(u"DBThreadDlg.html");
}

void CDBThreadDlg::OnDocumentComplete(const std::u16string&) {
  SetInnerHtml(u"status", pcutil::HtmlEscape(StatusLine()));
}

std::vector<EventEntry> CDBThreadDlg::EventTable() {
  return {{kEventById, kEvClick, u"btnExit", [this](const CElement&) {
             OnWindowMessage(kMsgCloseRequest, 0);
             return 1;
           }}};
}

long CDBThreadDlg::OnWindowMessage(int message, long long) {
  if (message == kMsgConversionDone) {
    Host().EndDialog(PageId(), 1);
  } else if (message == kMsgCloseRequest) {
    // Cancel: only a confirmed abort stops the conversion (after the job being copied).
    if (confirm && confirm(kUpgradeAbortQuestion) == 1) {
      running_ = false;
      Host().EndDialog(PageId(), 1);
    }
  }
  return 0;
}

void CDBThreadDlg::Join() {
  if (worker_.joinable()) worker_.join();
}

std::u16string CDBThreadDlg::StatusLine() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return status_;
}

void CDBThreadDlg::ShowStatus(const std::u16string& text) {
  std::u16string line = ConversionStatusLine(text);
  {
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_ = line;
  }
  // The page is written on the UI thread; the dialog outlives every call posted here (its
  // owner joins this worker and then destroys it through the same queue).
  Host().Loop().Post([this, line] { SetInnerHtml(u"status", pcutil::HtmlEscape(line)); });
}

void CDBThreadDlg::Work() {
  ConversionHooks hooks;
  hooks.Status = [this](const std::u16string& text) { ShowStatus(text); };
  hooks.KeepGoing = [this] { return running_.load(); };
  bool ok = ConvertDatabases(store_, settings_, target_, hooks);
  succeeded_ = ok;
  if (ok) Host().Loop().Post([this] { OnWindowMessage(kMsgConversionDone, 0); });
  // A failed database creation leaves the dialog open with its message, as designed.
}

// ---------------------------------------------------------------- CStartupWorker

CStartupWorker::CStartupWorker(CMainFrame& frame, StartupOptions options)
    : frame_(frame), options_(std::move(options)) {}

CStartupWorker::~CStartupWorker() {
  DisconnectAll();
  End();
}

void CStartupWorker::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void CStartupWorker::End() {
  ending_ = true;
  // A thread still waiting on the server, the dialog or the update server ends with the
  // process; nothing it holds needs cleaning up.
  if (thread_.joinable()) thread_.detach();
}

void CStartupWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

void CStartupWorker::Run() {
  const AppSettings& s = GlobalSettings();
  if (!(s.DBTYPE == u"MySql" && s.Port == options_.localServerPort)) Upgrade();
  if (ending_) return;

  if (options_.manifestUrl.empty()) {
    pcutil::WriteDiagnosticLog(u"update check skipped: no update server in the settings");
    return;
  }
  manager_ = std::make_unique<CUpdateManager>(options_.manifestUrl, u"Rizede", u"Update");
  manager_->CheckFinished.Connect(this, &CStartupWorker::OnCheckFinished);
  manager_->UpdateError.Connect(this, &CStartupWorker::OnUpdateError);
  manager_->CheckForUpdates();
}

bool CStartupWorker::WaitForServer() {
  const int port = std::stoi(Utf16ToUtf8(options_.localServerPort));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(options_.serverWaitSeconds);
  while (!ending_) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (up) return true;
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

void CStartupWorker::Upgrade() {
  upgradeRan_ = true;
  DbSettings target = LocalServerSettings();
  target.Port = options_.localServerPort;
  // The server was started a moment ago; a first start creates its data folder first.
  if (!WaitForServer()) pcutil::WriteDiagnosticLog(u"local database server not reachable for the upgrade");
  if (ending_) return;

  SiteStore store;  // the worker's own view of the index: the tree's is the UI thread's
  store.LoadIndex();
  CUiLoop& loop = frame_.Host().Loop();
  std::unique_ptr<CDBThreadDlg> dialog;
  loop.Send([&] {
    dialog = std::make_unique<CDBThreadDlg>(frame_.Host(), target, store, GlobalSettings());
    dialog->confirm = [this](const std::u16string& text) {
      return frame_.MessageBox(text, u"提示", true);
    };
    dialog_ = dialog.get();
  });
  if (!dialog) return;
  frame_.Host().RunModal(*dialog, {{"title", Utf16ToUtf8(kUpgradeCaption)},
                                    {"width", 480},
                                    {"height", 140}});
  if (ending_) {
    // The process is ending: the dialog and its worker go with it, untouched.
    (void)dialog.release();
    return;
  }
  dialog->Join();
  bool ok = dialog->Succeeded();
  loop.Send([&] {
    dialog_ = nullptr;
    dialog.reset();
    if (ok && afterUpgrade) afterUpgrade();
  });
}

void CStartupWorker::OnCheckFinished(int result) {
  if (result == 0 || ending_) return;
  std::u16string text = pcutil::Format(kNewVersionMessage, manager_->UpdateList().UpdateTip);
  frame_.Host().Loop().Send([this, text] {
    int answer = newVersionBox ? newVersionBox(text) : frame_.MessageBox(text);
    // 0: the program is ending while the box was open.
    if (answer != 0) frame_.OnCommand(32777);
  });
}

void CStartupWorker::OnUpdateError(std::u16string text) {
  // Nothing is shown during the start-up check.
  pcutil::WriteDiagnosticLog(u"update check: " + text);
}

// ---------------------------------------------------------------- wiring

void InstallStartupSteps(CRizedeApp& app, StartupOptions options) {
  if (!app.installCrashHandler) app.installCrashHandler = [] { InstallCrashHandler(); };
  const std::u16string port = options.localServerPort;
  if (!app.startDatabaseServer)
    app.startDatabaseServer = [port] { StartLocalServerAt(pcutil::ProgramPath(), port); };
  if (!app.stopDatabaseServer)
    app.stopDatabaseServer = [] { StopLocalServerAt(pcutil::ProgramPath()); };
  if (!app.startStartupWorker)
    app.startStartupWorker = [&app, options] { app.StartStartupWorker(options); };
  if (!app.endStartupWorker)
    app.endStartupWorker = [&app] {
      if (app.StartupWorker()) app.StartupWorker()->End();
    };
}

}  // namespace rz
