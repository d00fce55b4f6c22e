#include "app/RizedeApp.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "foundation/Text.h"
#include "platform/CrashHandler.h"
#include "store/Settings.h"

namespace rz {

CRizedeApp::CRizedeApp() {
  // SIGTERM and SIGINT are taken by Run's sigwait; every thread started from here on
  // inherits the blocked mask, so none of them is interrupted by the signal.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  host_ = std::make_unique<CPageHost>(loop_);
  server_ = std::make_unique<CUiServer>(*host_);
}

CRizedeApp::~CRizedeApp() {
  server_->Stop();
  if (startup_) startup_->End();
  loop_.Quit();
  loop_.Join();
}

bool CRizedeApp::InitInstance(const UiServerOptions& server, ShellOptions shell,
                              std::string& error) {
  if (installCrashHandler) installCrashHandler();
  CUiLoop::SetCurrent(&loop_);
  loop_.Start();
  frame_ = std::make_unique<CMainFrame>(*host_, std::move(shell));
  frame_->onExit = [this] { RequestExit(); };
  loop_.SetIdleHandler([this] { frame_->UpdateCommandUi(); });
  loop_.Send([this] {
    frame_->Create();
    if (startDatabaseServer) startDatabaseServer();
    if (startStartupWorker) startStartupWorker();
  });
  return server_->Start(server, error);
}

bool CRizedeApp::InitFromSettings(std::string& error) {
  InstallCrashHandler();
  LoadStartupSettings();
  const AppSettings& s = GlobalSettings();
  UiServerOptions server;
  server.port = s.UiPort;
  if (const char* port = std::getenv("RIZEDE_UI_PORT"); port && *port) server.port = std::atoi(port);
  ShellOptions shell;
  shell.siteUrl = pcutil::Utf16ToUtf8(s.SiteUrl);
  shell.startPageUrl = pcutil::Utf16ToUtf8(s.StartPageUrl);
  StartupOptions startup;
  startup.manifestUrl = ManifestUrlOf(s.UpdateServer);
  shell.manifestUrl = pcutil::Utf16ToUtf8(startup.manifestUrl);
  InstallStartupSteps(*this, startup);
  endProcess_ = true;
  return InitInstance(server, std::move(shell), error);
}

void CRizedeApp::StartStartupWorker(const StartupOptions& options) {
  if (startup_) return;
  startup_ = std::make_unique<CStartupWorker>(*frame_, options);
  startup_->Start();
}

void CRizedeApp::RequestExit() { kill(getpid(), SIGTERM); }

int CRizedeApp::Run() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  int signo = 0;
  sigwait(&set, &signo);
  // Exit: the shell is told, the tree state saved, the database server stopped, the
  // start-up worker ended; running jobs end with the process.
  loop_.Send([this] {
    host_->SayGoodbye();
    if (saveTreeState) saveTreeState();
    if (stopDatabaseServer) stopDatabaseServer();
    if (endStartupWorker) endStartupWorker();
  });
  server_->Stop();
  loop_.Quit();
  loop_.Join();
  if (endProcess_) {
    // Running jobs and a waiting start-up worker end with the process, as designed; nothing
    // is torn down under them.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}

}  // namespace rz
