#include <gtest/gtest.h>

#include "platform/HtmlCtrl.h"

using rz::ParseTableTemplate;
using rz::ParseTagAttributes;
using rz::TableTemplate;
using Map = std::map<std::u16string, std::u16string>;

TEST(ParseTagAttributes, PairsNamesWithQuotedValues) {
  struct Case {
    const char16_t* tag;
    Map expected;
  } cases[] = {
      {u"<td class=\"name\" width=\"30%\">", {{u"class", u"name"}, {u"width", u"30%"}}},
      {u"<tr id=\"row\" onclick=\"sel(this)\">", {{u"id", u"row"}, {u"onclick", u"sel(this)"}}},
      {u"<TD Align=\"left\">", {{u"Align", u"left"}}},
      {u"<td>", {}},
      // One unquoted value: the name and value counts differ, so nothing is paired.
      {u"<td class=name width=\"30\">", {}},
      {u"<td class=\"a\" nowrap>", {{u"class", u"a"}}},
      {u"<td title=\"中文\">", {{u"title", u"中文"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseTagAttributes(c.tag), c.expected);
}

TEST(ParseTableTemplate, TakesRowAndCellsOfTheFirstRow) {
  TableTemplate t;
  ASSERT_TRUE(ParseTableTemplate(
      u"<table id=\"tpl\"><tr class=\"job\" height=\"22\"><td class=\"ico\" width=\"20\"><img src=\"a.gif\"></td>"
      u"<td class=\"name\">[name]</td></tr><tr class=\"other\"><td class=\"x\">y</td></tr></table>",
      t));
  EXPECT_EQ(t.rowAttributes, (Map{{u"class", u"job"}, {u"height", u"22"}}));
  ASSERT_EQ(t.cellAttributes.size(), 2u);
  EXPECT_EQ(t.cellAttributes[0], (Map{{u"class", u"ico"}, {u"width", u"20"}}));
  EXPECT_EQ(t.cellAttributes[1], (Map{{u"class", u"name"}}));
  ASSERT_EQ(t.cellHtml.size(), 2u);
  EXPECT_EQ(t.cellHtml[0], u"<img src=\"a.gif\">");
  EXPECT_EQ(t.cellHtml[1], u"[name]");
}

TEST(ParseTableTemplate, RowSpanningLinesAndMissingParts) {
  TableTemplate t;
  ASSERT_TRUE(ParseTableTemplate(u"<tr class=\"r\">\n  <td class=\"c\">\n a\n</td>\n</tr>", t));
  ASSERT_EQ(t.cellHtml.size(), 1u);
  EXPECT_EQ(t.cellHtml[0], u"\n a\n");

  EXPECT_FALSE(ParseTableTemplate(u"<table><td class=\"c\">x</td></table>", t));
  EXPECT_TRUE(t.cellHtml.empty());

  ASSERT_TRUE(ParseTableTemplate(u"<table><tr class=\"empty\"></tr></table>", t));
  EXPECT_EQ(t.rowAttributes, (Map{{u"class", u"empty"}}));
  EXPECT_TRUE(t.cellAttributes.empty());
  EXPECT_TRUE(t.cellHtml.empty());
}

TEST(ScriptLiteral, EscapesQuotesAndDropsLineBreaks) {
  EXPECT_EQ(rz::ScriptLiteral(u"it's \"x\"\r\nline\\2"), u"it\\'s \\\"x\\\"line\\\\2");
}
