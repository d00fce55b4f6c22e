// Rizede: the collector. Serves its UI on 127.0.0.1, prints the address with the access
// token, opens it when a display is present, and runs until the exit command or SIGTERM.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <iostream>

#include "app/Collector.h"
#include "app/RizedeApp.h"
#include "foundation/Text.h"

extern char** environ;

int main() {
  rz::CRizedeApp app;
  std::string error;
  if (!app.InitFromSettings(error)) {
    std::cerr << "Rizede: " << error << "\n";
    return 1;
  }
  // The tree, the job run pages, the options page and the scheduler's timers.
  rz::CCollectorUi collector(app.Frame());
  app.saveTreeState = [&collector] {
    if (collector.Left()) collector.Left()->SaveTreeState();
  };
  app.Loop().Send([&collector] { collector.Create(); });
  collector.StartTimers();
  std::cout << "Rizede " << RIZEDE_VERSION << "\n"
            << "program folder: " << pcutil::Utf16ToUtf8(pcutil::ProgramPath()) << "\n"
            << "open: " << app.Server().Address() << std::endl;
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    std::string address = app.Server().Address();
    pid_t pid = 0;
    const char* argv[] = {"xdg-open", address.c_str(), nullptr};
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ) == 0)
      waitpid(pid, nullptr, 0);
  }
  return app.Run();
}
