// The collector's start-up work after the main window exists: the local database server,
// the start-up worker with the forced database upgrade dialog (CDBThreadDlg) and the update
// check, and their counterparts at exit.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/HtmlCtrl.h"
#include "storage/LocalServer.h"
#include "store/DbSettings.h"
#include "update/UpdateManager.h"

namespace rz {

class CMainFrame;
class CRizedeApp;
class SiteStore;
struct AppSettings;

struct StartupOptions {
  // The local database server's port (the settings name the local server with this port).
  std::u16string localServerPort = LocalServerPort();
  // The server manifest archive; empty: no update check.
  std::u16string manifestUrl;
  // How long the upgrade waits for a just started local server to accept connections.
  int serverWaitSeconds = 120;
};

// The manifest archive address of an update server ("scheme://host[:port]"); empty for empty.
std::u16string ManifestUrlOf(const std::u16string& updateServer);

// Reads the settings file into the global settings and hands the values other layers keep
// to them (the workers' fixed pause, the network's user agent).
void LoadStartupSettings();

constexpr int kMsgConversionDone = 1124;
inline constexpr char16_t kUpgradeCaption[] = u"旧数据库强制升级向导【*】";
inline constexpr char16_t kUpgradeAbortQuestion[] = u"强烈建议不要中止转换数据库\r\n是否继续中止转换?";
inline constexpr char16_t kNewVersionMessage[] = u"您的软件有新的版本，请点确定进行更新！\r\n%s";

// The forced upgrade dialog: shows the conversion worker's status line; Cancel asks before it
// stops the conversion. Made and destroyed on the UI thread; shown with RunModal.
class CDBThreadDlg : public CRizedeHtmlCtrl {
 public:
  CDBThreadDlg(CPageHost& host, DbSettings target, SiteStore& store, AppSettings& settings);
  ~CDBThreadDlg() override;

  // Starts the conversion worker (once) and loads the page.
  void OnInitialUpdate() override;
  void OnDocumentComplete(const std::u16string& url) override;
  std::vector<EventEntry> EventTable() override;
  long OnWindowMessage(int message, long long param) override;

  // Asks the abort question; 1 = OK. Default: no one to ask, the conversion goes on.
  std::function<int(const std::u16string& text)> confirm;

  // Waits for the conversion worker (any thread but the UI thread).
  void Join();
  bool Running() const { return running_; }
  bool Succeeded() const { return succeeded_; }
  // The status line as last shown.
  std::u16string StatusLine() const;
  const DbSettings& Target() const { return target_; }

 private:
  void Work();
  void ShowStatus(const std::u16string& text);

  DbSettings target_;
  SiteStore& store_;
  AppSettings& settings_;
  std::atomic<bool> running_{true};
  std::atomic<bool> succeeded_{false};
  mutable std::mutex statusMutex_;
  std::u16string status_ = u"正准备转换数据库...";
  std::thread worker_;
};

// The start-up worker: the upgrade when the settings do not name the local server, then the
// update check; a new version is announced and command 32777 is sent to the main window.
class CStartupWorker : public pcutil::SignalReceiver {
 public:
  CStartupWorker(CMainFrame& frame, StartupOptions options);
  ~CStartupWorker() override;

  void Start();
  // At exit: stops waiting and lets the thread end with the process.
  void End();
  // Waits for the worker (tests).
  void Join();

  // Set while the upgrade dialog is open (UI thread only).
  CDBThreadDlg* Dialog() const { return dialog_; }
  CUpdateManager* UpdateManager() const { return manager_.get(); }
  bool UpgradeRan() const { return upgradeRan_; }
  // Replaces the message box of the new-version notice (tests); returns the box's answer.
  std::function<int(const std::u16string& text)> newVersionBox;
  // Called on the UI thread after a successful upgrade (the settings now name the server).
  std::function<void()> afterUpgrade;

 private:
  void Run();
  void Upgrade();
  bool WaitForServer();
  void OnCheckFinished(int result);
  void OnUpdateError(std::u16string text);

  CMainFrame& frame_;
  StartupOptions options_;
  std::thread thread_;
  std::atomic<bool> ending_{false};
  std::atomic<bool> upgradeRan_{false};
  CDBThreadDlg* dialog_ = nullptr;
  std::unique_ptr<CUpdateManager> manager_;
};

// Fills the start-up and exit steps of the application that are still empty: crash handler,
// local database server start and stop, start-up worker.
void InstallStartupSteps(CRizedeApp& app, StartupOptions options);

}  // namespace rz
