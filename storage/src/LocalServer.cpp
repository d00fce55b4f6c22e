#include "storage/LocalServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/Text.h"

namespace rz {

namespace {

const char kServerName[] = "KiteSoft-mysql";
const char16_t kParameterText[] = u"--port=%s  --skip-bdb --skip-innodb  --log=log.txt";

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<pid_t> ProcessIds() {
  std::vector<pid_t> ids;
  DIR* dir = opendir("/proc");
  if (!dir) return ids;
  while (dirent* e = readdir(dir)) {
    char* end = nullptr;
    long id = std::strtol(e->d_name, &end, 10);
    if (end && *end == '\0' && id > 0) ids.push_back(static_cast<pid_t>(id));
  }
  closedir(dir);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// A process that still exists and has not ended (zombies are ended processes nobody reaped).
bool IsAlive(pid_t pid) {
  std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  auto close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  char state = stat[close + 2];
  return state != 'Z' && state != 'X';
}

// Whether any thread of the process still runs. The main thread of a multithreaded server can
// be a zombie while its other threads are still exiting and keep the shared file table (data
// file locks, the listening socket) open; only when every thread is gone are they released.
bool AnyThreadAlive(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return IsAlive(pid);
  bool alive = false;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string stat = ReadSmallFile(tasks + "/" + e->d_name + "/stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) continue;
    char state = stat[close + 2];
    if (state != 'Z' && state != 'X') {
      alive = true;
      break;
    }
  }
  closedir(dir);
  return alive;
}

std::string Comm(pid_t pid) {
  std::string comm = ReadSmallFile("/proc/" + std::to_string(pid) + "/comm");
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) comm.pop_back();
  return comm;
}

std::vector<std::string> CommandLine(pid_t pid) {
  std::string raw = ReadSmallFile("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    args.push_back(raw.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

std::string LauncherPath(const std::u16string& programFolder) {
  std::string folder = pcutil::ToFsPath(programFolder);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/Mysql/bin/" + kServerName;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  free(real);
  return out;
}

}  // namespace

std::u16string LocalServerPort() {
  const char* text = std::getenv("RIZEDE_LOCAL_DB_PORT");
  if (text && *text && std::strspn(text, "0123456789") == std::strlen(text) && std::strlen(text) <= 5) {
    long port = std::strtol(text, nullptr, 10);
    if (port > 0 && port <= 65535) return pcutil::Utf8ToUtf16(std::to_string(port));
  }
  return u"7795";
}

DbSettings LocalServerSettings() {
  DbSettings s;
  s.Type = u"MySql";
  s.SqlHost = u"127.0.0.1";
  s.Port = LocalServerPort();
  s.SqlUser = u"root";
  s.SqlPsw.clear();
  s.SqlDb = u"kitesoft";
  s.ClientFlags = 0;
  return s;
}

pid_t FindProcessByName(const std::u16string& name) {
  const std::string wanted = pcutil::Utf16ToUtf8(name);
  if (wanted.empty()) return 0;
  for (pid_t pid : ProcessIds()) {
    if (!IsAlive(pid)) continue;
    // The kernel keeps at most 15 bytes of the name; longer names are matched by the image.
    if (wanted.size() <= 15 && Comm(pid) == wanted) return pid;
    char buf[4096];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0) continue;
    std::string exe(buf, static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    if (exe.substr(slash == std::string::npos ? 0 : slash + 1) == wanted) return pid;
  }
  return 0;
}

// The server carries the launcher's name, and its command line starts with the launcher's
// path (argv[0] of the server, argv[1] of the launcher script while it prepares the data
// folder). Matching both keeps the servers of different program folders apart: a test's
// server is never taken for the user's, and the other way round.
pid_t FindLocalServer(const std::u16string& programFolder) {
  const std::string launcher = LauncherPath(programFolder);
  const std::string real = RealPath(launcher);
  for (pid_t pid : ProcessIds()) {
    if (Comm(pid) != kServerName || !IsAlive(pid)) continue;
    auto args = CommandLine(pid);
    for (size_t i = 0; i < args.size() && i < 2; ++i)
      if (args[i] == launcher || args[i] == real) return pid;
  }
  return 0;
}

bool IsLocalServerRunningAt(const std::u16string& programFolder) {
  return FindLocalServer(programFolder) != 0;
}

int StartLocalServerAt(const std::u16string& programFolder, const std::u16string& port) {
  if (IsLocalServerRunningAt(programFolder)) return 1;
  const std::string launcher = RealPath(LauncherPath(programFolder));
  struct stat st {};
  if (stat(launcher.c_str(), &st) != 0) return 1;
  if ((st.st_mode & S_IXUSR) == 0) chmod(launcher.c_str(), st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH);

  // Everything the child needs is prepared before fork: after it only exec-safe calls run.
  std::vector<std::u16string> parts;
  pcutil::Split(pcutil::Format(kParameterText, port), u" ", parts);
  std::vector<std::string> args{launcher};
  for (const auto& p : parts) args.push_back(pcutil::Utf16ToUtf8(p));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  int fds[2];
  if (devnull < 0 || pipe2(fds, O_CLOEXEC) != 0) {
    if (devnull >= 0) close(devnull);
    return 1;
  }
  pid_t child = fork();
  if (child == 0) {
    // Detached: its own session, adopted by init once the middle process exits, so the
    // server outlives neither more nor less than it should and leaves no zombie here.
    setsid();
    pid_t server = fork();
    if (server == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) signal(sig, SIG_DFL);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      // One call instead of one per possible descriptor: with a high descriptor limit the
      // loop alone could take longer than the start waits for the launcher.
      if (close_range(3, ~0U, 0) != 0) {
        long maxFd = sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (maxFd > 0 ? maxFd : 1024); ++fd) close(fd);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    ssize_t ignored = write(fds[1], &server, sizeof server);
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  pid_t server = 0;
  if (child > 0) {
    if (read(fds[0], &server, sizeof server) != static_cast<ssize_t>(sizeof server)) server = 0;
    int status = 0;
    waitpid(child, &status, 0);
  }
  close(fds[0]);
  close(devnull);

  // Wait until the new process is found the way IsLocalServerRunningAt finds it (or has
  // ended), so that a check or a second start right after this one sees it running. The name
  // alone is not enough: exec sets the new name before the new command line is readable, and
  // in that moment the process matches no program folder.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server > 0 && IsAlive(server) && FindLocalServer(programFolder) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return 1;
}

int StopLocalServerAt(const std::u16string& programFolder) {
  pid_t pid = FindLocalServer(programFolder);
  if (pid == 0) return 1;
  if (kill(pid, SIGTERM) != 0) return 1;  // not ours to end: left alone
  // Gone means every thread has ended, so its files, locks and port are free for a restart.
  while (AnyThreadAlive(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 1;
}

int StartLocalServer() { return StartLocalServerAt(pcutil::ProgramPath(), LocalServerPort()); }
bool IsLocalServerRunning() { return IsLocalServerRunningAt(pcutil::ProgramPath()); }
int StopLocalServer() { return StopLocalServerAt(pcutil::ProgramPath()); }

}  // namespace rz
