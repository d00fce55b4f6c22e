// The small XML component: a read-only node tree filled by the parser, and the
// streaming writer every file is produced with. Its output is part of the file formats.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace pcutil {

// Node kinds; 3 is not used.
enum XmlNodeType : int {
  XmlDocumentNode = 0,
  XmlElementNode = 1,
  XmlCommentNode = 2,
  XmlTextNode = 4,
  XmlDeclarationNode = 5,
};

// Parse error codes.
enum XmlErrorCode : int {
  XmlElementError = 3,
  XmlTextError = 4,
  XmlCommentError = 5,
  XmlDeclarationError = 6,
  XmlCDataError = 7,
  XmlDocumentEmpty = 8,
  XmlDocumentIllegal = 9,
};

// Thrown by value by CXmlDocument::Parse.
class CXmlException {
 public:
  CXmlException(int code, std::u16string message) : Code(code), Message(std::move(message)) {}
  int Code;
  std::u16string Message;
};

class CXmlDocument;
class CXmlElement;
class CXmlComment;
class CXmlText;
class CXmlDeclaration;
class CXmlWriter;

class CXmlBase {
 public:
  virtual ~CXmlBase() = default;
};

class CXmlNode : public CXmlBase {
 public:
  CXmlNode(const CXmlNode&) = delete;
  CXmlNode& operator=(const CXmlNode&) = delete;
  ~CXmlNode() override;

  virtual std::unique_ptr<CXmlNode> Clone() const = 0;
  virtual CXmlDocument* AsDocument() { return nullptr; }
  virtual CXmlElement* AsElement() { return nullptr; }
  virtual CXmlComment* AsComment() { return nullptr; }
  virtual CXmlText* AsText() { return nullptr; }
  virtual CXmlDeclaration* AsDeclaration() { return nullptr; }
  virtual void Write(CXmlWriter& writer) const = 0;
  virtual void WriteChildren(CXmlWriter& writer) const {}

  const CXmlDocument* AsDocument() const { return const_cast<CXmlNode*>(this)->AsDocument(); }
  const CXmlElement* AsElement() const { return const_cast<CXmlNode*>(this)->AsElement(); }
  const CXmlComment* AsComment() const { return const_cast<CXmlNode*>(this)->AsComment(); }
  const CXmlText* AsText() const { return const_cast<CXmlNode*>(this)->AsText(); }
  const CXmlDeclaration* AsDeclaration() const {
    return const_cast<CXmlNode*>(this)->AsDeclaration();
  }

  CXmlNode* Parent() const { return parent_; }
  XmlNodeType Type() const { return type_; }
  CXmlNode* FirstChild() const { return firstChild_.get(); }
  CXmlNode* LastChild() const { return lastChild_; }
  CXmlNode* PrevSibling() const { return prevSibling_; }
  CXmlNode* NextSibling() const { return nextSibling_.get(); }
  // Tag name of an element, text of a text node, body of a comment; empty otherwise.
  const std::u16string& Value() const { return value_; }

  // Takes ownership and links the node after the current last child.
  CXmlNode* AppendChild(std::unique_ptr<CXmlNode> child);

  // First child whose Value equals the name exactly (any node type); null when none.
  CXmlNode* FindChild(const std::u16string& name) const;
  // Next sibling after this node whose Value equals the name; null when none.
  CXmlNode* FindNextSibling(const std::u16string& name) const;
  // Text of the first child when it is a text node (plain or CDATA), else null.
  const std::u16string* ChildText() const;

 protected:
  CXmlNode(XmlNodeType type, std::u16string value) : type_(type), value_(std::move(value)) {}
  // Appends deep copies of this node's children to the copy.
  void CloneChildrenInto(CXmlNode& copy) const;

 private:
  CXmlNode* parent_ = nullptr;
  XmlNodeType type_;
  std::unique_ptr<CXmlNode> firstChild_;
  CXmlNode* lastChild_ = nullptr;
  std::u16string value_;
  CXmlNode* prevSibling_ = nullptr;
  std::unique_ptr<CXmlNode> nextSibling_;
};

class CXmlAttribute : public CXmlBase {
 public:
  CXmlAttribute(std::u16string name, std::u16string value)
      : Name(std::move(name)), Value(std::move(value)) {}
  // Neighbours in insertion order; null at either end.
  CXmlAttribute* Prev() const { return prev_; }
  CXmlAttribute* Next() const { return next_; }

  std::u16string Name;
  std::u16string Value;

 private:
  friend class CXmlElement;
  CXmlAttribute* prev_ = nullptr;
  CXmlAttribute* next_ = nullptr;
};

class CXmlElement : public CXmlNode {
 public:
  explicit CXmlElement(std::u16string name) : CXmlNode(XmlElementNode, std::move(name)) {}

  std::unique_ptr<CXmlNode> Clone() const override;
  CXmlElement* AsElement() override { return this; }
  void Write(CXmlWriter& writer) const override;
  void WriteChildren(CXmlWriter& writer) const override;

  // Replaces the value of an existing attribute in place, else appends a new one.
  CXmlAttribute* SetAttribute(const std::u16string& name, const std::u16string& value);
  CXmlAttribute* FindAttribute(const std::u16string& name) const;
  CXmlAttribute* FirstAttribute() const { return first_; }
  CXmlAttribute* LastAttribute() const { return last_; }
  size_t AttributeCount() const { return attributes_.size(); }

 private:
  std::vector<std::unique_ptr<CXmlAttribute>> attributes_;  // owns, in insertion order
  std::unordered_map<std::u16string, CXmlAttribute*> index_;
  CXmlAttribute* first_ = nullptr;
  CXmlAttribute* last_ = nullptr;
};

class CXmlText : public CXmlNode {
 public:
  explicit CXmlText(std::u16string text, bool isCData = false)
      : CXmlNode(XmlTextNode, std::move(text)), IsCData(isCData) {}
  std::unique_ptr<CXmlNode> Clone() const override;
  CXmlText* AsText() override { return this; }
  void Write(CXmlWriter& writer) const override;

  bool IsCData;
};

class CXmlComment : public CXmlNode {
 public:
  explicit CXmlComment(std::u16string body) : CXmlNode(XmlCommentNode, std::move(body)) {}
  std::unique_ptr<CXmlNode> Clone() const override;
  CXmlComment* AsComment() override { return this; }
  // Comments are not written back.
  void Write(CXmlWriter& writer) const override {}
};

class CXmlDeclaration : public CXmlNode {
 public:
  CXmlDeclaration() : CXmlNode(XmlDeclarationNode, {}) {}
  std::unique_ptr<CXmlNode> Clone() const override;
  CXmlDeclaration* AsDeclaration() override { return this; }
  void Write(CXmlWriter& writer) const override;

  std::u16string Version;
  std::u16string Encoding;
  std::u16string Standalone;  // never filled, never written
};

class CXmlDocument : public CXmlNode {
 public:
  CXmlDocument() : CXmlNode(XmlDocumentNode, {}) {}
  std::unique_ptr<CXmlNode> Clone() const override;
  CXmlDocument* AsDocument() override { return this; }
  void Write(CXmlWriter& writer) const override { WriteChildren(writer); }
  void WriteChildren(CXmlWriter& writer) const override;

  // Parses the whole text and appends the top-level nodes. Throws CXmlException on the
  // first error; nodes appended before it stay (the caller discards the document).
  void Parse(const std::u16string& text);
};

// The streaming writer interface. The pointer forms treat null as empty text.
class CXmlWriter {
 public:
  virtual ~CXmlWriter() = default;
  virtual void WriteDeclaration(const std::u16string& version, const std::u16string& encoding) = 0;
  virtual void WriteDeclaration(const char16_t* version, const char16_t* encoding) = 0;
  virtual void OpenElement(const std::u16string& name) = 0;
  virtual void OpenElement(const char16_t* name) = 0;
  virtual void CloseElement() = 0;
  virtual void WriteText(const std::u16string& text) = 0;
  virtual void WriteText(const char16_t* text) = 0;
  virtual void WriteTextElement(const std::u16string& name, const std::u16string& value) = 0;
  virtual void WriteTextElement(const char16_t* name, const char16_t* value) = 0;
  virtual void WriteAttribute(const std::u16string& name, const std::u16string& value) = 0;
  virtual void WriteAttribute(const char16_t* name, const char16_t* value) = 0;
  virtual void WriteRaw(const char16_t* text) = 0;
};

// Appends XML text to the caller's string; never adds white space.
class CXmlTextWriter : public CXmlWriter {
 public:
  enum : int {
    StateNone = 0,      // nothing written yet
    StateClosed = 1,    // after a declaration or a closed element
    StateTagOpen = 2,   // a start tag waits for its ">"; attributes may follow
    StateContent = 3,   // text, CDATA or raw text written inside the current element
  };

  explicit CXmlTextWriter(std::u16string& output) : out_(output) {}

  void WriteDeclaration(const std::u16string& version, const std::u16string& encoding) override;
  void WriteDeclaration(const char16_t* version, const char16_t* encoding) override;
  void OpenElement(const std::u16string& name) override;
  void OpenElement(const char16_t* name) override;
  void CloseElement() override;
  void WriteText(const std::u16string& text) override;
  void WriteText(const char16_t* text) override;
  void WriteTextElement(const std::u16string& name, const std::u16string& value) override;
  void WriteTextElement(const char16_t* name, const char16_t* value) override;
  void WriteAttribute(const std::u16string& name, const std::u16string& value) override;
  void WriteAttribute(const char16_t* name, const char16_t* value) override;
  void WriteRaw(const char16_t* text) override;
  void WriteCData(const std::u16string& text);

  int State() const { return state_; }
  size_t OpenCount() const { return open_.size(); }

 private:
  void EndPendingTag();

  std::u16string& out_;
  std::deque<std::u16string> open_;
  int state_ = StateNone;
};

// Escapes a text or attribute value the way the writer stores it.
std::u16string XmlEscape(const std::u16string& text);

}  // namespace pcutil
