#include "update/UpdateManager.h"

#include <filesystem>

#include "foundation/Text.h"
#include "net/Transfer.h"
#include "update/Zip.h"
#include "xml/Xml.h"
#include "xml/XmlFile.h"

namespace rz {

namespace fs = std::filesystem;
using pcutil::CXmlNode;

namespace {

std::u16string Text(const CXmlNode* parent, const std::u16string& name) {
  const CXmlNode* e = parent ? parent->FindChild(name) : nullptr;
  if (!e) return {};
  const std::u16string* text = e->ChildText();
  return text ? *text : std::u16string();
}

long long PartNumber(const std::u16string& part) {
  long long n = 0;
  for (char16_t c : part) {
    if (c < u'0' || c > u'9') return 0;
    if (n < 1000000000000LL) n = n * 10 + (c - u'0');
  }
  return n;
}

// Reads the "Version.xml" an archive holds, extracting it into the folder. Empty when the
// archive cannot be extracted or the file read.
std::u16string ReadArchivedManifest(const std::u16string& archive, const std::u16string& folder,
                                    bool removeAfter) {
  std::u16string text;
  if (!ExtractZip(archive, folder)) return text;
  const std::u16string file = folder + u"Version.xml";
  if (pcutil::ReadTextFile(file, text, pcutil::TextModeUtf8) != 0) text.clear();
  if (removeAfter) {
    std::error_code ec;
    fs::remove(pcutil::ToFsPath(file), ec);
  }
  return text;
}

}  // namespace

std::u16string InstalledManifestArchive() { return pcutil::ProgramPath(u"System/Version.zip"); }
std::u16string UpdateCacheFolder() { return pcutil::ProgramPath(u"User/UpdateCache/"); }

bool ParseManifest(const std::u16string& text, Manifest& manifest) {
  manifest = {};
  if (text.empty()) return false;
  pcutil::CXmlDocument doc;
  try {
    doc.Parse(text);
  } catch (...) {
    return false;
  }
  const CXmlNode* cfg = doc.FindChild(u"Cfg");  // a second "Cfg" is never looked at
  if (!cfg || !cfg->AsElement()) return false;
  manifest.ServerDir = Text(cfg, u"ServerDir");
  manifest.UpdateTip = Text(cfg, u"UpdateTip");
  for (const CXmlNode* item = cfg->FindChild(u"Item"); item;
       item = item->FindNextSibling(u"Item")) {
    UpdateData d;
    d.Name = Text(item, u"Name");
    d.FilePath = Text(item, u"FilePath");
    d.Version = Text(item, u"Version");
    d.DownloadUrl = Text(item, u"DownloadUrl");
    d.md5 = Text(item, u"md5");
    d.Operator = Text(item, u"Operator");
    manifest.Items.push_back(std::move(d));
  }
  return true;
}

std::u16string ManifestXml(const Manifest& manifest) {
  std::u16string out;
  pcutil::CXmlTextWriter w(out);
  w.WriteDeclaration(u"1.0", u"utf-8");
  w.OpenElement(u"Cfg");
  w.WriteTextElement(u"ServerDir", manifest.ServerDir);
  w.WriteTextElement(u"UpdateTip", manifest.UpdateTip);
  for (const auto& d : manifest.Items) {
    w.OpenElement(u"Item");
    w.WriteTextElement(u"Name", d.Name);
    w.WriteTextElement(u"FilePath", d.FilePath);
    w.WriteTextElement(u"Version", d.Version);
    w.WriteTextElement(u"DownloadUrl", d.DownloadUrl);
    w.WriteTextElement(u"md5", d.md5);
    w.WriteTextElement(u"Operator", d.Operator);
    w.CloseElement();
  }
  w.CloseElement();
  return out;
}

bool WriteManifest(const Manifest& manifest, const std::u16string& path) {
  return pcutil::SaveXmlFile(path, ManifestXml(manifest));
}

bool IsNewerVersion(const std::u16string& installed, const std::u16string& server) {
  std::vector<std::u16string> a, b;
  pcutil::Split(installed, u".", a);
  pcutil::Split(server, u".", b);
  if (a.empty() || b.empty() || a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    long long x = PartNumber(a[i]), y = PartNumber(b[i]);
    if (y > x) return true;
    if (y < x) return false;
  }
  return false;
}

CUpdateManager::CUpdateManager(std::u16string manifestUrl, std::u16string programFile,
                               std::u16string updaterFile)
    : manifestUrl_(std::move(manifestUrl)),
      programFile_(std::move(programFile)),
      updaterFile_(std::move(updaterFile)) {
  std::u16string text =
      ReadArchivedManifest(InstalledManifestArchive(), pcutil::ProgramPath(u"System/"), true);
  if (!ParseManifest(text, installed_)) {
    installed_ = {};
    loadError_ = kInstalledManifestError;
    UpdateError.Emit(loadError_);
  }
}

void CUpdateManager::CheckForUpdates() {
  const std::u16string cache = UpdateCacheFolder();
  std::error_code ec;
  fs::remove_all(pcutil::ToFsPath(cache), ec);
  fs::create_directories(pcutil::ToFsPath(cache), ec);

  Manifest server;
  const std::u16string archive = cache + u"Version.zip";
  if (pcutil::DownloadToFile(manifestUrl_, archive) != 1 ||
      !ParseManifest(ReadArchivedManifest(archive, cache, false), server) ||
      server.Items.empty()) {
    UpdateError.Emit(kServerManifestError);
    return;
  }
  updateList_ = {};
  updateList_.UpdateTip = server.UpdateTip;
  updateList_.ServerDir = server.ServerDir;
  for (const auto& item : server.Items) {
    const UpdateData* local = nullptr;
    for (const auto& d : installed_.Items)
      if (d.Name == item.Name) {
        local = &d;
        break;
      }
    if (!local || IsNewerVersion(local->Version, item.Version)) updateList_.Items.push_back(item);
  }
  CheckFinished.Emit(updateList_.Items.empty() ? 0 : 1);
}

}  // namespace rz
