#include <unistd.h>

#include <mutex>

#include "foundation/Text.h"

namespace pcutil {

namespace {

// The program folder override (`--root`, test sandboxes); empty = the executable's folder.
std::mutex g_folderLock;
std::u16string g_folderOverride;

std::u16string ExecutableFolder() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return u".";
  buf.resize(static_cast<size_t>(n));
  auto slash = buf.rfind('/');
  return Utf8ToUtf16(slash == std::string::npos ? std::string(".") : buf.substr(0, slash));
}

}  // namespace

void SetProgramFolder(const std::u16string& folder) {
  std::lock_guard<std::mutex> lock(g_folderLock);
  g_folderOverride = folder;
  while (g_folderOverride.size() > 1 &&
         (g_folderOverride.back() == u'/' || g_folderOverride.back() == u'\\'))
    g_folderOverride.pop_back();
}

std::u16string ProgramPath(const std::u16string& relative) {
  std::u16string folder;
  {
    std::lock_guard<std::mutex> lock(g_folderLock);
    folder = g_folderOverride;
  }
  if (folder.empty()) folder = ExecutableFolder();
  std::u16string rel = relative;
  for (auto& c : rel)
    if (c == u'\\') c = u'/';
  if (rel.empty()) return folder;
  if (rel.front() == u'/') return folder + rel;
  return folder + u"/" + rel;
}

std::string ToFsPath(const std::u16string& path) {
  std::u16string p = path;
  for (auto& c : p)
    if (c == u'\\') c = u'/';
  return Utf16ToUtf8(p);
}

}  // namespace pcutil
