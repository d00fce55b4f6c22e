// Each test gets its own program folder: a temporary copy of the shipped data with
// quiet, offline defaults, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace rztest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A temporary program folder filled with the shipped data (data/ of the source tree),
// made the current ProgramPath for the test's lifetime.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::filesystem::path& Root() const { return dir_.Path(); }
  std::filesystem::path operator/(const std::string& rel) const { return dir_.Path() / rel; }

 private:
  TempDir dir_;
};

std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

}  // namespace rztest
