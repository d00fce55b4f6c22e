#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

using namespace pcutil;

namespace {

using Entries = std::vector<std::string>;

Entries ToUtf8(const std::vector<std::u16string>& list) {
  Entries out;
  for (const auto& s : list) out.push_back(Utf16ToUtf8(s));
  return out;
}

Entries Capture(const std::string& pattern, const std::string& subject, unsigned flags) {
  std::vector<std::u16string> out;
  RegexCapture(U16(pattern.c_str()), U16(subject.c_str()), flags, out);
  return ToUtf8(out);
}

Entries Odd(const std::string& pattern, const std::string& subject, unsigned flags) {
  std::vector<std::u16string> out;
  RegexCaptureOdd(U16(pattern.c_str()), U16(subject.c_str()), flags, out);
  return ToUtf8(out);
}

std::string Replace(const std::string& subject, const std::string& pattern, unsigned flags,
                    const std::string& replacement, int* count = nullptr) {
  std::u16string text = U16(subject.c_str());
  EXPECT_TRUE(RegexReplace(text, U16(pattern.c_str()), flags, U16(replacement.c_str()), count));
  return Utf16ToUtf8(text);
}

Entries Split(const std::string& subject, const std::string& pattern, unsigned flags = 0) {
  std::vector<std::u16string> out;
  int n = RegexSplit(out, U16(subject.c_str()), flags, U16(pattern.c_str()));
  EXPECT_EQ(n, static_cast<int>(out.size()));
  return ToUtf8(out);
}

struct CaptureCase {
  const char* pattern;
  unsigned flags;
  const char* subject;
  Entries expected;  // empty: no match
};

void RunCaptureTable(const std::vector<CaptureCase>& cases) {
  for (const auto& c : cases)
    EXPECT_EQ(Capture(c.pattern, c.subject, c.flags), c.expected)
        << "pattern " << c.pattern << " flags " << std::hex << c.flags << " subject " << c.subject;
}

}  // namespace

// Every construct of the rule dialect, with the results Perl gives.
TEST(RegexDialect, CharactersClassesAndAnchors) {
  RunCaptureTable({
      {R"(a\.b\*\(\))", 0, "xab*a.b*()", {"a.b*()"}},
      {"a.b", 0, "a\nb axb", {"axb"}},
      {"a.b", SingleLine, "a\nb axb", {"a\nb"}},
      {"[a-c]+", 0, "xxabcabz", {"abcab"}},
      {"[^0-9]+", 0, "12ab3", {"ab"}},
      {R"([\d-]+)", 0, "tel 12-34 x", {"12-34"}},
      {R"(\W+)", 0, "ab, cd", {", "}},
      {R"(\s\S)", 0, "a b", {" b"}},
      {R"(\D+)", 0, "12ab", {"ab"}},
      {R"([\w\s]+)", 0, "#a b_1#", {"a b_1"}},
      {R"([^\W\d]+)", 0, "12ab_3", {"ab_"}},
      {"[[:xdigit:]]+", 0, "zzBEEF09zz", {"BEEF09"}},
      {"[[:alpha:][:digit:]]+", 0, "--ab12--", {"ab12"}},
      {"[^[:space:]]+", 0, "  ab c", {"ab"}},
      {"[[:upper:]]+", CaseInsensitive, "12aB", {"aB"}},
      {"^b", 0, "a\nb", {}},
      {"^b", MultiLine, "a\nb", {"b"}},
      {"a$", 0, "a\nb", {}},
      {"a$", MultiLine, "a\nb", {"a"}},
      {"b$", 0, "ab\n", {"b"}},  // Perl: "$" also before a final line feed
      {R"((.)\bfoo\b)", 0, "afoo foo.", {" foo", " "}},
      {R"(\Bo\B)", 0, "o do dog", {"o"}},
      {"ABC", CaseInsensitive, "xabc", {"abc"}},
      {"ABC", 0, "xabc", {}},
      {"ÉTÉ", CaseInsensitive, "un été", {"été"}},
      {"ДОМ", CaseInsensitive, "мой дом", {"дом"}},
      // \w and \d stay ASCII; Chinese text is matched by classes such as [^<] or ".".
      {R"(\w+)", 0, "中文abc", {"abc"}},
      {R"(编号:(\d+))", 0, "编号:42", {"编号:42", "42"}},
  });
}

TEST(RegexDialect, QuantifiersGroupsAndAlternation) {
  RunCaptureTable({
      {"a+?", 0, "aaa", {"a"}},
      {"a*?b", 0, "aab", {"aab"}},
      {"a??b", 0, "ab", {"ab"}},
      {"a{2}", 0, "aaaa", {"aa"}},
      {"a{2,}", 0, "aaaa", {"aaaa"}},
      {"a{2,3}", 0, "aaaa", {"aaa"}},
      {"a{2,3}?", 0, "aaaa", {"aa"}},
      {"a{2,}?", 0, "aaaa", {"aa"}},
      {"<.+?>", 0, "<a><b>", {"<a>"}},
      {"<.+>", 0, "<a><b>", {"<a><b>"}},
      {"(a(b)(c))(d)", 0, "abcd", {"abcd", "abc", "b", "c", "d"}},
      {"(?:ab)+(c)", 0, "ababc", {"ababc", "c"}},
      {"x(a|bc|d)y", 0, "xbcy", {"xbcy", "bc"}},
      {"cat|dog", 0, "hotdog", {"dog"}},
      {"(a)|(b)", 0, "b", {"b", "", "b"}},
  });
}

TEST(RegexDialect, BackReferencesLookAheadConditionalsCommentsQuotingControls) {
  RunCaptureTable({
      {R"((\w)\1)", 0, "abccd", {"cc", "c"}},
      {R"(<(\w+)>.*?</\1>)", 0, "<b>x</i></b>", {"<b>x</i></b>", "b"}},
      {R"(\w+(?=;))", 0, "ab cd;", {"cd"}},
      {R"(a(?!b)\w)", 0, "abac", {"ac"}},
      {R"(^(<)?\w+(?(1)>)$)", 0, "<ab>", {"<ab>", "<"}},
      {R"(^(<)?\w+(?(1)>)$)", 0, "ab", {"ab", ""}},
      {R"(^(<)?\w+(?(1)>)$)", 0, "<ab", {}},
      {R"(^(?(?=\d)\d+|[a-z]+)$)", 0, "abc", {"abc"}},
      {"a(?#any note here)b", 0, "xab", {"ab"}},
      {R"(\Q(a+)*.\E!)", 0, "x(a+)*.!", {"(a+)*.!"}},
      {R"(\Qa.b)", 0, "axb a.b", {"a.b"}},  // \Q runs to the end without \E
      {R"(\cJ)", 0, "x\ny", {"\n"}},
      {R"(a\ci)", 0, "a\tb", {"a\t"}},
  });
}

// The patterns the system itself runs.
TEST(RegexDialect, SystemPatterns) {
  RunCaptureTable({
      {R"(base href\=("|')(.*?)("|'| ))", 0x8B, "<HEAD><BASE HREF='http://x.cn/a/' />",
       {"BASE HREF='http://x.cn/a/'", "'", "http://x.cn/a/", "'"}},
      {R"((href|src)\=("|')(.*?)("|'| ))", 0x83, "<a href='a.htm'>x</a><IMG SRC=\"b.png\">",
       {"href='a.htm'", "href", "'", "a.htm", "'", "SRC=\"b.png\"", "SRC", "\"", "b.png", "\""}},
      {"(https?|ftp|file)://[-A-Z0-9+&@#/%?=~_|!:,.;]*[-A-Z0-9+&@#/%=~_|]", 0x83,
       "see https://ex.com/a?b=1. or FTP://x.org/f!",
       {"https://ex.com/a?b=1", "https", "FTP://x.org/f", "FTP"}},
      {R"(<meta.+?charset=([-\w]+))", 0x8B,
       "<META http-equiv=\"Content-Type\"\ncontent=\"text/html; charset=gb2312\">",
       {"<META http-equiv=\"Content-Type\"\ncontent=\"text/html; charset=gb2312", "gb2312"}},
      {R"(\[文章编号:(.*?)\])", 0x83, "正文[文章编号:A-17]尾", {"[文章编号:A-17]", "A-17"}},
      {"<h.+?>", 0x83, "<h1 class=t>T</h1><hr>", {"<h1 class=t>", "<hr>"}},
  });
  EXPECT_EQ(Replace("a<script type=x>\nvar s='</b>';\n</script>b<SCRIPT>x</SCRIPT>c",
                    "<script.*?>.*?</script>", 0x8B, ""),
            "abc");
  EXPECT_EQ(Replace("<p>Hello <b>world</b></p>", "<[^>]*>", 0x83, ""), "Hello world");
  EXPECT_EQ(Replace("<a href=\"x\">t</a> <A href=y>u</A>", "(<a.*?)>", 0x83, "$1 ref=\"nofollow\">"),
            "<a href=\"x\" ref=\"nofollow\">t</a> <A href=y ref=\"nofollow\">u</A>");
  EXPECT_EQ(Odd(R"((\w+)=)", "id=5&name=x", 0x83), (Entries{"id", "name"}));
  EXPECT_EQ(Odd(R"x("(.+?)")x", "a=\"1\" b=\"22\"", 0x83), (Entries{"1", "22"}));
}

TEST(RegexCapture, EntriesPerMatchAndWhichMatchesAreUsed) {
  // Two groups, the second optional and absent: three entries per match.
  EXPECT_EQ(Capture("(a)(b)?", "ax ax", 0x83), (Entries{"a", "a", "", "a", "a", ""}));
  // First match only, unless Global comes with AllCaptures.
  EXPECT_EQ(Capture(R"((\d))", "1 2 3", 0x1), (Entries{"1", "1"}));
  EXPECT_EQ(Capture(R"((\d))", "1 2 3", Global), (Entries{"1", "1"}));
  EXPECT_EQ(Capture(R"((\d))", "1 2 3", AllCaptures), (Entries{"1", "1"}));
  EXPECT_EQ(Capture(R"((\d))", "1 2 3", Global | AllCaptures),
            (Entries{"1", "1", "2", "2", "3", "3"}));
  // Empty matches advance one character at a time and never repeat a position.
  EXPECT_EQ(Capture("x*", "axx", 0x83), (Entries{"", "xx", ""}));
  EXPECT_EQ(Capture(R"(\b)", "ab cd", 0x83), (Entries{"", "", "", ""}));
}

TEST(RegexCapture, FailureLeavesTheListUnchanged) {
  std::vector<std::u16string> out{u"keep"};
  EXPECT_FALSE(RegexCapture(u"(z)", u"abc", 0x83, out));
  EXPECT_EQ(out, std::vector<std::u16string>{u"keep"});
  EXPECT_TRUE(RegexCapture(u"(b)", u"abc", 0x83, out));
  EXPECT_EQ(out, (std::vector<std::u16string>{u"keep", u"b", u"b"}));
}

TEST(RegexCapture, CrLfIsNormalisedOnlyHere) {
  EXPECT_EQ(Capture("a\r\n(b)", "xa\nb", 0x83), (Entries{"a\nb", "b"}));
  EXPECT_EQ(Capture("a\n(b)", "xa\r\nb", 0x83), (Entries{"a\nb", "b"}));
  EXPECT_EQ(Capture("a\r(b)", "a\rb", 0x83), (Entries{"a\rb", "b"}));  // a lone CR stays
  EXPECT_TRUE(Odd("a\r\n(b)", "xa\nb", 0x83).empty());
  EXPECT_TRUE(Odd("a\n(b)", "xa\r\nb", 0x83).empty());
  EXPECT_EQ(Replace("xa\r\nb", "a\nb", 0x83, "-"), "xa\r\nb");
  EXPECT_EQ(Split("xa\r\nb", "a\nb"), (Entries{"xa\r\nb"}));
}

TEST(RegexCaptureOdd, TakesOddPositionsOfTheWholeSequence) {
  // Sequence: "ab" "a" "b" "cd" "c" "d" -> positions 1, 3, 5.
  EXPECT_EQ(Odd(R"((\w)(\w))", "ab cd", 0x83), (Entries{"a", "cd", "d"}));
  EXPECT_EQ(Odd(R"((\w+)=)", "id=5&name=x", 0x1), (Entries{"id"}));
  std::vector<std::u16string> out;
  EXPECT_TRUE(RegexCaptureOdd(u"b", u"abc", 0x83, out));  // matched, but no odd entry
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(RegexCaptureOdd(u"(z)", u"abc", 0x83, out));
}

TEST(RegexReplace, TemplatesAndMatchSelection) {
  struct Case {
    const char* subject;
    const char* pattern;
    unsigned flags;
    const char* replacement;
    const char* expected;
    int count;
  };
  const Case cases[] = {
      {"a1b2", R"(\d)", 0, "#", "a#b2", 1},
      {"a1b2", R"(\d)", Global, "#", "a#b#", 2},
      {"abc", "z", Global, "#", "abc", 0},
      {"abc", "x*", Global, "-", "-a-b-c-", 4},  // as Perl's s/x*/-/g
      {"ab", "", Global, ".", ".a.b.", 3},
      {"key=val", R"((\w+)=(\w+))", 0, "$2=$1", "val=key", 1},
      {"key=val", R"((\w+)=(\w+))", 0, "[$0|$&]", "[key=val|key=val]", 1},
      {"ab", "(a)", 0, "${1}0 $10 $$1 $x $", "a0 a0 $1 $x $b", 1},
      {"ab", "(a)(z)?", 0, "<$2$7${9}>", "<>b", 1},
      {"abcdefghijk", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", 0, "$11$10$1", "kja", 1},
      {"ab", "a", 0, R"(\n\t\\)", R"(\n\t\\b)", 1},  // no normalisation: backslashes stay
      {"ab", "(a)", NormalizeReplacement, R"(\n\t\\\$1\x41\x{4E2D}\u6587\q)",
       "\n\t\\$1A中文qb", 1},
      {"ab", "a", NormalizeReplacement, R"(\x\xZ\u12\)", "xxZu12\\b", 1},
      {"a\nb\nc", "^", Global | MultiLine, "> ", "> a\n> b\n> c", 3},
      {"A-a", "a", Global | CaseInsensitive, "x", "x-x", 2},
  };
  for (const auto& c : cases) {
    int count = -1;
    EXPECT_EQ(Replace(c.subject, c.pattern, c.flags, c.replacement, &count), c.expected)
        << c.pattern << " / " << c.replacement;
    EXPECT_EQ(count, c.count) << c.pattern;
  }
}

TEST(RegexSplit, PiecesGroupsAndTrailingEmpties) {
  EXPECT_EQ(Split("a,b,,c,,", ","), (Entries{"a", "b", "", "c"}));
  EXPECT_EQ(Split(",a", ","), (Entries{"", "a"}));
  EXPECT_EQ(Split("abc", ","), (Entries{"abc"}));
  EXPECT_TRUE(Split("", ",").empty());
  EXPECT_TRUE(Split(",,,", ",").empty());
  // Marks in their own groups: sentences alternate with the mark that ended them.
  EXPECT_EQ(Split("一。二！三", "(。)|(！)"), (Entries{"一", "。", "二", "！", "三"}));
  EXPECT_EQ(Split("一。二！", "(。)|(！)"), (Entries{"一", "。", "二", "！"}));
  // Only groups that took part are appended; an empty group that took part is.
  EXPECT_EQ(Split("a,b", "(-)?,"), (Entries{"a", "b"}));
  EXPECT_EQ(Split("a,b", "(-?),"), (Entries{"a", "", "b"}));
  // Empty matches split between characters, never at the start of a piece.
  EXPECT_EQ(Split("abc", ""), (Entries{"a", "b", "c"}));
  EXPECT_EQ(Split("axb", "x*"), (Entries{"a", "b"}));
  EXPECT_EQ(Split("aXbxc", "x", CaseInsensitive), (Entries{"a", "b", "c"}));
  std::vector<std::u16string> out{u"first"};
  EXPECT_EQ(RegexSplit(out, u"a b", 0, u" "), 2);
  EXPECT_EQ(out, (std::vector<std::u16string>{u"first", u"a", u"b"}));
}

TEST(RegexText, SurrogatePairsAreOneCharacterAndLoneSurrogatesSurvive) {
  std::vector<std::u16string> out;
  EXPECT_TRUE(RegexCapture(u"^(.)(.)$", u"a\U0001F600", 0, out));
  EXPECT_EQ(out, (std::vector<std::u16string>{u"a\U0001F600", u"a", u"\U0001F600"}));

  const std::u16string lone = u"<b>x" + std::u16string(1, char16_t(0xD800)) + u"y</b>";
  out.clear();
  EXPECT_TRUE(RegexCapture(u"<b>([^<]*)</b>", lone, 0x83, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1], lone.substr(3, 3));
  out.clear();
  EXPECT_TRUE(RegexCapture(u"x.y", lone, 0, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], lone.substr(3, 3));

  std::u16string text = lone;
  RegexReplace(text, u"</?b>", 0x83, u"");
  EXPECT_EQ(text, lone.substr(3, 3));
  // A lone surrogate typed into a pattern does not break compiling.
  std::u16string pattern = u"x" + std::u16string(1, char16_t(0xDC00));
  out.clear();
  EXPECT_FALSE(RegexCapture(pattern, u"xy", 0, out));

  // Wherever a lone surrogate or a pair stands in a long text (the scan goes by blocks).
  for (size_t at : {0u, 30u, 31u, 32u, 33u, 63u, 64u, 95u, 200u}) {
    std::u16string page(240, u'a');
    page[at] = char16_t(0xDC00);
    out.clear();
    EXPECT_TRUE(RegexCapture(u"([^a])", page, 0, out)) << at;
    ASSERT_EQ(out.size(), 2u) << at;
    EXPECT_EQ(out[1], std::u16string(1, char16_t(0xDC00))) << at;
    page.replace(at, 1, u"\U0001F600");
    out.clear();
    EXPECT_TRUE(RegexCapture(u"^a*(.)a*$", page, 0, out)) << at;
    ASSERT_EQ(out.size(), 2u) << at;
    EXPECT_EQ(out[1], u"\U0001F600") << at;
  }

  // Empty matches step over a whole pair.
  text = u"\U0001F600\U0001F600";
  RegexReplace(text, u"", Global, u"|");
  EXPECT_EQ(text, u"|\U0001F600|\U0001F600|");
}

TEST(RegexErrors, BadPatternsRaiseTheEngineDescription) {
  struct Case {
    const char* pattern;
    const char* message;  // part of the description
  };
  const Case cases[] = {
      {"a{3,1}", "numbers out of order in {} quantifier"},
      {"(", "missing closing parenthesis"},
      {"a)", "unmatched closing parenthesis"},
      {"[a", "missing terminating ] for character class"},
      {"[z-a]", "range out of order in character class"},
      {R"((a)\2)", "reference to non-existent subpattern"},
      {"*a", "quantifier does not follow a repeatable item"},
      {"a\\", "\\ at end of pattern"},
      {R"(a\C)", "\\C"},
      {"(?<n>a)(?<n>b)", "two named subpatterns have the same name"},
  };
  for (const auto& c : cases) {
    for (int op = 0; op < 4; ++op) {
      std::vector<std::u16string> out;
      std::u16string subject = u"abc";
      try {
        switch (op) {
          case 0: RegexCapture(U16(c.pattern), subject, 0x83, out); break;
          case 1: RegexCaptureOdd(U16(c.pattern), subject, 0x83, out); break;
          case 2: RegexReplace(subject, U16(c.pattern), 0x83, u"x"); break;
          case 3: RegexSplit(out, subject, 0x83, U16(c.pattern)); break;
        }
        ADD_FAILURE() << c.pattern << " compiled";
      } catch (const RegexError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << c.pattern << ": " << e.what();
        EXPECT_GE(e.Offset(), 0);
      }
      EXPECT_TRUE(out.empty());
      EXPECT_EQ(subject, u"abc");
    }
  }
}

TEST(RegexErrors, RunawayBacktrackingEndsWithAnError) {
  const std::u16string subject = std::u16string(40, u'a') + u"!";
  std::vector<std::u16string> out;
  try {
    RegexCapture(u"^(a+)+$", subject, 0x83, out);
    ADD_FAILURE() << "matched";
  } catch (const RegexError& e) {
    EXPECT_NE(std::string(e.what()).find("limit"), std::string::npos) << e.what();
    EXPECT_EQ(e.Offset(), -1);
  }
  std::u16string text = subject;
  EXPECT_THROW(RegexReplace(text, u"(\\w+\\s?)+$", 0x83, u""), RegexError);
  EXPECT_EQ(text, subject);
}

TEST(RegexText, LongSubjectsWithDeepBacktrackingStillMatch) {
  // Repeated groups over a long page need more stack than the JIT's default.
  std::u16string page;
  for (int i = 0; i < 100000; ++i) page += u"ab";
  std::vector<std::u16string> out;
  EXPECT_TRUE(RegexCapture(u"^(?:(a)|b)*$", page, 0x8B, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1], u"a");
  out.clear();
  EXPECT_TRUE(RegexCapture(u"<title>(.*?)</title>", u"<html>" + page + u"<title>T</title>", 0x8B, out));
  EXPECT_EQ(out.back(), u"T");
}

TEST(RegexText, RecursionThatOutgrowsTheJitStackStillEnds) {
  // Found by the fuzz test: with empty matches refused, the recursion runs deep enough to
  // exhaust the JIT's stack at every position. Long texts are the ones the JIT runs.
  const std::u16string pattern = uR"(|(?R)|\d\s)";
  std::u16string page;
  while (page.size() < 5000) page += u"\r\n a<中文";
  std::u16string text = page;
  RegexReplace(text, pattern, 0xC | Global, u"$0");
  EXPECT_EQ(text, page);
  std::vector<std::u16string> out;
  EXPECT_EQ(RegexSplit(out, u"ab", 0, pattern), 2);
  EXPECT_EQ(out, (std::vector<std::u16string>{u"a", u"b"}));
  out.clear();
  EXPECT_EQ(RegexSplit(out, page, 0, pattern), static_cast<int>(page.size()));
}

TEST(RegexText, RunsOnManyThreadsAtOnce) {
  const int saved = FixedPauseMs();
  SetFixedPauseMs(0);
  std::u16string page;
  for (int i = 0; i < 300; ++i) page += u"<a href='p" + U16(std::to_string(i).c_str()) + u".htm'>x</a>";
  std::vector<std::thread> threads;
  std::vector<int> counts(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        std::vector<std::u16string> out;
        RegexCaptureOdd(uR"(href='(.*?)')", page, 0x83, out);
        std::u16string text = page;
        RegexReplace(text, u"<[^>]*>", 0x83, u"");
        if (out.size() == 300 && out[299] == u"p299.htm" && text == std::u16string(300, u'x'))
          ++counts[t];
      }
    });
  for (auto& th : threads) th.join();
  SetFixedPauseMs(saved);
  EXPECT_EQ(counts, std::vector<int>(4, 20));
}

TEST(RegexText, ReusedPatternsKeepTheirFlagsAndSubjects) {
  // The same text under other flags is another pattern.
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Capture("(abc)", "xABC", Global | AllCaptures), Entries{});
    EXPECT_EQ(Capture("(abc)", "xABC", Global | AllCaptures | CaseInsensitive),
              (Entries{"ABC", "ABC"}));
  }
  // More patterns than a thread keeps compiled, cycled: each still matches its own text,
  // and a long page (JIT) and a short label alternate on the same pattern.
  std::string page(5000, 'y');
  page += "<h1>long</h1>";
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 100; ++i) {
      const std::string n = std::to_string(i);
      const std::string pattern = "<h" + n + ">(.*?)</h" + n + ">";
      EXPECT_EQ(Capture(pattern, "<h" + n + ">v" + n + "</h" + n + ">", 0x83),
                (Entries{"<h" + n + ">v" + n + "</h" + n + ">", "v" + n}));
      if (i == 1) EXPECT_EQ(Capture(pattern, page, 0x83), (Entries{"<h1>long</h1>", "long"}));
    }
  // A subject given once is not held: the next call on the same pattern sees only its own.
  EXPECT_EQ(Replace("aXa", "X", 0x83, "-"), "a-a");
  EXPECT_EQ(Replace("bb", "X", 0x83, "-"), "bb");
}
