// Random and mutated patterns, subjects and templates through all four operations, with a
// fixed seed: nothing may crash or hang, and the operations must agree with each other.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/Pause.h"
#include "patterns/Regex.h"

using namespace pcutil;

namespace {

// Seeds for mutation: the patterns the system runs and one of each dialect construct.
const char16_t* const kSeeds[] = {
    uR"(base href\=("|')(.*?)("|'| ))",
    uR"((href|src)\=("|')(.*?)("|'| ))",
    u"(https?|ftp|file)://[-A-Z0-9+&@#/%?=~_|!:,.;]*[-A-Z0-9+&@#/%=~_|]",
    uR"(<meta.+?charset=([-\w]+))",
    u"<[^>]*>",
    u"(<a.*?)>",
    uR"((\w+)=)",
    uR"x("(.+?)")x",
    uR"(\[文章编号:(.*?)\])",
    u"<script.*?>.*?</script>",
    u"<h.+?>",
    uR"(^(<)?\w+(?(1)>)$)",
    uR"((\w)\1(?=x)(?!y))",
    uR"(a(?#note)\Qa.b\E\cJ[[:xdigit:][:^alpha:]]{2,3}?)",
    uR"((a|b)*?c{1,}d{0,2}+)",
    u"(。)|(！)",
};

// Building blocks for random patterns: valid pieces, half pieces and known traps.
const char16_t* const kTokens[] = {
    u"a", u"b", u"x", u"中", u"\U0001F600", u".", u"^", u"$", u"|", u"(", u")", u"(?:",
    u"(?=", u"(?!", u"(?<=", u"(?(1)", u"(?#", u"[", u"]", u"[^", u"-", u"*", u"+", u"?",
    u"*?", u"+?", u"{", u"}", u"{2}", u"{1,3}", u"{3,1}", u"{,2}", u"\\", u"\\w", u"\\W",
    u"\\s", u"\\d", u"\\b", u"\\1", u"\\2", u"\\9", u"\\Q", u"\\E", u"\\c", u"\\cA",
    u"\\x{", u"\\x{41}", u"\\p{L}", u"\\k<n>", u"(?<n>", u"(?R)", u"(?1)", u"(*",
    u"(*SKIP)", u"(?i)", u"(?s)", u"[:alpha:]", u"[[:digit:]]", u"\r\n", u"\n", u"\\K",
    u"\\C", u"(?|", u"\\g{-1}", u"#", u"(?x)", u"\\N",
};

const char16_t* const kSubjectTokens[] = {
    u"a", u"b", u"x", u"aaaa", u"ab", u" ", u"\n", u"\r\n", u"<", u">", u"<a href='x'>",
    u"</a>", u"=", u"\"", u"中文", u"。", u"！", u"\U0001F600", u"1", u"22", u"-",
};

const char16_t* const kTemplateTokens[] = {
    u"", u"x", u"$", u"$0", u"$1", u"$2", u"$12", u"${1}", u"${", u"$$", u"$&", u"\\",
    u"\\n", u"\\x{", u"\\x4", u"\\u00", u"\\u4E2D",
};

class Fuzzer {
 public:
  explicit Fuzzer(unsigned seed) : rng_(seed) {}

  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  template <typename T, std::size_t N>
  std::u16string Join(const T (&tokens)[N], int count) {
    std::u16string s;
    for (int i = 0; i < count; ++i) s += tokens[Below(N)];
    return s;
  }

  char16_t RandomUnit() {
    switch (Below(4)) {
      case 0: return static_cast<char16_t>(0xD800 + Below(0x800));  // often a lone surrogate
      case 1: return static_cast<char16_t>(Below(0x80));
      default: return u"()[]{}\\|*+?.^$-:=!<>#"[Below(22)];
    }
  }

  std::u16string Mutate(std::u16string s) {
    int edits = 1 + Below(3);
    for (int i = 0; i < edits; ++i) {
      std::size_t at = s.empty() ? 0 : Below(static_cast<int>(s.size()) + 1);
      switch (Below(4)) {
        case 0: s.insert(at, 1, RandomUnit()); break;
        case 1:
          if (at < s.size()) s.erase(at, 1 + Below(3));
          break;
        case 2:
          if (at < s.size()) s[at] = RandomUnit();
          break;
        case 3: s.insert(at, kTokens[Below(std::size(kTokens))]); break;
      }
    }
    return s;
  }

  std::u16string Pattern() {
    if (Below(2)) return Mutate(kSeeds[Below(std::size(kSeeds))]);
    return Join(kTokens, 1 + Below(8));
  }
  std::u16string Subject() {
    std::u16string s = Join(kSubjectTokens, Below(30));
    if (Below(4) == 0) s = Mutate(s);
    // Now and then a page-sized text, which the JIT runs rather than the interpreter.
    if (Below(25) == 0)
      while (!s.empty() && s.size() < 3000) s += s;
    return s;
  }
  std::u16string Template() { return Join(kTemplateTokens, Below(4)); }
  unsigned Flags() { return static_cast<unsigned>(Below(0x200)) & AllRegexFlags; }

 private:
  std::mt19937 rng_;
};

}  // namespace

TEST(RegexFuzz, RandomAndMutatedPatternsNeverCrashOrHang) {
  // RegexCapture's 1 ms pauses would dominate the run.
  struct NoPauses {
    int saved = FixedPauseMs();
    NoPauses() { SetFixedPauseMs(0); }
    ~NoPauses() { SetFixedPauseMs(saved); }
  } noPauses;
  Fuzzer f(20261211);
  int compiled = 0, rejected = 0;
  for (int i = 0; i < 10000; ++i) {
    const std::u16string pattern = f.Pattern();
    const std::u16string subject = f.Subject();
    const std::u16string replacement = f.Template();
    const unsigned flags = f.Flags();
    const bool crlf = pattern.find(u"\r\n") != std::u16string::npos ||
                      subject.find(u"\r\n") != std::u16string::npos;
    try {
      std::vector<std::u16string> all{u"sentinel"};
      bool any = RegexCapture(pattern, subject, flags, all);
      if (!any) {
        EXPECT_EQ(all.size(), 1u);
      }
      std::vector<std::u16string> odd;
      bool anyOdd = RegexCaptureOdd(pattern, subject, flags, odd);
      if (!crlf) {
        // Without CR LF pairs both see the same text: odd entries are a subset.
        EXPECT_EQ(any, anyOdd);
        ASSERT_EQ(odd.size(), (all.size() - 1) / 2);
        for (std::size_t k = 0; k < odd.size(); ++k) EXPECT_EQ(odd[k], all[2 + 2 * k]);
      }

      // Replacing every match by itself leaves the subject as it was.
      std::u16string same = subject;
      RegexReplace(same, pattern, flags | Global, u"$0");
      EXPECT_EQ(same, subject);

      std::u16string replaced = subject;
      EXPECT_TRUE(RegexReplace(replaced, pattern, flags, replacement));

      std::vector<std::u16string> pieces;
      int n = RegexSplit(pieces, subject, flags, pattern);
      EXPECT_EQ(n, static_cast<int>(pieces.size()));
      if (!pieces.empty()) {
        EXPECT_FALSE(pieces.back().empty());
      }
      ++compiled;
    } catch (const RegexError& e) {
      EXPECT_GT(std::string(e.what()).size(), 0u);
      ++rejected;
    }
    if (HasFatalFailure() || HasNonfatalFailure()) {
      ADD_FAILURE() << "case " << i;
      break;
    }
  }
  // The generator must exercise both paths, or it tests nothing.
  EXPECT_GT(compiled, 500);
  EXPECT_GT(rejected, 500);
}
