#include "XmlFields.h"

#include <climits>
#include <filesystem>
#include <system_error>

#include "foundation/Text.h"
#include "xml/XmlFile.h"

namespace rz::detail {

long long ParseInt64(const std::u16string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' ||
                             text[i] == u'\n' || text[i] == u'\v' || text[i] == u'\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  unsigned long long v = 0;
  bool big = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (v > (static_cast<unsigned long long>(LLONG_MAX) - 9) / 10) big = true;
    if (!big) v = v * 10 + static_cast<unsigned>(text[i] - u'0');
  }
  if (big) return negative ? LLONG_MIN : LLONG_MAX;
  return negative ? -static_cast<long long>(v) : static_cast<long long>(v);
}

int ParseInt(const std::u16string& text) {
  long long v = ParseInt64(text);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::u16string IntText(long long value) { return pcutil::Utf8ToUtf16(std::to_string(value)); }

static bool IsElementNamed(const CXmlNode* n, const std::u16string& name) {
  return n->Type() == pcutil::XmlElementNode && n->Value() == name;
}

const CXmlNode* FindElement(const CXmlNode* parent, const std::u16string& name) {
  if (!parent) return nullptr;
  for (const CXmlNode* n = parent->FirstChild(); n; n = n->NextSibling())
    if (IsElementNamed(n, name)) return n;
  return nullptr;
}

const CXmlNode* NextElement(const CXmlNode* node, const std::u16string& name) {
  for (const CXmlNode* n = node->NextSibling(); n; n = n->NextSibling())
    if (IsElementNamed(n, name)) return n;
  return nullptr;
}

std::u16string ElementText(const CXmlNode* element) {
  std::u16string text;
  if (!element) return text;
  // Only the leading run of text nodes counts, like ChildText of the first child.
  for (const CXmlNode* n = element->FirstChild(); n && n->Type() == pcutil::XmlTextNode;
       n = n->NextSibling())
    text += n->Value();
  return text;
}

bool HasChildElements(const CXmlNode* element) {
  for (const CXmlNode* n = element->FirstChild(); n; n = n->NextSibling())
    if (n->Type() == pcutil::XmlElementNode) return true;
  return false;
}

void Read(const CXmlNode* parent, const char16_t* key, std::u16string& value) {
  if (const CXmlNode* e = FindElement(parent, key)) value = ElementText(e);
}

void Read(const CXmlNode* parent, const char16_t* key, int& value) {
  if (const CXmlNode* e = FindElement(parent, key)) value = ParseInt(ElementText(e));
}

void Read(const CXmlNode* parent, const char16_t* key, long long& value) {
  if (const CXmlNode* e = FindElement(parent, key)) value = ParseInt64(ElementText(e));
}

void ReadList(const CXmlNode* parent, const char16_t* key, std::vector<std::u16string>& list) {
  const CXmlNode* container = FindElement(parent, key);
  if (!container) return;
  list.clear();
  ForEachItem(container, [&](const CXmlNode* item) {
    std::u16string v = ElementText(item);
    if (!v.empty()) list.push_back(std::move(v));
  });
}

void Text(CXmlTextWriter& w, const char16_t* key, const std::u16string& value) {
  w.WriteTextElement(std::u16string(key), value);
}

void Text(CXmlTextWriter& w, const char16_t* key, long long value) { Text(w, key, IntText(value)); }

void CData(CXmlTextWriter& w, const char16_t* key, const std::u16string& value) {
  w.OpenElement(std::u16string(key));
  // A "]]>" inside the value would end the section early and lose the rest on reading;
  // it is split over two sections, which ElementText joins again.
  size_t start = 0;
  for (size_t pos; (pos = value.find(u"]]>", start)) != std::u16string::npos; start = pos + 2)
    w.WriteCData(value.substr(start, pos + 2 - start));
  w.WriteCData(value.substr(start));
  w.CloseElement();
}

void CData(CXmlTextWriter& w, const char16_t* key, long long value) { CData(w, key, IntText(value)); }

void TextList(CXmlTextWriter& w, const char16_t* key, const std::vector<std::u16string>& list) {
  w.OpenElement(std::u16string(key));
  for (const auto& v : list) Text(w, u"Item", v);
  w.CloseElement();
}

void CDataList(CXmlTextWriter& w, const char16_t* key, const std::vector<std::u16string>& list) {
  w.OpenElement(std::u16string(key));
  for (const auto& v : list) CData(w, u"Item", v);
  w.CloseElement();
}

void BeginCfg(CXmlTextWriter& w) {
  w.WriteDeclaration(u"1.0", u"utf-8");
  w.OpenElement(u"Cfg");
}

bool ParseCfg(const std::u16string& text, CfgFile& file) {
  file.Root = nullptr;
  if (text.empty()) {
    file.Error = u"the file is missing, empty or unreadable";
    return false;
  }
  try {
    file.Doc.Parse(text);
  } catch (const pcutil::CXmlException& e) {
    file.Error = u"not well-formed XML (" + e.Message + u")";
    return false;
  } catch (...) {
    file.Error = u"not well-formed XML";
    return false;
  }
  file.Root = FindElement(&file.Doc, u"Cfg");
  if (!file.Root) {
    file.Error = u"no Cfg element";
    return false;
  }
  return true;
}

bool LoadCfg(const std::u16string& path, const std::u16string& extension, CfgFile& file) {
  return ParseCfg(pcutil::LoadXmlFile(path, extension), file);
}

bool SaveCfg(const std::u16string& path, const std::u16string& text) {
  std::filesystem::path p(pcutil::ToFsPath(path));
  std::error_code ec;
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  return pcutil::SaveXmlFile(path, text);
}

}  // namespace rz::detail
