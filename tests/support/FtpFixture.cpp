#include "FtpFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace rztest {

namespace {

// Prints the chosen port on its first line, then serves until it is terminated.
const char* kServerScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
root, user, password = sys.argv[1:4]
logging.basicConfig(level=logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPHandler.permit_foreign_addresses = False
FTPHandler.auth_failed_timeout = 0.1
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)PY";

}  // namespace

FtpFixture::FtpFixture() {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string root = root_.Path().string();
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The server must not outlive a test process that dies.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
    ::dup2(out[1], STDOUT_FILENO);
    ::execl("/usr/bin/python3", "python3", "-c", kServerScript, root.c_str(), kUser, kPassword,
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[64];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error(
        "the FTP test server did not start (is python3-pyftpdlib installed?)");
  }
}

FtpFixture::~FtpFixture() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

}  // namespace rztest
