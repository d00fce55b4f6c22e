#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "Sandbox.h"
#include "XmlDump.h"
#include "foundation/Text.h"
#include "xml/Xml.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;
using namespace pcutil;

namespace {

std::u16string PathText(const fs::path& p) { return Utf8ToUtf16(p.string()); }

std::string Base64(const std::string& bytes) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i + 1 == bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    out += std::string{kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63]} + "==";
  } else if (i + 2 == bytes.size()) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
    out += std::string{kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63]} + "=";
  }
  return out;
}

struct ReadCase {
  const char* name;
  std::string bytes;
  int mode;
  std::u16string text;
};

TEST(TextFile, ReadModes) {
  using namespace std::string_literals;
  const ReadCase cases[] = {
      {"utf-8 with mark", "\xEF\xBB\xBF<a>中</a>", TextModeUtf8, u"<a>中</a>"},
      {"utf-8 without mark", "<a>中</a>", TextModeUtf8, u"<a>中</a>"},
      {"utf-8 mark only", "\xEF\xBB\xBF", TextModeUtf8, u""},
      {"detect utf-8 by EF", "\xEF\xBB\xBFx\xC3\xA9", TextModeDetect, u"xé"},
      {"detect utf-16 by FF", "\xFF\xFE" "a\0\x2D\x4E"s, TextModeDetect, u"a中"},
      {"detect utf-16 by FE", "\xFE\xFF" "a\0"s, TextModeDetect, u"\uFFFEa"},
      {"detect ansi otherwise", "\xD6\xD0\xCE\xC4", TextModeDetect, u"中文"},
      {"ansi", "a\xD6\xD0", TextModeAnsi, u"a中"},
      {"utf-16 without mark", "a\0b\0"s, TextModeUtf16, u"ab"},
      {"utf-16 odd length", "a\0b"s, TextModeUtf16, u"ab"},
      {"text ends at the first zero (utf-8)", "ab\0cd"s, TextModeUtf8, u"ab"},
      {"text ends at the first zero (utf-16)", "a\0\0\0b\0"s, TextModeUtf16, u"a"},
      {"text ends at the first zero (ansi)", "ab\0cd"s, TextModeAnsi, u"ab"},
      {"invalid utf-8 is replaced, not dropped", "a\xFF" "b\xC3", TextModeUtf8, u"a\uFFFDb\uFFFD"},
      {"empty file", "", TextModeUtf8, u""},
      {"empty file, detect", "", TextModeDetect, u""},
  };
  rztest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::WriteFile(dir.Path() / "f.txt", c.bytes);
    std::u16string text = u"stale";
    EXPECT_EQ(ReadTextFile(PathText(dir.Path() / "f.txt"), text, c.mode), 0);
    EXPECT_EQ(text, c.text);
  }
}

TEST(TextFile, ReadFailures) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "f.txt", "abc");
  std::u16string text = u"stale";
  EXPECT_EQ(ReadTextFile(PathText(dir.Path() / "f.txt"), text, 4), 1);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(ReadTextFile(PathText(dir.Path() / "f.txt"), text, -1), 1);
  EXPECT_EQ(ReadTextFile(PathText(dir.Path() / "missing.txt"), text, TextModeUtf8), -ENOENT);
  EXPECT_LT(ReadTextFile(PathText(dir.Path()), text, TextModeUtf8), 0);
  // Backslashes in stored paths are accepted.
  EXPECT_EQ(ReadTextFile(ReplaceAll(PathText(dir.Path() / "f.txt"), u"/", u"\\"), text, 2), 0);
  EXPECT_EQ(text, u"abc");
}

TEST(TextFile, WriteModes) {
  struct WriteCase {
    std::u16string text;
    int mode;
    bool ok;
    std::string bytes;
  };
  const WriteCase cases[] = {
      {u"", TextModeUtf8, true, ""},
      {u"ab", TextModeUtf8, true, "ab"},  // 2 bytes + zero is not over 3: no mark
      {u"é", TextModeUtf8, true, "\xC3\xA9"},
      {u"abc", TextModeUtf8, true, "\xEF\xBB\xBF" "abc"},
      {u"中", TextModeUtf8, true, "\xEF\xBB\xBF\xE4\xB8\xAD"},
      {u"<a>\n</a>", TextModeUtf8, true, "\xEF\xBB\xBF<a>\n</a>"},
      {u"a\xD800z", TextModeUtf8, true, "\xEF\xBB\xBF" "a\xEF\xBF\xBDz"},  // lone surrogate
      {u"😀", TextModeUtf8, true, "\xEF\xBB\xBF\xF0\x9F\x98\x80"},
      {u"中文", TextModeAnsi, true, "\xD6\xD0\xCE\xC4"},
      {u"x", TextModeAnsi, true, "x"},
      {u"x", TextModeUtf16, false, "previous"},
      {u"x", TextModeDetect, false, "previous"},
  };
  rztest::TempDir dir;
  const fs::path file = dir.Path() / "out.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text) + " mode " + std::to_string(c.mode));
    rztest::WriteFile(file, "previous");
    EXPECT_EQ(WriteTextFile(PathText(file), c.text, c.mode), c.ok);
    EXPECT_EQ(rztest::ReadFile(file), c.bytes);
  }
  EXPECT_FALSE(WriteTextFile(PathText(dir.Path() / "no" / "folder.txt"), u"abc", TextModeUtf8));
}

TEST(TextFile, WrittenTextReadsBackInEveryMode) {
  rztest::TempDir dir;
  const std::u16string path = PathText(dir.Path() / "t.txt");
  const std::u16string text = u"第一行\r\n second line 😀";
  ASSERT_TRUE(WriteTextFile(path, text, TextModeUtf8));
  std::u16string back;
  EXPECT_EQ(ReadTextFile(path, back, TextModeDetect), 0);
  EXPECT_EQ(back, text);
  ASSERT_TRUE(WriteTextFile(path, u"第一行 ansi", TextModeAnsi));
  EXPECT_EQ(ReadTextFile(path, back, TextModeDetect), 0);
  EXPECT_EQ(back, u"第一行 ansi");
}

const char kRule[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg><JobName><![CDATA[新闻]]></JobName>"
    "<Charset>gb2312</Charset><Note>a&#x0A;b</Note><Empty /></Cfg>";

TEST(XmlFile, LoadAppendsTheExtensionUnlessThePathHasIt) {
  rztest::TempDir dir;
  rztest::WriteFile(dir.Path() / "Job.xml", std::string("\xEF\xBB\xBF") + kRule);
  rztest::WriteFile(dir.Path() / "Web.module", kRule);
  rztest::WriteFile(dir.Path() / "Old.xml.bak", kRule);
  const std::u16string want = U16(kRule);
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Job"), u".xml"), want);
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Job.xml"), u".xml"), want);
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Web"), u".module"), want);
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Old.xml.bak"), u".xml"), want);
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Web"), u".xml"), u"");
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path() / "Missing"), u".xml"), u"");
  EXPECT_EQ(LoadXmlFile(PathText(dir.Path()), u""), u"");  // a folder
}

TEST(XmlFile, Base64FormLoadsLikeThePlainFile) {
  rztest::TempDir dir;
  const std::string encoded = Base64(kRule);
  // Line breaks and other characters outside the alphabet are skipped.
  std::string wrapped;
  for (size_t i = 0; i < encoded.size(); i += 20) wrapped += encoded.substr(i, 20) + "\r\n";
  const std::pair<const char*, std::string> files[] = {
      {"a.xml", "\x01" + encoded},
      {"b.xml", "\xEF\xBB\xBF\x01" + wrapped},
      {"c.xml", "\x01" + Base64(std::string("\xEF\xBB\xBF") + kRule)},
      {"d.xml", "\x01 " + wrapped + "  ==\n"},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    rztest::WriteFile(dir.Path() / name, bytes);
    const std::u16string text = LoadXmlFile(PathText(dir.Path() / name), u".xml");
    EXPECT_EQ(text, U16(kRule));
    CXmlDocument doc;
    doc.Parse(text);
    EXPECT_EQ(*doc.FindChild(u"Cfg")->FindChild(u"JobName")->ChildText(), u"新闻");
    EXPECT_EQ(*doc.FindChild(u"Cfg")->FindChild(u"Note")->ChildText(), u"a\nb");
    EXPECT_EQ(doc.FindChild(u"Cfg")->FindChild(u"Empty")->ChildText(), nullptr);
  }
  // Undecodable content gives text the parser rejects, never an exception here.
  rztest::WriteFile(dir.Path() / "bad.xml", "\x01!!!\xFF\xFE");
  EXPECT_NO_THROW(LoadXmlFile(PathText(dir.Path() / "bad.xml"), u".xml"));
}

TEST(XmlFile, SaveWritesUtf8WithMarkAndReplacesTheFile) {
  rztest::TempDir dir;
  const fs::path file = dir.Path() / "Cfg.xml";
  rztest::WriteFile(file, std::string(5000, 'x'));
  ::chmod(file.c_str(), 0600);

  std::u16string out;
  CXmlTextWriter w(out);
  w.WriteDeclaration(u"1.0", u"utf-8");
  w.OpenElement(u"Cfg");
  w.WriteTextElement(u"Name", u"中文 & more");
  w.CloseElement();
  ASSERT_TRUE(SaveXmlFile(PathText(file), out));
  EXPECT_EQ(rztest::ReadFile(file), "\xEF\xBB\xBF" + Utf16ToUtf8(out));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // Nothing is left beside the file.
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) entries += e.path() == file ? 1 : 100;
  EXPECT_EQ(entries, 1u);

  CXmlDocument doc;
  doc.Parse(LoadXmlFile(PathText(dir.Path() / "Cfg"), u".xml"));
  EXPECT_EQ(*doc.FindChild(u"Cfg")->FindChild(u"Name")->ChildText(), u"中文 & more");
}

TEST(XmlFile, FailedSaveLeavesTheOldFileWhole) {
  rztest::TempDir dir;
  EXPECT_FALSE(SaveXmlFile(PathText(dir.Path() / "missing" / "Cfg.xml"), u"<Cfg />"));
  EXPECT_FALSE(fs::exists(dir.Path() / "missing"));

  // A target that cannot be replaced (a non-empty folder) keeps its content; no temp file stays.
  fs::create_directories(dir.Path() / "Busy.xml" / "inner");
  EXPECT_FALSE(SaveXmlFile(PathText(dir.Path() / "Busy.xml"), u"<Cfg />"));
  EXPECT_TRUE(fs::is_directory(dir.Path() / "Busy.xml" / "inner"));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
