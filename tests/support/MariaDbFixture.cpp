#include "MariaDbFixture.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "Sandbox.h"
#include "foundation/Text.h"
#include "storage/Ado.h"
#include "storage/LocalServer.h"

namespace fs = std::filesystem;

namespace rztest {

namespace {

struct ServerState {
  std::mutex lock;
  bool tried = false;
  bool up = false;
  std::string folder;
  int port = 0;
  std::string failure;
};

ServerState& State() {
  static ServerState state;
  return state;
}

// Ends the server and removes its folder when this test program exits, however it exits:
// the watchdog waits for the end of a pipe that only this process holds open.
void StartWatchdog(const std::string& folder) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const std::string launcher = folder + "/Mysql/bin/KiteSoft-mysql";
  const std::string script =
      "read _; for d in /proc/[0-9]*; do "
      "  [ \"$(cat $d/comm 2>/dev/null)\" = KiteSoft-mysql ] || continue; "
      "  if tr '\\0' '\\n' <$d/cmdline 2>/dev/null | head -2 | grep -qxF \"$1\"; then "
      "    p=${d#/proc/}; kill $p; "
      "    while [ -e /proc/$p ] && ! grep -q '^State:.*Z' /proc/$p/status 2>/dev/null; do "
      "      sleep 0.1; done; fi; "
      "done; rm -rf \"$2\"";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], 0);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    setsid();
    execl("/bin/sh", "sh", "-c", script.c_str(), "watchdog", launcher.c_str(), folder.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[0]);
  // The write end stays open (and close-on-exec) for the life of this process.
}

bool CanConnect(const rz::DbSettings& settings) {
  rz::CAdo ado;
  ado.SetType(u"MySql");
  bool ok = ado.Open(settings) && ado.Execute(u"SELECT 1");
  ado.Close();
  return ok;
}

rz::DbSettings SettingsFor(int port) {
  rz::DbSettings s = rz::LocalServerSettings();
  s.Port = pcutil::Utf8ToUtf16(std::to_string(port));
  return s;
}

class StopAtEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    ServerState& st = State();
    std::lock_guard lock(st.lock);
    if (st.folder.empty()) return;
    rz::StopLocalServerAt(pcutil::Utf8ToUtf16(st.folder));
    std::error_code ec;
    fs::remove_all(st.folder, ec);
    st.folder.clear();
    st.up = false;
  }
};

::testing::Environment* const kStopAtEnd = ::testing::AddGlobalTestEnvironment(new StopAtEnd);

}  // namespace

int MariaDb::FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) close(fd);
  return port == 7795 ? FreePort() : port;
}

std::string MariaDb::ProgramFolder() {
  Settings();
  return State().folder;
}

rz::DbSettings MariaDb::Settings() {
  ServerState& st = State();
  std::lock_guard lock(st.lock);
  (void)kStopAtEnd;
  if (!st.tried) {
    st.tried = true;
    std::string tmpl = (fs::temp_directory_path() / "rizede-mariadb-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
      st.failure = "mkdtemp failed";
    } else {
      st.folder = tmpl;
      fs::create_directories(st.folder + "/Mysql/bin");
      std::error_code ec;
      fs::copy_file(fs::path(RZ_PROGRAM_DIR) / "Mysql/bin/KiteSoft-mysql",
                    st.folder + "/Mysql/bin/KiteSoft-mysql", ec);
      if (ec) st.failure = "launcher not found in the program folder: " + ec.message();
      StartWatchdog(st.folder);
      const std::u16string folder = pcutil::Utf8ToUtf16(st.folder);
      // A server that ends at once most likely lost its port to another program between our
      // check and its start: try again on another port.
      for (int attempt = 0; attempt < 3 && st.failure.empty() && !st.up; ++attempt) {
        st.port = FreePort();
        rz::StartLocalServerAt(folder, pcutil::Utf8ToUtf16(std::to_string(st.port)));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        bool ended = false;
        while (!st.up && !ended && std::chrono::steady_clock::now() < deadline) {
          st.up = CanConnect(SettingsFor(st.port));
          // Looked at after the connection try: a server that just ended may have answered.
          ended = !st.up && !rz::IsLocalServerRunningAt(folder);
          if (!st.up && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!ended) break;
      }
      if (!st.up && st.failure.empty() && !rz::IsLocalServerRunningAt(folder))
        st.failure = "the server ended; launcher log:\n" +
                     ReadFile(st.folder + "/Mysql/run/launcher.log") + "\nserver log:\n" +
                     ReadFile(st.folder + "/Mysql/data/log.txt");
      if (!st.up && st.failure.empty()) st.failure = "the server did not answer within 120 s";
    }
  }
  if (!st.up) ADD_FAILURE() << "test database server: " << st.failure;
  return SettingsFor(st.port);
}

}  // namespace rztest
