#include <gtest/gtest.h>

#include "XmlDump.h"
#include "foundation/Text.h"
#include "xml/Xml.h"

using pcutil::CXmlDocument;
using pcutil::CXmlException;
using pcutil::U16;

namespace {

struct ParseCase {
  const char* input;  // UTF-8
  const char* tree;   // expected Dump, or null when an error is expected
  int code;           // expected error code when tree is null
};

// Parses and returns the dump, or "error N" when the parser throws.
std::string ParseResult(const std::u16string& text) {
  CXmlDocument doc;
  try {
    doc.Parse(text);
  } catch (const CXmlException& e) {
    return "error " + std::to_string(e.Code);
  }
  return xmltest::Dump(doc);
}

TEST(XmlParse, AcceptedDocuments) {
  const ParseCase cases[] = {
      // declaration: case-insensitive prefix, both quote styles, keys only in lower case
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><Cfg/>", "?(1.0,utf-8) Cfg", 0},
      {"<?XML version=\"1.0\" encoding=\"utf-8\"?><Cfg/>", "?(1.0,utf-8) Cfg", 0},
      {"<?xml version='1.0' encoding='utf-8'?><Cfg/>", "?(1.0,utf-8) Cfg", 0},
      {"<?xml VERSION=\"1.0\" Encoding=\"gbk\" standalone=\"yes\"?>", "?(,)", 0},
      {"<?xml?>", "?(,)", 0},
      {"<?xml  version = \"1.0\"  ?>", "?(1.0,)", 0},
      {"<?xml version=\"1\" version=\"2\"?>", "?(1,)", 0},
      // empty element forms
      {"<a/>", "a", 0},
      {"<a />", "a", 0},
      {"<a></a>", "a", 0},
      {"  \r\n\t<a>\n</a>\n  ", "a", 0},
      // text: leading white space skipped, trailing tab/CR/blank/LF trimmed, references decoded
      {"<a>  x &amp; y  </a>", "a{T(x & y)}", 0},
      {"<a>\t\r\n x\t\r\n </a>", "a{T(x)}", 0},
      {"<a>&lt;&gt;&quot;&apos;&amp;</a>", "a{T(<>\"'&)}", 0},
      {"<a>&#x41;&#x4e2d;&#x1F600;</a>", "a{T(A中\xF0\x9F\x98\x80)}", 0},
      {"<a>line&#x0A;</a>", "a{T(line\n)}", 0},
      {"<a>&#x0A;x</a>", "a{T(\nx)}", 0},
      // CDATA is kept verbatim, blanks and references included
      {"<a><![CDATA[  x &amp; y  ]]></a>", "a{C(  x &amp; y  )}", 0},
      {"<a><![CDATA[]]></a>", "a{C()}", 0},
      {"<a><![CDATA[<b>]]]></a>", "a{C(<b>])}", 0},
      // attributes: both quotes, blanks around "=", references, repeated names
      {"<a b=\"1\" c='2'/>", "a[b=1,c=2]", 0},
      {"<a b = \"1\"\tc=\n'x\"y'>t</a>", "a[b=1,c=x\"y]{T(t)}", 0},
      {"<a b=\"&#x41;\"/>", "a[b=A]", 0},
      {"<a b=\"x&#x0A;y&lt;\"/>", "a[b=x\ny<]", 0},
      {"<a b=\"1\" c=\"2\" b=\"3\"/>", "a[b=3,c=2]", 0},
      {"<a b=\"\"/>", "a[b=]", 0},
      // comments, mixed content, several top-level nodes
      {"<!-- c --><a><!--x--><b>1</b>t<c/></a>", "!( c ) a{!(x) b{T(1)} T(t) c}", 0},
      {"<a/><b/>text<c></c>", "a b T(text) c", 0},
      {"<a><a><a/></a></a>", "a{a{a}}", 0},
      // names end at white space, ">" or "/>"; anything else belongs to the name
      {"<a/b>x</a/b>", "a/b{T(x)}", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(ParseResult(U16(c.input)), c.tree);
  }
}

TEST(XmlParse, ErrorCodes) {
  const ParseCase cases[] = {
      // 3: start tags and their attributes
      {"<a b=c/>", nullptr, 3},
      {"<a b c=\"1\"/>", nullptr, 3},
      {"<a b/>", nullptr, 3},
      {"<a b=\"1/>", nullptr, 3},
      {"<a b='1\"/>", nullptr, 3},
      {"<a b=\"&#65;\"/>", nullptr, 3},
      {"<a b=\"&nbsp;\"/>", nullptr, 3},
      {"<a", nullptr, 3},
      {"<a ", nullptr, 3},
      {"<>", nullptr, 3},
      {"</>", nullptr, 9},
      {"<", nullptr, 3},
      {"<a\nb=\"1\"", nullptr, 3},
      {"<?pi x?>", nullptr, 3},
      {"<!DOCTYPE html>", nullptr, 3},
      // 4: text
      {"<a>&#65;</a>", nullptr, 4},
      {"<a>&AMP;</a>", nullptr, 4},
      {"<a>&amp</a>", nullptr, 4},
      {"<a>& b</a>", nullptr, 4},
      {"<a>&#x;</a>", nullptr, 4},
      {"<a>&#x41</a>", nullptr, 4},
      {"<a>&#X41;</a>", nullptr, 4},
      {"<a>&#x110000;</a>", nullptr, 4},
      {"<a>&#xFFFFFFFFFFFFFFFF41;</a>", nullptr, 4},
      {"<a/>tail", nullptr, 4},
      {"text only", nullptr, 4},
      // 5: comments (and end tags without ">")
      {"<!-- open", nullptr, 5},
      {"<a><!-- -- ></a>", nullptr, 5},
      {"<a></a", nullptr, 5},
      // 6: declarations
      {"<?xml version=\"1.0\"", nullptr, 6},
      {"<?xml version=1.0?>", nullptr, 6},
      {"<?xml version?>", nullptr, 6},
      {"<?xml-stylesheet href=\"a\"?>", nullptr, 6},
      {"<?xml", nullptr, 6},
      // 7: CDATA
      {"<a><![CDATA[x</a>", nullptr, 7},
      {"<![CDATA[x]]", nullptr, 7},
      // 8: nothing at all
      {"", nullptr, 8},
      {" \t\r\n\v\f ", nullptr, 8},
      // 9: structure
      {"<a><b></a>", nullptr, 9},
      {"</a>", nullptr, 9},
      {"<a>", nullptr, 9},
      {"<a>text", nullptr, 4},
      {"<a></b>", nullptr, 9},
      {"<a></a >", nullptr, 9},
      {"<a></A>", nullptr, 9},
      {"<a><?xml version=\"1.0\"?></a>", nullptr, 9},
      {"<a/></a>", nullptr, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(ParseResult(U16(c.input)), "error " + std::to_string(c.code));
  }
}

TEST(XmlParse, ExceptionCarriesMessage) {
  const std::pair<const char*, const char*> cases[] = {
      {"<a b/>", "Parse Element Error"},     {"<a>&#65;</a>", "Parse Text Node Error"},
      {"<!--", "Parse Comment Error"},       {"<?xml", "Parse Declaration Error"},
      {"<![CDATA[", "Parse CData Error"},   {"", "Document Empty"},
      {"<a>", "Document Illegal"},
  };
  for (const auto& [input, message] : cases) {
    CXmlDocument doc;
    try {
      doc.Parse(U16(input));
      ADD_FAILURE() << input << " parsed";
    } catch (const CXmlException& e) {
      EXPECT_EQ(e.Message, U16(message)) << input;
    }
  }
}

TEST(XmlParse, NodesBeforeAnErrorStayInTheDocument) {
  CXmlDocument doc;
  EXPECT_THROW(doc.Parse(u"<?xml version=\"1.0\"?><a>1</a><b>"), CXmlException);
  EXPECT_EQ(xmltest::Dump(doc), "?(1.0,) a{T(1)} b");
}

TEST(XmlParse, NestingIsBounded) {
  // Deep nesting is refused instead of exhausting the stack; ordinary depth is fine.
  std::u16string shallow, deep;
  for (int i = 0; i < 500; ++i) shallow += u"<a>";
  for (int i = 0; i < 500; ++i) shallow += u"</a>";
  for (int i = 0; i < 200000; ++i) deep += u"<a>";
  CXmlDocument ok;
  EXPECT_NO_THROW(ok.Parse(shallow));
  CXmlDocument bad;
  try {
    bad.Parse(deep);
    ADD_FAILURE() << "deep nesting parsed";
  } catch (const CXmlException& e) {
    EXPECT_EQ(e.Code, 9);
  }
}

TEST(XmlParse, ManySiblingsAreReleasedWithoutRecursion) {
  std::u16string text = u"<r>";
  for (int i = 0; i < 300000; ++i) text += u"<i/>";
  text += u"</r>";
  auto doc = std::make_unique<CXmlDocument>();
  doc->Parse(text);
  EXPECT_NE(doc->FindChild(u"r")->LastChild(), nullptr);
  doc.reset();
}

}  // namespace
