// Tokenizer and tree builder for the XML subset the writer produces, plus comments,
// CDATA sections, entity references and both quote styles.
#include <cstdint>
#include <string_view>
#include <utility>

#include "foundation/Text.h"
#include "xml/Xml.h"

namespace pcutil {

namespace {

// Nesting deeper than this is refused: rule and service documents are a few levels deep,
// and unbounded nesting would exhaust the stack of the recursive builder.
constexpr int kMaxDepth = 1000;

[[noreturn]] void Fail(int code) {
  switch (code) {
    case XmlElementError: throw CXmlException(code, u"Parse Element Error");
    case XmlTextError: throw CXmlException(code, u"Parse Text Node Error");
    case XmlCommentError: throw CXmlException(code, u"Parse Comment Error");
    case XmlDeclarationError: throw CXmlException(code, u"Parse Declaration Error");
    case XmlCDataError: throw CXmlException(code, u"Parse CData Error");
    case XmlDocumentEmpty: throw CXmlException(code, u"Document Empty");
    default: throw CXmlException(XmlDocumentIllegal, u"Document Illegal");
  }
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool StartsWith(const std::u16string& text, size_t pos, std::u16string_view prefix) {
  return text.compare(pos, prefix.size(), prefix) == 0;
}

// Decodes the five named references and "&#x<hex>;"; anything else after "&" fails with
// the given code.
std::u16string DecodeReferences(std::u16string_view raw, int errorCode) {
  std::u16string out;
  out.reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    size_t amp = raw.find(u'&', i);
    if (amp == std::u16string_view::npos) {
      out.append(raw.substr(i));
      break;
    }
    out.append(raw.substr(i, amp - i));
    std::u16string_view rest = raw.substr(amp);
    static const std::pair<std::u16string_view, char16_t> kNamed[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
    bool named = false;
    for (const auto& [name, ch] : kNamed) {
      if (rest.substr(0, name.size()) == name) {
        out += ch;
        i = amp + name.size();
        named = true;
        break;
      }
    }
    if (named) continue;
    if (rest.substr(0, 3) != u"&#x") Fail(errorCode);
    size_t j = 3;
    uint32_t code = 0;
    while (j < rest.size() && HexDigit(rest[j]) >= 0) {
      code = code * 16 + static_cast<uint32_t>(HexDigit(rest[j]));
      if (code > 0x10FFFF) Fail(errorCode);
      ++j;
    }
    if (j == 3 || j >= rest.size() || rest[j] != u';') Fail(errorCode);
    AppendUtf16(out, code);
    i = amp + j + 1;
  }
  return out;
}

enum class TokenKind { Declaration, CData, Comment, EndTag, StartTag, EmptyTag, Text };

struct Token {
  TokenKind kind = TokenKind::Text;
  std::u16string value;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
};

class Tokenizer {
 public:
  explicit Tokenizer(const std::u16string& text) : text_(text) {}

  // False at the end of the text.
  bool Next(Token& token) {
    token.value.clear();
    token.attributes.clear();
    SkipSpace();
    if (pos_ >= text_.size()) return false;
    if (text_[pos_] != u'<') {
      ReadText(token);
    } else if (IsDeclarationStart()) {
      ReadDeclaration(token);
    } else if (StartsWith(text_, pos_, u"<![CDATA[")) {
      ReadDelimited(token, TokenKind::CData, 9, u"]]>", XmlCDataError);
    } else if (StartsWith(text_, pos_, u"<!--")) {
      ReadDelimited(token, TokenKind::Comment, 4, u"-->", XmlCommentError);
    } else if (StartsWith(text_, pos_, u"</")) {
      // An end tag without ">" reports the comment error code, as it always has.
      ReadDelimited(token, TokenKind::EndTag, 2, u">", XmlCommentError);
    } else {
      ReadStartTag(token);
    }
    return true;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  bool IsDeclarationStart() const {
    static const char16_t kPrefix[] = u"<?xml";
    if (text_.size() - pos_ < 5) return false;
    for (size_t k = 0; k < 5; ++k) {
      char16_t c = text_[pos_ + k];
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
      if (c != kPrefix[k]) return false;
    }
    return true;
  }

  void ReadDelimited(Token& token, TokenKind kind, size_t openLength, std::u16string_view close,
                     int errorCode) {
    size_t start = pos_ + openLength;
    size_t end = text_.find(close, start);
    if (end == std::u16string::npos) Fail(errorCode);
    token.kind = kind;
    token.value.assign(text_, start, end - start);
    pos_ = end + close.size();
  }

  void ReadText(Token& token) {
    size_t lt = text_.find(u'<', pos_);
    if (lt == std::u16string::npos) Fail(XmlTextError);
    size_t end = lt;
    // Trim before decoding so that a line break stored as a reference survives.
    while (end > pos_ && (text_[end - 1] == u'\t' || text_[end - 1] == u'\r' ||
                          text_[end - 1] == u' ' || text_[end - 1] == u'\n'))
      --end;
    token.kind = TokenKind::Text;
    token.value = DecodeReferences(std::u16string_view(text_).substr(pos_, end - pos_), XmlTextError);
    pos_ = lt;
  }

  void ReadDeclaration(Token& token) {
    pos_ += 5;
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size()) Fail(XmlDeclarationError);
      if (StartsWith(text_, pos_, u"?>")) {
        pos_ += 2;
        token.kind = TokenKind::Declaration;
        return;
      }
      ReadAttribute(token, XmlDeclarationError);
    }
  }

  void ReadStartTag(Token& token) {
    size_t start = ++pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != u'>' &&
           !StartsWith(text_, pos_, u"/>"))
      ++pos_;
    if (pos_ >= text_.size() || pos_ == start) Fail(XmlElementError);
    token.value.assign(text_, start, pos_ - start);
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size()) Fail(XmlElementError);
      if (text_[pos_] == u'>') {
        ++pos_;
        token.kind = TokenKind::StartTag;
        return;
      }
      if (StartsWith(text_, pos_, u"/>")) {
        pos_ += 2;
        token.kind = TokenKind::EmptyTag;
        return;
      }
      ReadAttribute(token, XmlElementError);
    }
  }

  // name [blanks] "=" [blanks] quote value quote
  void ReadAttribute(Token& token, int errorCode) {
    size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != u'=' && !IsSpace(text_[pos_])) ++pos_;
    size_t nameEnd = pos_;
    SkipSpace();
    if (pos_ >= text_.size() || text_[pos_] != u'=') Fail(errorCode);
    ++pos_;
    SkipSpace();
    if (pos_ >= text_.size() || (text_[pos_] != u'"' && text_[pos_] != u'\'')) Fail(errorCode);
    char16_t quote = text_[pos_++];
    size_t close = text_.find(quote, pos_);
    if (close == std::u16string::npos) Fail(errorCode);
    std::u16string value =
        DecodeReferences(std::u16string_view(text_).substr(pos_, close - pos_), errorCode);
    token.attributes.emplace_back(text_.substr(start, nameEnd - start), std::move(value));
    pos_ = close + 1;
  }

  const std::u16string& text_;
  size_t pos_ = 0;
};

std::unique_ptr<CXmlNode> LeafNode(Token& token) {
  if (token.kind == TokenKind::Comment) return std::make_unique<CXmlComment>(std::move(token.value));
  return std::make_unique<CXmlText>(std::move(token.value), token.kind == TokenKind::CData);
}

void FillElement(Tokenizer& tokens, CXmlElement& element, const Token& opening, int depth) {
  for (const auto& [name, value] : opening.attributes) element.SetAttribute(name, value);
  if (opening.kind == TokenKind::EmptyTag) return;
  Token token;
  for (;;) {
    if (!tokens.Next(token)) Fail(XmlDocumentIllegal);
    switch (token.kind) {
      case TokenKind::StartTag:
      case TokenKind::EmptyTag: {
        if (depth >= kMaxDepth) Fail(XmlDocumentIllegal);
        auto* child = static_cast<CXmlElement*>(
            element.AppendChild(std::make_unique<CXmlElement>(token.value)));
        FillElement(tokens, *child, token, depth + 1);
        break;
      }
      case TokenKind::Comment:
      case TokenKind::Text:
      case TokenKind::CData:
        element.AppendChild(LeafNode(token));
        break;
      case TokenKind::EndTag:
        if (token.value != element.Value()) Fail(XmlDocumentIllegal);
        return;
      case TokenKind::Declaration:
        Fail(XmlDocumentIllegal);
    }
  }
}

}  // namespace

void CXmlDocument::Parse(const std::u16string& text) {
  Tokenizer tokens(text);
  Token token;
  if (!tokens.Next(token)) Fail(XmlDocumentEmpty);
  do {
    switch (token.kind) {
      case TokenKind::StartTag:
      case TokenKind::EmptyTag: {
        auto* element =
            static_cast<CXmlElement*>(AppendChild(std::make_unique<CXmlElement>(token.value)));
        FillElement(tokens, *element, token, 1);
        break;
      }
      case TokenKind::Comment:
      case TokenKind::Text:
      case TokenKind::CData:
        AppendChild(LeafNode(token));
        break;
      case TokenKind::Declaration: {
        auto declaration = std::make_unique<CXmlDeclaration>();
        bool version = false, encoding = false;
        for (const auto& [name, value] : token.attributes) {
          if (name == u"version" && !version) declaration->Version = value, version = true;
          if (name == u"encoding" && !encoding) declaration->Encoding = value, encoding = true;
        }
        AppendChild(std::move(declaration));
        break;
      }
      case TokenKind::EndTag:
        Fail(XmlDocumentIllegal);
    }
  } while (tokens.Next(token));
}

}  // namespace pcutil
