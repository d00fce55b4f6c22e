#include "update/Zip.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "foundation/Text.h"

namespace rz {

namespace fs = std::filesystem;

namespace {

struct UnzCloser {
  void operator()(void* f) const { unzClose(f); }
};
struct ZipCloser {
  void operator()(void* f) const { zipClose(f, nullptr); }
};

// An entry name that stays below the folder: relative, no "..", no NUL or backslash tricks.
bool SafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos ||
      name.find(':') != std::string::npos)
    return false;
  fs::path p(name);
  for (const auto& part : p)
    if (part == "..") return false;
  return true;
}

}  // namespace

bool ExtractZip(const std::u16string& archive, const std::u16string& folder) {
  std::unique_ptr<void, UnzCloser> zip(unzOpen64(pcutil::ToFsPath(archive).c_str()));
  if (!zip) return false;
  const fs::path base(pcutil::ToFsPath(folder));
  std::error_code ec;
  fs::create_directories(base, ec);
  int rc = unzGoToFirstFile(zip.get());
  if (rc != UNZ_OK) return false;
  std::vector<char> buffer(64 * 1024);
  for (; rc == UNZ_OK; rc = unzGoToNextFile(zip.get())) {
    unz_file_info64 info{};
    char name[1024] = {};
    if (unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof name - 1, nullptr, 0, nullptr,
                                0) != UNZ_OK)
      return false;
    std::string entry(name);
    if (!SafeEntryName(entry)) continue;
    fs::path target = base / entry;
    if (entry.back() == '/') {
      fs::create_directories(target, ec);
      continue;
    }
    fs::create_directories(target.parent_path(), ec);
    if (unzOpenCurrentFile(zip.get()) != UNZ_OK) return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    bool ok = static_cast<bool>(out);
    int n = 0;
    while (ok && (n = unzReadCurrentFile(zip.get(), buffer.data(),
                                         static_cast<unsigned>(buffer.size()))) > 0)
      ok = static_cast<bool>(out.write(buffer.data(), n));
    // A negative read is a broken entry; closing checks its CRC.
    if (unzCloseCurrentFile(zip.get()) != UNZ_OK || n < 0) ok = false;
    if (!ok) return false;
  }
  return rc == UNZ_END_OF_LIST_OF_FILE;
}

bool WriteZip(const std::u16string& archive,
              const std::vector<std::pair<std::string, std::u16string>>& entries) {
  const std::string path = pcutil::ToFsPath(archive);
  std::error_code ec;
  fs::remove(path, ec);
  std::unique_ptr<void, ZipCloser> zip(zipOpen64(path.c_str(), APPEND_STATUS_CREATE));
  if (!zip) return false;
  for (const auto& [name, file] : entries) {
    std::ifstream in(pcutil::ToFsPath(file), std::ios::binary);
    if (!in) return false;
    zip_fileinfo info{};
    if (zipOpenNewFileInZip64(zip.get(), name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) != ZIP_OK)
      return false;
    std::vector<char> buffer(64 * 1024);
    bool ok = true;
    while (ok && in) {
      in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      if (in.gcount() > 0)
        ok = zipWriteInFileInZip(zip.get(), buffer.data(), static_cast<unsigned>(in.gcount())) ==
             ZIP_OK;
    }
    if (zipCloseFileInZip(zip.get()) != ZIP_OK || !ok) return false;
  }
  return zipClose(zip.release(), nullptr) == ZIP_OK;
}

}  // namespace rz
