#include <gtest/gtest.h>

#include <functional>

#include "XmlDump.h"
#include "foundation/Text.h"
#include "xml/Xml.h"

using pcutil::CXmlDocument;
using pcutil::CXmlTextWriter;
using pcutil::U16;

namespace {

struct WriteCase {
  const char* name;
  std::function<void(CXmlTextWriter&)> steps;
  const char* expected;  // UTF-8
  int state;             // writer state afterwards
};

TEST(XmlWriter, OutputByteForByte) {
  const WriteCase cases[] = {
      {"rule file shape",
       [](CXmlTextWriter& w) {
         w.WriteDeclaration(u"1.0", u"utf-8");
         w.OpenElement(u"Cfg");
         w.OpenElement(u"K");
         w.WriteCData(u"v");
         w.CloseElement();
         w.WriteTextElement(u"N", u"a<b");
         w.CloseElement();
       },
       "<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg><K><![CDATA[v]]></K><N>a&lt;b</N></Cfg>",
       1},
      {"nothing between open and close",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"K");
         w.CloseElement();
       },
       "<K />", 1},
      {"attributes then empty close",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"Item");
         w.WriteAttribute(u"id", u"1");
         w.WriteAttribute(u"name", u"a\"b'c&d");
         w.CloseElement();
       },
       "<Item id=\"1\" name=\"a&quot;b&apos;c&amp;d\" />", 1},
      {"attributes then content",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.WriteAttribute(u"x", u"\n");
         w.WriteText(u"t");
         w.CloseElement();
       },
       "<a x=\"&#x0A;\">t</a>", 1},
      {"empty text element keeps its end tag",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"Cfg");
         w.WriteTextElement(u"E", u"");
         w.CloseElement();
       },
       "<Cfg><E></E></Cfg>", 1},
      {"text element does not touch the name stack",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.WriteTextElement(u"b", u"1");
         w.WriteTextElement(u"c", u"2");
         w.CloseElement();
       },
       "<a><b>1</b><c>2</c></a>", 1},
      {"nested empty elements",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.OpenElement(u"b");
         w.CloseElement();
         w.OpenElement(u"c");
         w.CloseElement();
         w.CloseElement();
       },
       "<a><b /><c /></a>", 1},
      {"escaping of every special and control character",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.WriteText(std::u16string(u"&<>\"'\t\r\n\x01\x1F\x20\x7F中") + u'\0');
       },
       "<a>&amp;&lt;&gt;&quot;&apos;&#x09;&#x0D;&#x0A;&#x01;&#x1F; \x7F中&#x00;", 3},
      {"CDATA is written unchanged, ]]> not split",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.WriteCData(u"x]]>y\n<&");
         w.CloseElement();
       },
       "<a><![CDATA[x]]>y\n<&]]></a>", 1},
      {"raw text",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.WriteRaw(u"<b>&</b>");
         w.CloseElement();
       },
       "<a><b>&</b></a>", 1},
      {"declaration is not escaped",
       [](CXmlTextWriter& w) { w.WriteDeclaration(u"1&0", u"x\"y"); },
       "<?xml version=\"1&0\" encoding=\"x\"y\"?>", 1},
      {"pointer forms, null as empty",
       [](CXmlTextWriter& w) {
         const char16_t* none = nullptr;
         w.OpenElement(static_cast<const char16_t*>(u"a"));
         w.WriteAttribute(u"n", none);
         w.WriteTextElement(static_cast<const char16_t*>(u"b"), none);
         w.WriteText(none);
         w.WriteRaw(none);
         w.CloseElement();
       },
       "<a n=\"\"><b></b></a>", 1},
      {"close without open writes nothing",
       [](CXmlTextWriter& w) {
         w.OpenElement(u"a");
         w.CloseElement();
         w.CloseElement();
       },
       "<a />", 1},
      {"nothing written", [](CXmlTextWriter&) {}, "", 0},
      {"open start tag", [](CXmlTextWriter& w) { w.OpenElement(u"a"); }, "<a", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string out;
    CXmlTextWriter w(out);
    c.steps(w);
    EXPECT_EQ(pcutil::Utf16ToUtf8(out), c.expected);
    EXPECT_EQ(w.State(), c.state);
  }
}

TEST(XmlWriter, WrittenValuesReadBack) {
  // Every value the writer escapes reads back unchanged, line breaks and controls included.
  const std::u16string values[] = {
      u"plain", u"a<b>&\"'", u"line one\nline two", u"ends with break\r\n", u"\ttabbed",
      u"中文 内容", std::u16string(u"nul\0inside", 10), u"\x01\x1F", u"😀"};
  for (const auto& v : values) {
    std::u16string out;
    CXmlTextWriter w(out);
    w.WriteDeclaration(u"1.0", u"utf-8");
    w.OpenElement(u"Cfg");
    w.WriteTextElement(u"T", v);
    w.OpenElement(u"A");
    w.WriteAttribute(u"v", v);
    w.CloseElement();
    w.OpenElement(u"C");
    w.WriteCData(v);
    w.CloseElement();
    w.CloseElement();

    CXmlDocument doc;
    doc.Parse(out);
    auto* cfg = doc.FindChild(u"Cfg");
    ASSERT_NE(cfg, nullptr);
    ASSERT_NE(cfg->FindChild(u"T")->ChildText(), nullptr);
    EXPECT_EQ(*cfg->FindChild(u"T")->ChildText(), v);
    EXPECT_EQ(cfg->FindChild(u"A")->AsElement()->FindAttribute(u"v")->Value, v);
    EXPECT_EQ(*cfg->FindChild(u"C")->ChildText(), v);
    EXPECT_TRUE(cfg->FindChild(u"C")->FirstChild()->AsText()->IsCData);
  }
}

TEST(XmlWriter, LeadingAndTrailingBlanksOfPlainTextAreNotKept) {
  // Blanks are written as themselves, so the reader's trimming drops them; CDATA keeps them.
  std::u16string out;
  CXmlTextWriter w(out);
  w.OpenElement(u"Cfg");
  w.WriteTextElement(u"T", u"  x  ");
  w.CloseElement();
  CXmlDocument doc;
  doc.Parse(out);
  EXPECT_EQ(*doc.FindChild(u"Cfg")->FindChild(u"T")->ChildText(), u"x");
}

TEST(XmlTree, WriteThroughTheTreeGivesTheSameShape) {
  const char* text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><!-- dropped --><Cfg a=\"1\" b=\"x&amp;y\">"
      "<K><![CDATA[v]]></K><N>a&lt;b</N><E /><L>x&#x0A;y</L></Cfg>";
  CXmlDocument doc;
  doc.Parse(U16(text));
  std::u16string out;
  CXmlTextWriter w(out);
  doc.Write(w);
  EXPECT_EQ(pcutil::Utf16ToUtf8(out),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg a=\"1\" b=\"x&amp;y\">"
            "<K><![CDATA[v]]></K><N>a&lt;b</N><E /><L>x&#x0A;y</L></Cfg>");

  auto copy = doc.Clone();
  EXPECT_EQ(copy->Parent(), nullptr);
  EXPECT_EQ(xmltest::Dump(*copy), xmltest::Dump(doc));
  std::u16string again;
  CXmlTextWriter w2(again);
  copy->Write(w2);
  EXPECT_EQ(again, out);
}

TEST(XmlTree, NavigationAndAttributes) {
  CXmlDocument doc;
  doc.Parse(
      u"<Cfg><Item>1</Item><Other/><Item>2</Item><Item><![CDATA[3]]></Item><Empty/>"
      u"<Mixed><b/>t</Mixed><Comment><!--c-->t</Comment></Cfg>");
  auto* cfg = doc.FindChild(u"Cfg");
  ASSERT_NE(cfg, nullptr);
  EXPECT_EQ(cfg->Parent(), &doc);
  EXPECT_EQ(doc.FindChild(u"cfg"), nullptr);  // case-sensitive
  EXPECT_EQ(doc.FindChild(u"Cf"), nullptr);   // whole name

  std::vector<std::u16string> items;
  for (auto* n = cfg->FindChild(u"Item"); n; n = n->FindNextSibling(u"Item"))
    items.push_back(*n->ChildText());
  EXPECT_EQ(items, (std::vector<std::u16string>{u"1", u"2", u"3"}));

  EXPECT_EQ(cfg->FindChild(u"Empty")->ChildText(), nullptr);
  EXPECT_EQ(cfg->FindChild(u"Mixed")->ChildText(), nullptr);    // first child is an element
  EXPECT_EQ(cfg->FindChild(u"Comment")->ChildText(), nullptr);  // first child is a comment
  // FindChild looks at Value whatever the node type: a text child matches its text.
  EXPECT_NE(cfg->FindChild(u"Item")->FindChild(u"1"), nullptr);

  // Sibling links both ways.
  auto* first = cfg->FirstChild();
  EXPECT_EQ(first->PrevSibling(), nullptr);
  EXPECT_EQ(cfg->LastChild()->NextSibling(), nullptr);
  EXPECT_EQ(first->NextSibling()->PrevSibling(), first);
  EXPECT_EQ(cfg->LastChild()->Value(), u"Comment");

  auto* e = cfg->AsElement();
  e->SetAttribute(u"a", u"1");
  e->SetAttribute(u"b", u"2");
  e->SetAttribute(u"a", u"3");
  EXPECT_EQ(e->AttributeCount(), 2u);
  EXPECT_EQ(e->FirstAttribute()->Name, u"a");
  EXPECT_EQ(e->FirstAttribute()->Value, u"3");
  EXPECT_EQ(e->FirstAttribute()->Next()->Name, u"b");
  EXPECT_EQ(e->LastAttribute()->Prev(), e->FirstAttribute());
  EXPECT_EQ(e->FindAttribute(u"b")->Value, u"2");
  EXPECT_EQ(e->FindAttribute(u"c"), nullptr);
  EXPECT_EQ(cfg->AsText(), nullptr);
  EXPECT_EQ(doc.AsDocument(), &doc);
  EXPECT_EQ(cfg->Type(), pcutil::XmlElementNode);
}

}  // namespace
