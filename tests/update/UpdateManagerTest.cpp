// The update manager against a local manifest server: versions, the installed manifest,
// the server's manifest archive and the cache folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "HttpFixture.h"
#include "Sandbox.h"
#include "foundation/Text.h"
#include "update/UpdateManager.h"
#include "update/Zip.h"

namespace fs = std::filesystem;
using rz::CUpdateManager;
using rz::Manifest;
using rz::UpdateData;

namespace {

UpdateData Item(const std::u16string& name, const std::u16string& version) {
  UpdateData d;
  d.Name = name;
  d.Version = version;
  d.FilePath = name;
  d.DownloadUrl = u"{ServerDir}/" + name;
  d.md5 = u"0123456789abcdef0123456789abcdef";
  return d;
}

// The archive bytes holding "Version.xml" with the given text.
std::string ArchiveOf(const std::string& xml) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "Version.xml", xml);
  auto zip = pcutil::Utf8ToUtf16((dir.Path() / "Version.zip").string());
  EXPECT_TRUE(rz::WriteZip(zip, {{"Version.xml", pcutil::Utf8ToUtf16((dir.Path() / "Version.xml").string())}}));
  return rztest::ReadFile(dir.Path() / "Version.zip");
}

std::string XmlOf(const Manifest& m) { return pcutil::Utf16ToUtf8(rz::ManifestXml(m)); }

void InstallManifest(const rztest::Sandbox& box, const Manifest& m) {
  fs::create_directories(box / "System");
  rztest::WriteFile(box / "System/Version.zip", ArchiveOf(XmlOf(m)));
}

// Collects what the manager reports.
struct Listener : pcutil::SignalReceiver {
  std::vector<int> finished;
  std::vector<std::u16string> errors;
  void OnFinished(int r) { finished.push_back(r); }
  void OnError(std::u16string e) { errors.push_back(std::move(e)); }
  void Attach(CUpdateManager& m) {
    m.CheckFinished.Connect(this, &Listener::OnFinished);
    m.UpdateError.Connect(this, &Listener::OnError);
  }
};

std::vector<std::u16string> Names(const Manifest& m) {
  std::vector<std::u16string> out;
  for (const auto& d : m.Items) out.push_back(d.Name);
  return out;
}

}  // namespace

TEST(UpdateVersions, Comparison) {
  struct Case {
    const char16_t* installed;
    const char16_t* server;
    bool newer;
  } cases[] = {
      {u"1.0.0.9", u"1.0.0.10", true},   // numbers, not texts
      {u"1.10", u"1.9", false},
      {u"1.9", u"1.10", true},
      {u"2.0.1", u"2.1", false},          // different part counts never compare
      {u"2.1", u"2.0.1", false},
      {u"1.2.3.4", u"1.2.3.4", false},    // equal
      {u"2.0.0.0", u"1.9.9.9", false},    // first differing part decides
      {u"1.0.0.0", u"1.0.1.0", true},
      {u"", u"1.0", false},               // nothing to split
      {u"1.0", u"", false},
      {u"1.a", u"1.1", true},             // text reads as 0
      {u"1.1", u"1.b", false},
      {u"2011.11.11", u"2011.12.1", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rz::IsNewerVersion(c.installed, c.server), c.newer)
        << pcutil::Utf16ToUtf8(c.installed) << " vs " << pcutil::Utf16ToUtf8(c.server);
}

TEST(UpdateManifest, WriteThenParseKeepsEveryField) {
  rztest::TempDir dir;
  Manifest m;
  m.ServerDir = u"http://a.example/u|http://b.example/u";
  m.UpdateTip = u"修复了若干问题 <&>";
  m.Items = {Item(u"Rizede", u"1.0.0.2"), Item(u"System\\Help.xml", u"1.0.0.1")};
  m.Items[1].Operator = u"del";
  auto path = pcutil::Utf8ToUtf16((dir.Path() / "Version.xml").string());
  ASSERT_TRUE(rz::WriteManifest(m, path));
  std::string bytes = rztest::ReadFile(dir.Path() / "Version.xml");
  EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg><ServerDir>", 0), 0u)
      << bytes;
  EXPECT_NE(bytes.find("<Item><Name>Rizede</Name><FilePath>Rizede</FilePath><Version>1.0.0.2</Version>"
                       "<DownloadUrl>{ServerDir}/Rizede</DownloadUrl><md5>"),
            std::string::npos);
  Manifest back;
  ASSERT_TRUE(rz::ParseManifest(rz::ManifestXml(m), back));
  EXPECT_EQ(back.ServerDir, m.ServerDir);
  EXPECT_EQ(back.UpdateTip, m.UpdateTip);
  ASSERT_EQ(back.Items.size(), 2u);
  EXPECT_EQ(back.Items[1].Name, u"System\\Help.xml");
  EXPECT_EQ(back.Items[1].Operator, u"del");
  EXPECT_EQ(back.Items[0].md5, m.Items[0].md5);
}

TEST(UpdateManifest, Parsing) {
  struct Case {
    const char16_t* text;
    bool ok;
    size_t items;
  } cases[] = {
      {u"", false, 0},
      {u"<Cfg><Item>", false, 0},                     // bad XML
      {u"<Other><Item/></Other>", false, 0},          // no Cfg
      {u"<Cfg/>", true, 0},
      {u"<Cfg><Item><Name>a</Name></Item><Skip/><Item/></Cfg>", true, 2},  // missing = empty
  };
  for (const auto& c : cases) {
    Manifest m;
    EXPECT_EQ(rz::ParseManifest(c.text, m), c.ok) << pcutil::Utf16ToUtf8(c.text);
    EXPECT_EQ(m.Items.size(), c.items) << pcutil::Utf16ToUtf8(c.text);
  }
}

TEST(UpdateZip, EntriesLeavingTheFolderAreSkipped) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "a.txt", "A");
  auto zip = pcutil::Utf8ToUtf16((dir.Path() / "x.zip").string());
  auto file = pcutil::Utf8ToUtf16((dir.Path() / "a.txt").string());
  ASSERT_TRUE(rz::WriteZip(zip, {{"sub/ok.txt", file}, {"../escaped.txt", file}, {"/abs.txt", file}}));
  fs::create_directories(dir.Path() / "out");
  EXPECT_TRUE(rz::ExtractZip(zip, pcutil::Utf8ToUtf16((dir.Path() / "out").string() + "/")));
  EXPECT_EQ(rztest::ReadFile(dir.Path() / "out/sub/ok.txt"), "A");
  EXPECT_FALSE(fs::exists(dir.Path() / "escaped.txt"));
  EXPECT_FALSE(fs::exists("/abs.txt"));
  // Not an archive at all.
  EXPECT_FALSE(rz::ExtractZip(file, pcutil::Utf8ToUtf16((dir.Path() / "out").string() + "/")));
}

// The check's outcomes against a fixture server, one case per row.
TEST(UpdateCheck, Outcomes) {
  Manifest installed;
  installed.Items = {Item(u"Rizede", u"1.0.0.9"), Item(u"Help", u"1.0.0.1"),
                     Item(u"Gone", u"1.0")};
  Manifest server;
  server.UpdateTip = u"新版本说明";
  server.ServerDir = u"http://127.0.0.1/u";
  server.Items = {Item(u"Rizede", u"1.0.0.10"), Item(u"Help", u"1.0.0.1"),
                  Item(u"New", u"0.0.0.1"), Item(u"Odd", u"1")};
  Manifest noItems;
  noItems.UpdateTip = u"x";

  struct Case {
    const char* name;
    bool installManifest;
    std::string serverReply;  // archive bytes; empty = 404
    std::vector<std::u16string> listed;
    int finished;  // -1: not emitted
    std::u16string error;
    std::u16string loadError;
  };
  const std::vector<Case> cases = {
      {"newer and missing items", true, ArchiveOf(XmlOf(server)), {u"Rizede", u"New", u"Odd"}, 1, u"", u""},
      {"nothing newer", true, ArchiveOf(XmlOf(installed)), {}, 0, u"", u""},
      {"installed manifest missing: every item listed", false, ArchiveOf(XmlOf(server)),
       {u"Rizede", u"Help", u"New", u"Odd"}, 1, u"", rz::kInstalledManifestError},
      {"server manifest without items", true, ArchiveOf(XmlOf(noItems)), {}, -1,
       rz::kServerManifestError, u""},
      {"server manifest unparsable", true, ArchiveOf("<Cfg><Item>"), {}, -1, rz::kServerManifestError, u""},
      {"server archive missing", true, "", {}, -1, rz::kServerManifestError, u""},
      {"server answer not an archive", true, "<html>busy</html>", {}, -1, rz::kServerManifestError, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::Sandbox box;
    rztest::HttpFixture site;
    if (!c.serverReply.empty()) site.Serve("/system/version.zip", rztest::Page(c.serverReply, "application/zip"));
    if (c.installManifest) InstallManifest(box, installed);
    // Left over from an earlier check: must be gone when the check starts.
    fs::create_directories(box / "User/UpdateCache/old");
    rztest::WriteFile(box / "User/UpdateCache/old/stale.bin", "stale");

    CUpdateManager manager(pcutil::Utf8ToUtf16(site.Url("/system/version.zip")), u"Rizede", u"Update");
    EXPECT_EQ(manager.LoadError(), c.loadError);
    // The installed archive stays; its extracted manifest does not.
    EXPECT_FALSE(fs::exists(box / "System/Version.xml"));
    Listener l;
    l.Attach(manager);
    manager.CheckForUpdates();

    EXPECT_FALSE(fs::exists(box / "User/UpdateCache/old"));
    if (c.finished >= 0) {
      EXPECT_EQ(l.finished, std::vector<int>{c.finished});
      EXPECT_TRUE(l.errors.empty());
      EXPECT_EQ(Names(manager.UpdateList()), c.listed);
      EXPECT_EQ(manager.UpdateList().UpdateTip, c.finished ? server.UpdateTip : installed.UpdateTip);
    } else {
      EXPECT_TRUE(l.finished.empty());
      EXPECT_EQ(l.errors, std::vector<std::u16string>{c.error});
    }
    ASSERT_EQ(site.Requests().size(), 1u);
    EXPECT_EQ(site.Last().Path, "/system/version.zip");
  }
}
