#include "xml/Xml.h"

namespace pcutil {

CXmlNode::~CXmlNode() {
  // Unlink the subtree into a work list first, so that neither long sibling chains nor
  // deep nesting turn destruction into deep recursion.
  std::vector<std::unique_ptr<CXmlNode>> pending;
  auto detachChildren = [&pending](CXmlNode& node) {
    std::unique_ptr<CXmlNode> child = std::move(node.firstChild_);
    node.lastChild_ = nullptr;
    while (child) {
      std::unique_ptr<CXmlNode> next = std::move(child->nextSibling_);
      pending.push_back(std::move(child));
      child = std::move(next);
    }
  };
  detachChildren(*this);
  while (!pending.empty()) {
    std::unique_ptr<CXmlNode> node = std::move(pending.back());
    pending.pop_back();
    detachChildren(*node);
  }
}

CXmlNode* CXmlNode::AppendChild(std::unique_ptr<CXmlNode> child) {
  if (!child) return nullptr;
  CXmlNode* raw = child.get();
  raw->parent_ = this;
  raw->prevSibling_ = lastChild_;
  if (lastChild_)
    lastChild_->nextSibling_ = std::move(child);
  else
    firstChild_ = std::move(child);
  lastChild_ = raw;
  return raw;
}

CXmlNode* CXmlNode::FindChild(const std::u16string& name) const {
  for (CXmlNode* c = firstChild_.get(); c; c = c->nextSibling_.get())
    if (c->value_ == name) return c;
  return nullptr;
}

CXmlNode* CXmlNode::FindNextSibling(const std::u16string& name) const {
  for (CXmlNode* c = nextSibling_.get(); c; c = c->nextSibling_.get())
    if (c->value_ == name) return c;
  return nullptr;
}

const std::u16string* CXmlNode::ChildText() const {
  const CXmlNode* first = firstChild_.get();
  if (first && first->type_ == XmlTextNode) return &first->value_;
  return nullptr;
}

void CXmlNode::CloneChildrenInto(CXmlNode& copy) const {
  for (const CXmlNode* c = firstChild_.get(); c; c = c->nextSibling_.get())
    copy.AppendChild(c->Clone());
}

// --- elements -------------------------------------------------------------

std::unique_ptr<CXmlNode> CXmlElement::Clone() const {
  auto copy = std::make_unique<CXmlElement>(Value());
  for (const CXmlAttribute* a = first_; a; a = a->next_) copy->SetAttribute(a->Name, a->Value);
  CloneChildrenInto(*copy);
  return copy;
}

void CXmlElement::Write(CXmlWriter& writer) const {
  writer.OpenElement(Value());
  for (const CXmlAttribute* a = first_; a; a = a->next_) writer.WriteAttribute(a->Name, a->Value);
  WriteChildren(writer);
  writer.CloseElement();
}

void CXmlElement::WriteChildren(CXmlWriter& writer) const {
  for (const CXmlNode* c = FirstChild(); c; c = c->NextSibling()) c->Write(writer);
}

CXmlAttribute* CXmlElement::SetAttribute(const std::u16string& name, const std::u16string& value) {
  auto found = index_.find(name);
  if (found != index_.end()) {
    found->second->Value = value;
    return found->second;
  }
  auto attr = std::make_unique<CXmlAttribute>(name, value);
  CXmlAttribute* raw = attr.get();
  raw->prev_ = last_;
  if (last_)
    last_->next_ = raw;
  else
    first_ = raw;
  last_ = raw;
  attributes_.push_back(std::move(attr));
  index_.emplace(name, raw);
  return raw;
}

CXmlAttribute* CXmlElement::FindAttribute(const std::u16string& name) const {
  auto found = index_.find(name);
  return found == index_.end() ? nullptr : found->second;
}

// --- the other node kinds -------------------------------------------------------

std::unique_ptr<CXmlNode> CXmlText::Clone() const {
  return std::make_unique<CXmlText>(Value(), IsCData);
}

void CXmlText::Write(CXmlWriter& writer) const {
  if (!IsCData) {
    writer.WriteText(Value());
  } else if (auto* text = dynamic_cast<CXmlTextWriter*>(&writer)) {
    text->WriteCData(Value());
  } else {
    writer.WriteRaw((u"<![CDATA[" + Value() + u"]]>").c_str());
  }
}

std::unique_ptr<CXmlNode> CXmlComment::Clone() const {
  return std::make_unique<CXmlComment>(Value());
}

std::unique_ptr<CXmlNode> CXmlDeclaration::Clone() const {
  auto copy = std::make_unique<CXmlDeclaration>();
  copy->Version = Version;
  copy->Encoding = Encoding;
  copy->Standalone = Standalone;
  return copy;
}

void CXmlDeclaration::Write(CXmlWriter& writer) const {
  writer.WriteDeclaration(Version, Encoding);
}

std::unique_ptr<CXmlNode> CXmlDocument::Clone() const {
  auto copy = std::make_unique<CXmlDocument>();
  CloneChildrenInto(*copy);
  return copy;
}

void CXmlDocument::WriteChildren(CXmlWriter& writer) const {
  for (const CXmlNode* c = FirstChild(); c; c = c->NextSibling()) c->Write(writer);
}

}  // namespace pcutil
