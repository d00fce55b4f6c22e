// Reading and writing configuration values the way every store file holds them: one
// element per key, in text or CDATA form, lists as a container of Item elements.
#pragma once

#include <string>
#include <vector>

#include "xml/Xml.h"

namespace rz::detail {

using pcutil::CXmlNode;
using pcutil::CXmlTextWriter;

// A leading decimal number: blanks and a sign allowed, the rest ignored, no number gives 0.
// Out-of-range values are clamped.
int ParseInt(const std::u16string& text);
long long ParseInt64(const std::u16string& text);
std::u16string IntText(long long value);

// First child element with exactly this name (text, comment or CDATA nodes never match).
const CXmlNode* FindElement(const CXmlNode* parent, const std::u16string& name);
const CXmlNode* NextElement(const CXmlNode* node, const std::u16string& name);

// The element's text: its text and CDATA children joined (a CDATA value holding "]]>" is
// stored as two sections). Empty when the element has no text.
std::u16string ElementText(const CXmlNode* element);
bool HasChildElements(const CXmlNode* element);

// A missing key leaves the value alone; a present key without text gives "" or 0.
void Read(const CXmlNode* parent, const char16_t* key, std::u16string& value);
void Read(const CXmlNode* parent, const char16_t* key, int& value);
void Read(const CXmlNode* parent, const char16_t* key, long long& value);
// A list of plain values: empty Items are dropped. A missing container leaves the list alone.
void ReadList(const CXmlNode* parent, const char16_t* key, std::vector<std::u16string>& list);

// Calls f(item) for each Item child of the container.
template <typename F>
void ForEachItem(const CXmlNode* container, F f) {
  for (const CXmlNode* n = FindElement(container, u"Item"); n; n = NextElement(n, u"Item"))
    f(n);
}

void Text(CXmlTextWriter& w, const char16_t* key, const std::u16string& value);
void Text(CXmlTextWriter& w, const char16_t* key, long long value);
void CData(CXmlTextWriter& w, const char16_t* key, const std::u16string& value);
void CData(CXmlTextWriter& w, const char16_t* key, long long value);
void TextList(CXmlTextWriter& w, const char16_t* key, const std::vector<std::u16string>& list);
void CDataList(CXmlTextWriter& w, const char16_t* key, const std::vector<std::u16string>& list);

// Starts a file: declaration and the open root element "Cfg".
void BeginCfg(CXmlTextWriter& w);

// A parsed store file. Root is its Cfg element, or null when the file is missing,
// empty, not well-formed or has no Cfg; Error then says which.
struct CfgFile {
  pcutil::CXmlDocument Doc;
  const CXmlNode* Root = nullptr;
  std::u16string Error;
};
// Loads path (extension appended as LoadXmlFile does) and parses it; never throws.
bool LoadCfg(const std::u16string& path, const std::u16string& extension, CfgFile& file);
bool ParseCfg(const std::u16string& text, CfgFile& file);

// Writes the text through SaveXmlFile after making the file's folder.
bool SaveCfg(const std::u16string& path, const std::u16string& text);

}  // namespace rz::detail
