#include <gtest/gtest.h>

#include "foundation/Text.h"

using namespace pcutil;

// Digests computed outside the program:
//   printf '7K3Q8R1T5M%s' "$address" | iconv -f UTF-8 -t UTF-16LE | md5sum
TEST(UrlKey, MatchesIndependentDigests) {
  struct Case {
    std::u16string address;
    std::u16string key;
  };
  const Case cases[] = {
      {u"http://www.example.com/a.html", u"6298c8b3898c53e189c8142216de2351"},
      {u"", u"7f8e34949d444eb84914cdb8316fd730"},
      {u"https://h/中文?q=1&x=%20", u"17edecb675c70a69849cff3d7a60200e"},
      {u"http://h/a/b/c/d.html", u"c8d123ff6dc50948fedce478636d715b"},
      {u"\U0001F600", u"e4463670fa468aad71dc97277e1522d6"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlKey(c.address), c.key) << Utf16ToUtf8(c.address);
}

TEST(ToAbsolute, ResolvesAsDesignedWithSchemesMended) {
  const std::u16string page = u"http://h/a/b/c/d.html";
  struct Case {
    std::u16string link, base, expected;
  };
  const Case cases[] = {
      {u"../../x.html", page, u"http://h/a/x.html"},
      {u"/x.html", page, u"http://h/x.html"},
      {u"x.html", page, u"http://h/a/b/c/x.html"},
      {u"x.html", u"http://h", u"http://h/x.html"},
      {u"/x.html", u"http://h", u"http://h/x.html"},
      {u"'x.html'", page, u"http://h/a/b/c/x.html"},
      {u"../../../../../x", u"http://h/a/b.html", u"http://h/x"},  // never above the host
      {u"./x.html", page, u"http://h/a/b/c/./x.html"},
      {u"?page=2", page, u"http://h/a/b/c/?page=2"},
      {u"", page, u"http://h/a/b/c/"},
      {u"x.html", u"", u"x.html"},
      {u"http://o/'y'", page, u"http://o/'y'"},
      {u"HTTP://O/Y", page, u"HTTP://O/Y"},
      // any scheme, any letter case, is absolute
      {u"https://x/y", page, u"https://x/y"},
      {u"Https://X/y", page, u"Https://X/y"},
      {u"ftp://f/z", page, u"ftp://f/z"},
      {u"hTTp://o/y", page, u"hTTp://o/y"},
      // protocol-relative links take the base's scheme
      {u"//cdn.x/y.js", u"https://h/a/", u"https://cdn.x/y.js"},
      {u"//cdn.x/y.js", page, u"http://cdn.x/y.js"},
      {u"//cdn.x/y.js", u"HTTPS://h", u"HTTPS://cdn.x/y.js"},
      // https bases resolve like http ones
      {u"/x.html", u"https://h/a/b", u"https://h/x.html"},
      {u"../x", u"https://h/a/b/c.html", u"https://h/a/x"},
      {u"x", u"https://h", u"https://h/x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ToAbsolute(c.link, c.base), c.expected)
        << Utf16ToUtf8(c.link) << " against " << Utf16ToUtf8(c.base);
}
