// A compact, readable picture of a parsed tree for table-driven comparisons:
// element name[attr=value,...]{children}, T(text), C(cdata), !(comment), ?(version,encoding).
#pragma once

#include <string>

#include "foundation/Text.h"
#include "xml/Xml.h"

namespace xmltest {

inline std::string Dump(const pcutil::CXmlNode& node) {
  using pcutil::Utf16ToUtf8;
  std::string out;
  for (const pcutil::CXmlNode* c = node.FirstChild(); c; c = c->NextSibling()) {
    if (!out.empty()) out += ' ';
    if (auto* e = c->AsElement()) {
      out += Utf16ToUtf8(e->Value());
      if (e->FirstAttribute()) {
        out += '[';
        for (auto* a = e->FirstAttribute(); a; a = a->Next()) {
          if (a != e->FirstAttribute()) out += ',';
          out += Utf16ToUtf8(a->Name) + "=" + Utf16ToUtf8(a->Value);
        }
        out += ']';
      }
      if (e->FirstChild()) out += "{" + Dump(*e) + "}";
    } else if (auto* t = c->AsText()) {
      out += (t->IsCData ? "C(" : "T(") + Utf16ToUtf8(t->Value()) + ")";
    } else if (auto* m = c->AsComment()) {
      out += "!(" + Utf16ToUtf8(m->Value()) + ")";
    } else if (auto* d = c->AsDeclaration()) {
      out += "?(" + Utf16ToUtf8(d->Version) + "," + Utf16ToUtf8(d->Encoding) + ")";
    }
  }
  return out;
}

}  // namespace xmltest
