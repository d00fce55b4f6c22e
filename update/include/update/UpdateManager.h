// The update manager both programs carry: the installed manifest (System/Version.zip), the
// check against the server's manifest archive, and the update list it yields.
#pragma once

#include <string>
#include <vector>

#include "foundation/Signals.h"

namespace rz {

// One file of the installation as the manifest lists it.
struct UpdateData {
  std::u16string Name;
  std::u16string FilePath;     // relative to the program folder, '\' separators
  std::u16string Version;      // dotted decimal
  std::u16string DownloadUrl;  // may hold "{ServerDir}"
  std::u16string md5;
  std::u16string Operator;     // "del": remove the file
  // Only while downloading.
  int TotalBytes = 0;
  int DoneBytes = 0;
  int SpeedKB = 0;
};

struct Manifest {
  std::u16string ServerDir;  // base addresses separated by "|"
  std::u16string UpdateTip;
  std::vector<UpdateData> Items;  // file order
};

// Reads "Version.xml" text; false when there is no text, the XML is bad or has no "Cfg".
bool ParseManifest(const std::u16string& text, Manifest& manifest);
std::u16string ManifestXml(const Manifest& manifest);
// Saves the manifest as a UTF-8 file.
bool WriteManifest(const Manifest& manifest, const std::u16string& path);

// Whether the server's version is newer than the installed one: both split at "." into the
// same number of parts, compared from the left as decimal numbers (text reads as 0).
bool IsNewerVersion(const std::u16string& installed, const std::u16string& server);

inline constexpr char16_t kInstalledManifestError[] = u"解析老版本信息出错！";
inline constexpr char16_t kServerManifestError[] = u"连接不上服务器,请稍后重试！";

class CUpdateManager {
 public:
  // Loads the installed manifest from System/Version.zip; when it cannot be read,
  // UpdateError carries kInstalledManifestError and the installed manifest stays empty.
  CUpdateManager(std::u16string manifestUrl, std::u16string programFile,
                 std::u16string updaterFile);
  CUpdateManager(const CUpdateManager&) = delete;
  CUpdateManager& operator=(const CUpdateManager&) = delete;

  // Runs the check (meant for a worker thread): empties User/UpdateCache/, downloads and
  // reads the server manifest, and lists the items missing or newer here. Reports only
  // through CheckFinished (1: the update list has items) or UpdateError.
  void CheckForUpdates();

  const std::u16string& ManifestUrl() const { return manifestUrl_; }
  const std::u16string& ProgramFile() const { return programFile_; }
  const std::u16string& UpdaterFile() const { return updaterFile_; }
  const Manifest& Installed() const { return installed_; }
  const Manifest& UpdateList() const { return updateList_; }
  // The construction's error text (the signal fired before anyone could listen); empty when
  // the installed manifest was read.
  const std::u16string& LoadError() const { return loadError_; }

  pcutil::Signal1<int> CheckFinished;
  pcutil::Signal3<int, UpdateData, int> DownloadProgress;
  pcutil::Signal0 DownloadsFinished;
  pcutil::Signal2<int, UpdateData> ItemInstalled;
  pcutil::Signal1<int> InstallFinished;
  pcutil::Signal1<std::u16string> UpdateError;

 private:
  std::u16string manifestUrl_;
  std::u16string programFile_;
  std::u16string updaterFile_;
  Manifest installed_;
  Manifest updateList_;
  std::u16string loadError_;
};

// The folders the manager works in, below the program folder.
std::u16string InstalledManifestArchive();  // System/Version.zip
std::u16string UpdateCacheFolder();         // User/UpdateCache/

}  // namespace rz
