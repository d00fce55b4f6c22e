#include <gtest/gtest.h>

#include "Sandbox.h"
#include "foundation/Text.h"

using namespace pcutil;

TEST(ProgramPath, JoinsRelativePathsWithEitherSeparator) {
  SetProgramFolder(u"/opt/rz/");
  EXPECT_EQ(ProgramPath(), u"/opt/rz");
  EXPECT_EQ(ProgramPath(u"Data\\Job\\1.xml"), u"/opt/rz/Data/Job/1.xml");
  EXPECT_EQ(ProgramPath(u"\\User\\Cfg.xml"), u"/opt/rz/User/Cfg.xml");
  SetProgramFolder(u"");
  EXPECT_NE(ProgramPath(), u"/opt/rz");
}

TEST(Utf, RoundTripsAllPlanesAndRejectsBadUtf8) {
  const std::u16string text = u"a中\U0001F600\u00e9";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"中"), "\xE4\xB8\xAD");
  for (const char* bad : {"\xC3", "\xE4\xB8", "\xFF", "\xC0\x80", "\xED\xA0\x80"})
    EXPECT_TRUE(Utf8ToUtf16(bad).empty()) << bad;
}

TEST(Utf, LenientDecodingReplacesEachBadByteAndKeepsGoing) {
  const struct {
    const char* bytes;
    std::u16string text;
  } cases[] = {
      {"a\xE4\xB8\xAD", u"a中"},
      {"\xF0\x9F\x98\x80!", u"\U0001F600!"},
      {"\xC3", u"\uFFFD"},
      {"\xE4\xB8z", u"\uFFFD\uFFFDz"},            // cut sequence: each byte on its own
      {"\xFFok", u"\uFFFDok"},
      {"\xC0\x80", u"\uFFFD\uFFFD"},              // overlong
      {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16Lenient(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(Utf8ToUtf16Lenient(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));

  // The same after ASCII runs of every length around the blocks taken at once, and followed
  // by more ASCII: nothing is lost or shifted where a run ends.
  for (size_t run = 0; run < 20; ++run)
    for (const auto& c : cases) {
      const std::string ascii(run, 'k');
      const std::u16string wide(run, u'k');
      EXPECT_EQ(Utf8ToUtf16Lenient(ascii + c.bytes + ascii), wide + c.text + wide)
          << run << " " << c.bytes;
    }
}

TEST(Utf, EncodingAfterAsciiRunsOfEveryLength) {
  for (size_t run = 0; run < 12; ++run)
    for (const std::u16string& tail : {std::u16string(u"中"), std::u16string(u"\u00e9x"),
                                       std::u16string(u"\U0001F600"),
                                       std::u16string(1, char16_t(0xD800)) + u"ab"}) {
      const std::u16string text = std::u16string(run, u'k') + tail + std::u16string(run, u'q');
      const std::string bytes = Utf16ToUtf8(text);
      EXPECT_EQ(bytes.substr(0, run), std::string(run, 'k')) << run;
      EXPECT_EQ(bytes.substr(bytes.size() - run), std::string(run, 'q')) << run;
      if (tail[0] != 0xD800) EXPECT_EQ(Utf8ToUtf16(bytes), text) << run;
    }
}
