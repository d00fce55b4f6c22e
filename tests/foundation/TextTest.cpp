#include <gtest/gtest.h>

#include <set>

#include "foundation/Text.h"

using namespace pcutil;

TEST(UrlEncode, BothBranches) {
  struct Case {
    std::u16string text, charset, expected;
  };
  const Case cases[] = {
      {u"a /中", u"utf-8", u"a%20/%E4%B8%AD"},
      {u"a /中", u"gb2312", u"a%20/%D6%D0"},
      {u"a /中", u"UTF-8", u"a%20/%D6%D0"},  // only the exact name takes the utf-8 branch
      {u"-_.!~*'():/Az09", u"utf-8", u"-_.!~*'():/Az09"},
      {u"-_.!~*'():/Az09", u"gbk", u"%2D%5F%2E%21%7E%2A%27%28%29:/Az09"},
      {u"a+b&c=d?e#f%", u"utf-8", u"a%2Bb%26c%3Dd%3Fe%23f%25"},
      {u"\u00e9\u07ff\u0800\uffff", u"utf-8", u"%C3%A9%DF%BF%E0%A0%80%EF%BF%BF"},
      // a surrogate pair is one character: one 4-byte sequence
      {u"x\U0001F600y", u"utf-8", u"x%F0%9F%98%80y"},
      {std::u16string(u"a") + char16_t(0xD83D) + u"b", u"utf-8", u"a%EF%BF%BDb"},
      // the local code page: GBK, with GB18030's four bytes for what GBK lacks
      {u"\u20ac", u"gb2312", u"%80"},
      {u"\U0001F600", u"gb2312", u"%949%FC6"},
      {std::u16string(1, char16_t(0xDC00)), u"gb2312", u"%3F"},
      {u"\t\r\n", u"utf-8", u"%09%0D%0A"},
      {u"", u"utf-8", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UrlEncode(c.text, c.charset), c.expected)
        << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.charset);
}

TEST(Escaping, ReplacementOrder) {
  EXPECT_EQ(HtmlEscape(u"<&>\"'"), u"&lt;&amp;&gt;&quot;'");
  EXPECT_EQ(HtmlUnescape(u"&amp;lt;"), u"&lt;");
  EXPECT_EQ(HtmlUnescape(u"&quot;&lt;b&gt;&amp;amp;"), u"\"<b>&amp;");
  EXPECT_EQ(SqlEscape(u"a\\b'c\"d"), u"a\\\\b\\'c\\\"d");
  EXPECT_EQ(CsvQuote(u"say \"hi\"\nbye"), u"say \"\"hi\"\"\"\n\"bye");
  EXPECT_EQ(ReplaceAll(u"aaa", u"a", u"aa"), u"aaaaaa");  // replaced text is not rescanned
  EXPECT_EQ(ReplaceAll(u"abc", u"", u"x"), u"abc");
}

TEST(Split, PiecesAndFailures) {
  struct Case {
    std::u16string text, delimiter;
    bool keepEmpty, ok;
    std::vector<std::u16string> pieces;
  };
  const Case cases[] = {
      {u"a,b,c", u",", false, true, {u"a", u"b", u"c"}},
      {u"a,b,", u",", false, true, {u"a", u"b"}},
      {u"a,,b", u",", false, true, {u"a", u"b"}},
      {u"a,,b", u",", true, true, {u"a", u"", u"b"}},
      {u",a,", u",", true, true, {u"", u"a", u""}},
      {u"", u",", false, true, {}},
      {u"a<br>b<br>", u"<br>", false, true, {u"a", u"b"}},
      {u"a,b", u"", false, false, {}},
      {u"abc", u";", false, true, {u"abc"}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> out{u"stale"};
    EXPECT_EQ(Split(c.text, c.delimiter, out, c.keepEmpty), c.ok) << Utf16ToUtf8(c.text);
    EXPECT_EQ(out, c.pieces) << Utf16ToUtf8(c.text);
  }
}

TEST(Split, PieceLimit) {
  std::vector<std::u16string> out;
  std::u16string text;
  for (int i = 0; i < 500000; ++i) text += u"x,";
  EXPECT_TRUE(Split(text, u",", out));
  EXPECT_EQ(out.size(), 500000u);
  text += u"x";
  EXPECT_FALSE(Split(text, u",", out));
  EXPECT_TRUE(out.empty());
}

TEST(CountDelimiters, NonOverlapping) {
  EXPECT_EQ(CountDelimiters(u"aaaa", u"aa"), 2);
  EXPECT_EQ(CountDelimiters(u"aaa", u"aa"), 1);
  EXPECT_EQ(CountDelimiters(u"a../b/../", u"../"), 2);
  EXPECT_EQ(CountDelimiters(u"abc", u""), 0);
  EXPECT_EQ(CountDelimiters(u"", u","), 0);
}

TEST(CutBetween, Markers) {
  struct Case {
    std::u16string text, start, end;
    bool found;
    std::u16string inner;
  };
  const Case cases[] = {
      {u"x<a>in</a>y<a>2</a>", u"<a>", u"</a>", true, u"in"},
      {u"x<a></a>", u"<a>", u"</a>", true, u""},
      {u"</a>x<a>in", u"<a>", u"</a>", false, u""},  // end only before start
      {u"no markers", u"<a>", u"</a>", false, u""},
      {u"whole text", u"", u"", false, u"whole text"},
      {u"abc]def", u"", u"]", true, u"abc"},
      {u"abc[def", u"[", u"", true, u""},
  };
  for (const auto& c : cases) {
    std::u16string inner = u"stale";
    EXPECT_EQ(CutBetween(c.text, c.start, c.end, inner), c.found) << Utf16ToUtf8(c.text);
    EXPECT_EQ(inner, c.inner) << Utf16ToUtf8(c.text);
  }
}

TEST(IsNumber, Forms) {
  for (const char16_t* yes : {u"-5", u"007", u"0", u"12345678901234567890"})
    EXPECT_TRUE(IsNumber(yes)) << Utf16ToUtf8(yes);
  for (const char16_t* no : {u"", u"-", u"1.5", u"5-", u"+5", u" 5", u"--5", u"\uff15"})
    EXPECT_FALSE(IsNumber(no)) << Utf16ToUtf8(no);
}

TEST(RandomBetween, CasesInDesignedOrder) {
  EXPECT_EQ(RandomBetween(5, 5), 0);
  EXPECT_EQ(RandomBetween(0, 0), 0);
  EXPECT_EQ(RandomBetween(-5, 0), 0);  // would divide by zero
  std::set<int> seen;
  for (int i = 0; i < 300; ++i) {
    int r = RandomBetween(0, 7);  // random mod second
    EXPECT_TRUE(r >= 0 && r < 7) << r;
    r = RandomBetween(3, 10);  // first < second: random mod second
    EXPECT_TRUE(r >= 0 && r < 10) << r;
    r = RandomBetween(10, 3);  // second + random mod (first - second)
    EXPECT_TRUE(r >= 3 && r < 10) << r;
    seen.insert(RandomBetween(30000, 0));
  }
  // Calls in quick succession must not repeat one value.
  EXPECT_GT(seen.size(), 100u);
}

TEST(Format, PrintfSubset) {
  const std::u16string name = u"任务";
  EXPECT_EQ(Format(u"%s=%d", name, 5), u"任务=5");
  EXPECT_EQ(Format(u"add('<span id=log%ld>%s</span>',%ld);", 12L, u"x", 12L),
            u"add('<span id=log12>x</span>',12);");
  EXPECT_EQ(Format(u"%02d:%02d %05d %05d", 5, 123, 42, -42), u"05:123 00042 -0042");
  EXPECT_EQ(Format(u"%u %x %d%%", 4000000000u, 255, -1), u"4000000000 ff -1%");
  EXPECT_EQ(Format(u"%ld", -9000000000L), u"-9000000000");
  EXPECT_EQ(Format(u"%s and %s", u"one"), u"one and ");  // a missing argument prints nothing
  EXPECT_EQ(Format(u"%s", 7), u"7");
  EXPECT_EQ(Format(u"100%"), u"100%");
  EXPECT_EQ(Format(u"%q"), u"%q");
}
