// An FTP server for tests: pyftpdlib (Debian's python3-pyftpdlib, run with /usr/bin/python3)
// on 127.0.0.1 and a free port, serving a temporary root folder to one user with full rights.
// Started by the constructor, stopped by the destructor.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "Sandbox.h"

namespace rztest {

class FtpFixture {
 public:
  static constexpr const char* kUser = "rzuser";
  static constexpr const char* kPassword = "rzpass";

  FtpFixture();
  ~FtpFixture();
  FtpFixture(const FtpFixture&) = delete;
  FtpFixture& operator=(const FtpFixture&) = delete;

  int Port() const { return port_; }
  std::string Host() const { return "127.0.0.1"; }
  // The server's "/" on disk.
  const std::filesystem::path& Root() const { return root_.Path(); }

 private:
  TempDir root_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace rztest
