// Start-up and exit of the collector: the UI loop, the page bridge and its server, the main
// window, and the steps of the designed order that later parts plug in.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/MainFrame.h"
#include "app/Startup.h"
#include "platform/PageHost.h"
#include "platform/UiLoop.h"
#include "platform/UiServer.h"

namespace rz {

class CRizedeApp {
 public:
  CRizedeApp();
  ~CRizedeApp();

  // Start-up in the designed order; false when the UI cannot be served.
  bool InitInstance(const UiServerOptions& server, ShellOptions shell, std::string& error);
  // The program's start-up: crash handler, settings, then InitInstance with the UI port
  // (RIZEDE_UI_PORT overrides it), the web addresses and the update server of the settings,
  // and every start-up and exit step. Run then ends the process itself.
  bool InitFromSettings(std::string& error);
  // Starts the start-up worker (the step InstallStartupSteps plugs in; UI thread).
  void StartStartupWorker(const StartupOptions& options);
  CStartupWorker* StartupWorker() const { return startup_.get(); }
  // Waits for SIGTERM/SIGINT or the exit command, then exits in the designed order.
  int Run();
  // Asks Run to end (exit command).
  void RequestExit();

  CUiLoop& Loop() { return loop_; }
  CPageHost& Host() { return *host_; }
  CUiServer& Server() { return *server_; }
  CMainFrame& Frame() { return *frame_; }

  // Steps the storage, tree and update parts plug in (run on the UI thread).
  std::function<void()> installCrashHandler;   // start-up step 4
  std::function<void()> startDatabaseServer;   // step 11: when the settings name it
  std::function<void()> startStartupWorker;    // step 11: upgrade dialog, update check
  std::function<void()> saveTreeState;         // exit step 2
  std::function<void()> stopDatabaseServer;    // exit step 3
  std::function<void()> endStartupWorker;      // exit step 4

 private:
  CUiLoop loop_;
  std::unique_ptr<CPageHost> host_;
  std::unique_ptr<CUiServer> server_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CStartupWorker> startup_;
  bool endProcess_ = false;  // Run ends the process (the program), not just returns (tests)
};

}  // namespace rz
