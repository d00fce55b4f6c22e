// Random and mutated documents against the parser: each one either parses or throws
// CXmlException; nothing crashes, hangs or throws anything else.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "Sandbox.h"

#include "foundation/Text.h"
#include "xml/Xml.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;
using namespace pcutil;

namespace {

const fs::path kCorpus = fs::path(RZ_SOURCE_DIR) / "tests" / "fixtures" / "xml" / "corpus";

std::vector<std::u16string> LoadCorpus() {
  std::vector<std::u16string> seeds;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    std::u16string text;
    if (ReadTextFile(Utf8ToUtf16(entry.path().string()), text, TextModeDetect) == 0)
      seeds.push_back(text);
  }
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

// Fragments the generator and the mutator splice in: every construct of the grammar,
// whole and cut short.
const std::u16string kFragments[] = {
    u"<", u">", u"/>", u"</", u"<a>", u"</a>", u"<a/>", u"<b x=\"1\">", u"</b>", u"<Cfg>",
    u"</Cfg>", u"<?xml version=\"1.0\" encoding=\"utf-8\"?>", u"<?XML", u"?>", u"<![CDATA[",
    u"]]>", u"<!--", u"-->", u"&amp;", u"&lt;", u"&#x41;", u"&#x", u"&#65;", u"&", u";", u"=",
    u"\"", u"'", u" ", u"\t", u"\r\n", u"x", u"中文", u"a='v'", u"b=\"&quot;\"", u"\u0001",
    u"\xD800", u"\uFFFF", std::u16string(1, u'\0'), u"<!DOCTYPE x>", u"<?pi?>", u"&#x10FFFF;",
};

std::u16string Fragment(std::mt19937& rng) {
  return kFragments[rng() % std::size(kFragments)];
}

std::u16string RandomDocument(std::mt19937& rng) {
  std::u16string doc;
  const unsigned pieces = rng() % 40;
  for (unsigned i = 0; i < pieces; ++i) {
    if (rng() % 8 == 0)
      doc += static_cast<char16_t>(rng() % 0x80);  // any ASCII, controls included
    else
      doc += Fragment(rng);
  }
  return doc;
}

std::u16string Mutate(std::u16string doc, std::mt19937& rng) {
  const unsigned steps = 1 + rng() % 4;
  for (unsigned s = 0; s < steps; ++s) {
    const size_t at = doc.empty() ? 0 : rng() % (doc.size() + 1);
    switch (rng() % 6) {
      case 0:  // flip a character
        if (at < doc.size()) doc[at] = static_cast<char16_t>(doc[at] ^ (1u << (rng() % 8)));
        break;
      case 1:  // insert a fragment
        doc.insert(at, Fragment(rng));
        break;
      case 2:  // delete a range
        doc.erase(at, rng() % 16);
        break;
      case 3:  // duplicate a range
        if (at < doc.size()) doc.insert(at, doc.substr(at, rng() % 32));
        break;
      case 4:  // cut the document short
        doc.resize(at);
        break;
      default:  // replace with a structural character
        if (at < doc.size()) doc[at] = u"<>/&;\"'=!?[]-"[rng() % 13];
        break;
    }
  }
  return doc;
}

// Parses; on success also writes and copies the tree.
void Exercise(const std::u16string& text, int& parsed, int& failed) {
  CXmlDocument doc;
  try {
    doc.Parse(text);
  } catch (const CXmlException& e) {
    EXPECT_GE(e.Code, 3);
    EXPECT_LE(e.Code, 9);
    EXPECT_FALSE(e.Message.empty());
    ++failed;
    return;
  } catch (...) {
    ADD_FAILURE() << "unexpected exception for: " << Utf16ToUtf8(text);
    return;
  }
  ++parsed;
  std::u16string out;
  CXmlTextWriter writer(out);
  doc.Write(writer);
  auto copy = doc.Clone();
  std::u16string again;
  CXmlTextWriter writer2(again);
  copy->Write(writer2);
  EXPECT_EQ(out, again);
}

TEST(XmlFuzz, CorpusParsesAndRoundTrips) {
  const auto seeds = LoadCorpus();
  ASSERT_GE(seeds.size(), 5u);
  for (const auto& seed : seeds) {
    CXmlDocument doc;
    ASSERT_NO_THROW(doc.Parse(seed)) << Utf16ToUtf8(seed);
    std::u16string out;
    CXmlTextWriter writer(out);
    doc.Write(writer);
    // What the writer produced from the tree reads back to the same output.
    CXmlDocument back;
    ASSERT_NO_THROW(back.Parse(out)) << Utf16ToUtf8(out);
    std::u16string again;
    CXmlTextWriter writer2(again);
    back.Write(writer2);
    EXPECT_EQ(again, out);
  }
}

TEST(XmlFuzz, RandomAndMutatedDocuments) {
  const auto seeds = LoadCorpus();
  ASSERT_FALSE(seeds.empty());
  std::mt19937 rng(20261211);
  int parsed = 0, failed = 0;
  for (int i = 0; i < 3000; ++i) Exercise(RandomDocument(rng), parsed, failed);
  for (int i = 0; i < 3000; ++i) Exercise(Mutate(seeds[rng() % seeds.size()], rng), parsed, failed);
  // Both outcomes occur, so the inputs reach past the first error check.
  EXPECT_GT(parsed, 100);
  EXPECT_GT(failed, 100);
}

TEST(XmlFuzz, Base64FormWithRandomPayload) {
  // LoadXmlFile never throws, whatever follows U+0001.
  std::mt19937 rng(7);
  rztest::TempDir temp;
  const fs::path& dir = temp.Path();
  const std::u16string path = Utf8ToUtf16((dir / "f.xml").string());
  for (int i = 0; i < 200; ++i) {
    std::string bytes = "\x01";
    const unsigned n = rng() % 64;
    for (unsigned k = 0; k < n; ++k) bytes += static_cast<char>(rng() % 256);
    FILE* f = std::fopen((dir / "f.xml").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::u16string text;
    EXPECT_NO_THROW(text = LoadXmlFile(path, u".xml"));
    int parsed = 0, failed = 0;
    Exercise(text, parsed, failed);
  }
}

}  // namespace
