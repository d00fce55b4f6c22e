#include <gtest/gtest.h>

#include "foundation/Text.h"

using namespace pcutil;

TEST(LocalCodePage, GbkWithGb18030ForTheRest) {
  struct Case {
    std::u16string text;
    Bytes bytes;
  };
  const Case cases[] = {
      {u"a中", "a\xD6\xD0"},
      {u"\u20ac\u2014\u00b7", "\x80\xA1\xAA\xA1\xA4"},  // GBK's own forms, euro sign included
      {u"\U0001F600", "\x94\x39\xFC\x36"},              // not in GBK: GB18030
      {u"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToLocal(c.text), c.bytes) << Utf16ToUtf8(c.text);
    EXPECT_EQ(LocalToUtf16(c.bytes), c.text) << Utf16ToUtf8(c.text);
  }
  EXPECT_EQ(Utf16ToLocal(std::u16string(u"x") + char16_t(0xD800)), "x?");
  EXPECT_EQ(LocalToUtf16("a\xFF" "b\xD6"), u"a?b?");  // undecodable and truncated bytes
}

TEST(Charsets, DecodeAndEncodeByName) {
  EXPECT_EQ(DecodeCharset("\xE4\xB8\xAD", "utf-8"), u"中");
  EXPECT_EQ(DecodeCharset("\xD6\xD0\x80", "gb2312"), u"中\u20ac");  // pages labelled gb2312 are GBK
  EXPECT_EQ(DecodeCharset("\xD6\xD0", "GBK"), u"中");
  EXPECT_EQ(DecodeCharset("caf\xE9", "iso-8859-1"), u"café");
  EXPECT_EQ(DecodeCharset("a\xFF" "b", "utf-8"), u"a\uFFFDb");
  EXPECT_EQ(DecodeCharset("abc", "no-such-charset"), u"");

  EXPECT_EQ(EncodeCharset(u"中", "utf-8"), "\xE4\xB8\xAD");
  EXPECT_EQ(EncodeCharset(u"中\U0001F600", "gb2312"), "\xD6\xD0\x94\x39\xFC\x36");
  EXPECT_EQ(EncodeCharset(u"café中", "iso-8859-1"), "caf\xE9?");
  EXPECT_EQ(EncodeCharset(u"abc", "no-such-charset"), "");
  const std::u16string long_text(20000, u'中');
  EXPECT_EQ(DecodeCharset(EncodeCharset(long_text, "big5"), "big5"), long_text);
}
