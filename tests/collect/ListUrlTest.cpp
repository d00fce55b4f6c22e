#include <gtest/gtest.h>

#include "collect/ListUrl.h"
#include "foundation/Text.h"
#include "Sandbox.h"

using pcutil::U16;

namespace {

std::vector<std::string> Expand(const std::string& item, int limit = 0) {
  std::vector<std::u16string> out;
  rz::ExpandListUrl(U16(item.c_str()), out, limit);
  std::vector<std::string> r;
  for (auto& s : out) r.push_back(pcutil::Utf16ToUtf8(s));
  return r;
}

using V = std::vector<std::string>;

TEST(ExpandListUrl, RangeForms) {
  struct Case {
    const char* item;
    int limit;
    V expected;
  } cases[] = {
      {"p<1,3,0,1>", 0, {"p1", "p2", "p3"}},
      {"p<1,3,1,1>", 0, {"p3", "p2", "p1"}},
      {"p<001,3,0,1>", 0, {"p001", "p002", "p003"}},
      // the value is index times multiple, width from the written start
      {"p<1,3,0,5>", 0, {"p5", "p10", "p15"}},
      {"p<01,3,1,10>", 0, {"p30", "p20", "p10"}},
      {"list_<1,3,0,1>.html", 0, {"list_1.html", "list_2.html", "list_3.html"}},
      {"p<a,c,0>", 0, {"pa", "pb", "pc"}},
      {"p<a,c,1>", 0, {"pc", "pb", "pa"}},
      {"p<abc,d,0>", 0, {"pa", "pb", "pc", "pd"}},
      // the same token twice gets the same value
      {"p<1,2,0,1>/q<1,2,0,1>", 0, {"p1/q1", "p2/q2"}},
      // fewer than three fields: a plain address; five or more: nothing
      {"p<1,2>", 0, {"p<1,2>"}},
      {"p<1,2,0,1,9>", 0, V{}},
      // empty fields are skipped when splitting
      {"p<1,,2,0,1>", 0, {"p1", "p2"}},
      // non-numeric fields read as 0
      {"p<x,2,0,1>", 0, {"p0", "p1", "p2"}},
      {"p<3,1,0,1>", 0, V{}},
      {"http://s/a.html", 0, {"http://s/a.html"}},
      // the preview's limit: 5 gives four addresses
      {"p<1,10,0,1>", 5, {"p1", "p2", "p3", "p4"}},
      {"p<a,z,0>", 3, {"pa", "pb"}},
      {"p<1,10,1,1>", 2, {"p10"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.item, c.limit), c.expected) << c.item;
  V ten;
  for (int i = 1; i <= 10; ++i) ten.push_back("p" + std::to_string(i));
  EXPECT_EQ(Expand("p<1,10,0,1>"), ten);
}

TEST(ExpandListUrl, MistypedHugeRangeIsCapped) {
  std::vector<std::u16string> out;
  EXPECT_EQ(rz::ExpandListUrl(u"p<1,99999999999,0,1>", out), 1);
  ASSERT_EQ(out.size(), rz::kMaxRangeAddresses);
  EXPECT_EQ(out.back(), u"p1000000");
}

TEST(ExpandListUrl, EmptyItemIsRefusedAndOutputAppends) {
  std::vector<std::u16string> out{u"kept"};
  EXPECT_EQ(rz::ExpandListUrl(u"", out), 0);
  EXPECT_EQ(rz::ExpandListUrl(u"p<1,2,0,1>", out), 1);
  EXPECT_EQ(out, (std::vector<std::u16string>{u"kept", u"p1", u"p2"}));
  EXPECT_EQ(rz::ExpandListUrl(u"p<1,2,0,1,1>", out), 1);  // processed, nothing produced
  EXPECT_EQ(out.size(), 3u);
}

TEST(ExpandListUrl, AddressFile) {
  rztest::Sandbox box;
  rztest::WriteFile(box / "urls.txt", "http://a/1\r\n\r\nhttp://a/2\n");
  EXPECT_EQ(Expand("#FILE#urls.txt"), (V{"http://a/1", "", "http://a/2"}));
  const std::string abs = (box / "urls.txt").string();
  EXPECT_EQ(Expand("#FILE#" + abs), (V{"http://a/1", "", "http://a/2"}));
  // a file in the local code page
  rztest::WriteFile(box / "gbk.txt", pcutil::Utf16ToLocal(u"http://a/中文") + "\n");
  EXPECT_EQ(Expand("#FILE#gbk.txt"), (V{"http://a/中文"}));
  // unreadable: nothing, no failure
  std::vector<std::u16string> out;
  EXPECT_EQ(rz::ExpandListUrl(u"#FILE#missing.txt", out), 1);
  EXPECT_TRUE(out.empty());
}

TEST(ClassifyListUrl, FormsAndBase) {
  std::vector<std::u16string> f;
  std::u16string base;
  EXPECT_EQ(rz::ClassifyListUrl(u"", f, base), -1);
  EXPECT_EQ(rz::ClassifyListUrl(u"http://s/a.html", f, base), 0);
  EXPECT_EQ(rz::ClassifyListUrl(u"#FILE#/x/urls.txt", f, base), 3);
  EXPECT_EQ(rz::ClassifyListUrl(u"http://s/p<01,9,1,2>.html", f, base), 1);
  EXPECT_EQ(base, u"http://s/p(*).html");
  EXPECT_EQ(f, (std::vector<std::u16string>{u"01", u"9", u"1", u"2"}));
  EXPECT_EQ(rz::ClassifyListUrl(u"http://s/<a,k,0>", f, base), 2);
  EXPECT_EQ(base, u"http://s/(*)");
  EXPECT_EQ(rz::ClassifyListUrl(u"http://s/<1,2,3,4,5>", f, base), -1);
  EXPECT_EQ(rz::ClassifyListUrl(u"http://s/<1,2>", f, base), 0);
}

TEST(BuildListUrl, RoundTripsThroughClassify) {
  EXPECT_EQ(rz::BuildListUrl(u"http://s/(*).html", u"1", u"10", u"1", u"2"),
            u"http://s/<1,10,1,2>.html");
  EXPECT_EQ(rz::BuildListUrl(u"http://s/(*)", u"a", u"z", u"0", u""), u"http://s/<a,z,0>");
  EXPECT_EQ(rz::BuildListUrl(u"http://s/(*)", u"", u"z", u"0", u""), u"http://s/(*)");
  std::vector<std::u16string> f;
  std::u16string base;
  EXPECT_EQ(rz::ClassifyListUrl(rz::BuildListUrl(u"http://s/(*)", u"3", u"7", u"0", u"1"), f, base), 1);
  EXPECT_EQ(base, u"http://s/(*)");
}

}  // namespace
