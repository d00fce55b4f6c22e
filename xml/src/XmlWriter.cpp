#include "xml/Xml.h"

namespace pcutil {

namespace {

const char16_t* OrEmpty(const char16_t* s) { return s ? s : u""; }

void AppendEscaped(std::u16string& out, const std::u16string& text) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&apos;"; break;
      default:
        if (c < 0x20) {
          // Control characters, line breaks included, survive only as references.
          out += u"&#x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
          out += u';';
        } else {
          out += c;
        }
    }
  }
}

}  // namespace

std::u16string XmlEscape(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

void CXmlTextWriter::EndPendingTag() {
  if (state_ == StateTagOpen) out_ += u'>';
}

void CXmlTextWriter::WriteDeclaration(const std::u16string& version,
                                      const std::u16string& encoding) {
  out_ += u"<?xml version=\"";
  out_ += version;
  out_ += u"\" encoding=\"";
  out_ += encoding;
  out_ += u"\"?>";
  state_ = StateClosed;
}

void CXmlTextWriter::WriteDeclaration(const char16_t* version, const char16_t* encoding) {
  WriteDeclaration(std::u16string(OrEmpty(version)), std::u16string(OrEmpty(encoding)));
}

void CXmlTextWriter::OpenElement(const std::u16string& name) {
  EndPendingTag();
  out_ += u'<';
  out_ += name;
  open_.push_back(name);
  state_ = StateTagOpen;
}

void CXmlTextWriter::OpenElement(const char16_t* name) {
  OpenElement(std::u16string(OrEmpty(name)));
}

void CXmlTextWriter::CloseElement() {
  // An unbalanced close has nothing to close; writing "</>" would only corrupt the file.
  if (open_.empty()) return;
  if (state_ == StateTagOpen) {
    out_ += u" />";
  } else {
    out_ += u"</";
    out_ += open_.back();
    out_ += u'>';
  }
  open_.pop_back();
  state_ = StateClosed;
}

void CXmlTextWriter::WriteText(const std::u16string& text) {
  EndPendingTag();
  AppendEscaped(out_, text);
  state_ = StateContent;
}

void CXmlTextWriter::WriteText(const char16_t* text) { WriteText(std::u16string(OrEmpty(text))); }

void CXmlTextWriter::WriteCData(const std::u16string& text) {
  EndPendingTag();
  out_ += u"<![CDATA[";
  out_ += text;
  out_ += u"]]>";
  state_ = StateContent;
}

void CXmlTextWriter::WriteRaw(const char16_t* text) {
  EndPendingTag();
  out_ += OrEmpty(text);
  state_ = StateContent;
}

void CXmlTextWriter::WriteTextElement(const std::u16string& name, const std::u16string& value) {
  EndPendingTag();
  out_ += u'<';
  out_ += name;
  out_ += u'>';
  AppendEscaped(out_, value);
  out_ += u"</";
  out_ += name;
  out_ += u'>';
  state_ = StateClosed;
}

void CXmlTextWriter::WriteTextElement(const char16_t* name, const char16_t* value) {
  WriteTextElement(std::u16string(OrEmpty(name)), std::u16string(OrEmpty(value)));
}

void CXmlTextWriter::WriteAttribute(const std::u16string& name, const std::u16string& value) {
  out_ += u' ';
  out_ += name;
  out_ += u"=\"";
  AppendEscaped(out_, value);
  out_ += u'"';
}

void CXmlTextWriter::WriteAttribute(const char16_t* name, const char16_t* value) {
  WriteAttribute(std::u16string(OrEmpty(name)), std::u16string(OrEmpty(value)));
}

}  // namespace pcutil
