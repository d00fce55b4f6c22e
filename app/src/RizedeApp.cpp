#include "app/RizedeApp.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

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
  return 0;
}

}  // namespace rz
