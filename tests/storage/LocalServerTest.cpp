// The local database server through the program's launcher, in a program folder of its own.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "MariaDbFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "storage/Ado.h"
#include "storage/LocalServer.h"

namespace fs = std::filesystem;

namespace {

int CountServers(const std::string& launcher) {
  int n = 0;
  for (auto& e : fs::directory_iterator("/proc")) {
    const std::string comm = rztest::ReadFile(e.path() / "comm");
    if (comm != "KiteSoft-mysql\n") continue;
    const std::string cmdline = rztest::ReadFile(e.path() / "cmdline");
    if (cmdline.find(launcher) != std::string::npos) ++n;
  }
  return n;
}

TEST(LocalServer, StartsOnceAnswersAndStops) {
  rztest::TempDir dir;
  const fs::path launcher = dir.Path() / "Mysql/bin/KiteSoft-mysql";
  fs::create_directories(launcher.parent_path());
  fs::copy_file(fs::path(RZ_PROGRAM_DIR) / "Mysql/bin/KiteSoft-mysql", launcher);
  const std::u16string folder = pcutil::U16(dir.Path().string().c_str());
  const int port = rztest::MariaDb::FreePort();
  const std::u16string portText = pcutil::U16(std::to_string(port).c_str());

  // Nothing runs yet: stop does nothing and still reports 1.
  EXPECT_FALSE(rz::IsLocalServerRunningAt(folder));
  EXPECT_EQ(rz::StopLocalServerAt(folder), 1);

  EXPECT_EQ(rz::StartLocalServerAt(folder, portText), 1);
  const pid_t pid = rz::FindLocalServer(folder);
  ASSERT_NE(pid, 0);
  EXPECT_TRUE(rz::IsLocalServerRunningAt(folder));

  rz::DbSettings s = rz::LocalServerSettings();
  s.Port = portText;
  bool answered = false;
  for (int i = 0; i < 1200 && !answered; ++i) {
    rz::CAdo ado;
    ado.SetType(u"MySql");
    answered = ado.Open(s) && ado.Execute(u"SELECT 1");
    if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(answered) << rztest::ReadFile(dir.Path() / "Mysql/run/launcher.log");

  // A second start finds the running server and starts nothing.
  EXPECT_EQ(rz::StartLocalServerAt(folder, portText), 1);
  EXPECT_EQ(rz::FindLocalServer(folder), pid);
  EXPECT_EQ(CountServers(launcher.string()), 1);
  // The server carries the launcher's name, so the designed lookup by name finds one.
  EXPECT_NE(rz::FindProcessByName(u"KiteSoft-mysql"), 0);
  // Old options are mapped: the log named by --log= lands in the data folder.
  EXPECT_TRUE(fs::exists(dir.Path() / "Mysql/data/log.txt"));
  EXPECT_TRUE(fs::exists(dir.Path() / "Mysql/data/kitesoft"));

  EXPECT_EQ(rz::StopLocalServerAt(folder), 1);
  EXPECT_FALSE(rz::IsLocalServerRunningAt(folder));
  EXPECT_EQ(rz::FindLocalServer(folder), 0);
  EXPECT_EQ(CountServers(launcher.string()), 0);
  EXPECT_EQ(rz::StopLocalServerAt(folder), 1);

  // The next start reuses the data folder.
  EXPECT_EQ(rz::StartLocalServerAt(folder, portText), 1);
  EXPECT_TRUE(rz::IsLocalServerRunningAt(folder));
  EXPECT_EQ(rz::StopLocalServerAt(folder), 1);
  EXPECT_FALSE(rz::IsLocalServerRunningAt(folder));
}

TEST(LocalServer, FindsProcessesByExactName) {
  char self[64] = {};
  const std::string comm = rztest::ReadFile("/proc/self/comm");
  ASSERT_FALSE(comm.empty());
  snprintf(self, sizeof self, "%s", comm.substr(0, comm.size() - 1).c_str());
  EXPECT_NE(rz::FindProcessByName(pcutil::U16(self)), 0);
  EXPECT_EQ(rz::FindProcessByName(u"no-such-process-here"), 0);
  EXPECT_EQ(rz::FindProcessByName(u""), 0);
  // Case matters.
  std::string upper = self;
  for (auto& c : upper) c = static_cast<char>(toupper(c));
  if (upper != self) {
    EXPECT_EQ(rz::FindProcessByName(pcutil::U16(upper.c_str())), 0);
  }
}

TEST(LocalServer, DefaultConnectionNamesTheLocalServer) {
  const rz::DbSettings s = rz::LocalServerSettings();
  EXPECT_EQ(s.Type, u"MySql");
  EXPECT_EQ(s.SqlHost, u"127.0.0.1");
  EXPECT_EQ(s.Port, u"7795");
  EXPECT_EQ(s.SqlUser, u"root");
  EXPECT_EQ(s.SqlPsw, u"");
  EXPECT_EQ(s.SqlDb, u"kitesoft");
}

// Tests move the local server off the designed port through RIZEDE_LOCAL_DB_PORT; anything
// that is not a port leaves it on 7795.
TEST(LocalServer, PortOverrideFromTheEnvironment) {
  const char* before = std::getenv("RIZEDE_LOCAL_DB_PORT");
  const std::string saved = before ? before : "";
  const struct { const char* value; const char16_t* port; } cases[] = {
      {"17795", u"17795"}, {"1", u"1"}, {"65535", u"65535"}, {"0017795", u"7795"},
      {"", u"7795"}, {"0", u"7795"}, {"65536", u"7795"}, {"99999999999", u"7795"},
      {"-5", u"7795"}, {"80x", u"7795"}, {" 80", u"7795"},
  };
  for (const auto& c : cases) {
    setenv("RIZEDE_LOCAL_DB_PORT", c.value, 1);
    EXPECT_EQ(rz::LocalServerPort(), c.port) << c.value;
    EXPECT_EQ(rz::LocalServerSettings().Port, c.port) << c.value;
  }
  unsetenv("RIZEDE_LOCAL_DB_PORT");
  EXPECT_EQ(rz::LocalServerPort(), u"7795");
  if (before) setenv("RIZEDE_LOCAL_DB_PORT", saved.c_str(), 1);
}

}  // namespace
