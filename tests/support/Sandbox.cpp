#include "Sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "foundation/Text.h"

namespace fs = std::filesystem;

namespace rztest {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "rizede-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

Sandbox::Sandbox() {
  // Shipped data only, taken from the source tree: the built program folder also holds what
  // running Rizede there wrote (the job index, settings, database data), which no test may see.
  const fs::path program = RZ_DATA_DIR;
  // Of Mysql only the launcher: the server's data and run folders stay where they are.
  for (const char* sub : {"System", "Data", "skin", "Plugin", "Mysql/bin"}) {
    std::error_code ec;
    if (fs::exists(program / sub)) {
      fs::create_directories((dir_.Path() / sub).parent_path(), ec);
      fs::copy(program / sub, dir_.Path() / sub,
               fs::copy_options::recursive | fs::copy_options::skip_symlinks, ec);
    }
  }
  fs::create_directories(dir_.Path() / "User");
  pcutil::SetProgramFolder(pcutil::Utf8ToUtf16(dir_.Path().string()));
}

Sandbox::~Sandbox() { pcutil::SetProgramFolder(u""); }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace rztest
