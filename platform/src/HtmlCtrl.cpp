#include "platform/HtmlCtrl.h"

#include <algorithm>

#include "foundation/Text.h"

namespace rz {

namespace {

using pcutil::Utf16ToUtf8;
using pcutil::Utf8ToUtf16;

std::u16string TextOf(const Json& value) {
  if (value.is_string()) return Utf8ToUtf16(value.get<std::string>());
  if (value.is_number_integer()) return Utf8ToUtf16(std::to_string(value.get<long long>()));
  if (value.is_number()) return Utf8ToUtf16(value.dump());
  if (value.is_boolean()) return value.get<bool>() ? u"true" : u"false";
  return {};
}

int IntOf(const Json& value, int fallback) {
  if (value.is_number_integer()) return value.get<int>();
  return fallback;
}

std::u16string Lower(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
  return s;
}

}  // namespace

std::u16string ScriptLiteral(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\r' || c == u'\n') continue;
    if (c == u'\\' || c == u'\'' || c == u'"') out += u'\\';
    out += c;
  }
  return out;
}

CRizedeHtmlCtrl::CRizedeHtmlCtrl(CPageHost& host) : host_(host) {
  pageId_ = host_.Register(this);
}

CRizedeHtmlCtrl::~CRizedeHtmlCtrl() { host_.Unregister(pageId_); }

bool CRizedeHtmlCtrl::PreTranslateKey(int keyCode, bool ctrl) {
  if (ctrl && (keyCode == 67 || keyCode == 86 || keyCode == 88 || keyCode == 90)) {
    RunScript(pcutil::Format(u"keydown('%d');", keyCode));
    return true;
  }
  return false;
}

void CRizedeHtmlCtrl::Navigate(const std::u16string& address) {
  host_.NavigatePage(pageId_, Utf16ToUtf8(address));
}

void CRizedeHtmlCtrl::NavigatePage(const std::u16string& fileName) {
  // Page files live in the page folder, served under /Html/; the options page names its
  // file with the folder prefix ("Html\OptionView.html"), which resolves the same way.
  std::u16string name = fileName;
  std::replace(name.begin(), name.end(), u'\\', u'/');
  if (name.rfind(u"Html/", 0) == 0) name = name.substr(5);
  host_.NavigatePage(pageId_, "/Html/" + Utf16ToUtf8(name));
}

void CRizedeHtmlCtrl::RunScript(const std::u16string& code) {
  host_.Write(pageId_, "runScript", {{"code", Utf16ToUtf8(code)}});
}

std::u16string CRizedeHtmlCtrl::GetValue(const std::u16string& element) {
  return TextOf(host_.Read(pageId_, "getValue", {{"el", Utf16ToUtf8(element)}}));
}

void CRizedeHtmlCtrl::SetValue(const std::u16string& element, const std::u16string& text) {
  host_.Write(pageId_, "setValue", {{"el", Utf16ToUtf8(element)}, {"text", Utf16ToUtf8(text)}});
}

int CRizedeHtmlCtrl::GetChecked(const std::u16string& element) {
  return IntOf(host_.Read(pageId_, "getChecked", {{"el", Utf16ToUtf8(element)}}), 0);
}

void CRizedeHtmlCtrl::SetChecked(const std::u16string& element, int flags) {
  host_.Write(pageId_, "setChecked", {{"el", Utf16ToUtf8(element)}, {"flags", flags}});
}

int CRizedeHtmlCtrl::GetRadioIndex(const std::u16string& groupName) {
  return IntOf(host_.Read(pageId_, "getRadioIndex", {{"name", Utf16ToUtf8(groupName)}}), -1);
}

void CRizedeHtmlCtrl::SetRadioIndex(const std::u16string& groupName, int index) {
  host_.Write(pageId_, "setRadioIndex", {{"name", Utf16ToUtf8(groupName)}, {"index", index}});
}

int CRizedeHtmlCtrl::GetSelectOptions(const std::u16string& element, OptionList& options,
                                      bool keepIfSameCount) {
  Json result = host_.Read(pageId_, "getSelectOptions", {{"el", Utf16ToUtf8(element)}});
  if (!result.is_object()) return -1;
  const Json& list = result.value("options", Json::array());
  if (!(keepIfSameCount && list.is_array() && options.size() == list.size())) {
    options.clear();
    if (list.is_array())
      for (const auto& pair : list)
        if (pair.is_array() && pair.size() == 2) options.emplace_back(TextOf(pair[0]), TextOf(pair[1]));
  }
  return IntOf(result.value("selected", Json(-1)), -1);
}

void CRizedeHtmlCtrl::SetSelectOptions(const std::u16string& element, const OptionList& options,
                                       int selected) {
  Json list = Json::array();
  for (const auto& [text, value] : options) list.push_back(Json::array({Utf16ToUtf8(text), Utf16ToUtf8(value)}));
  host_.Write(pageId_, "setSelectOptions",
              {{"el", Utf16ToUtf8(element)}, {"options", list}, {"selected", selected}});
}

std::u16string CRizedeHtmlCtrl::GetAttribute(const std::u16string& element,
                                             const std::u16string& attribute) {
  return TextOf(host_.Read(pageId_, "getAttribute",
                           {{"el", Utf16ToUtf8(element)}, {"attr", Utf16ToUtf8(attribute)}}));
}

void CRizedeHtmlCtrl::SetAttribute(const std::u16string& element, const std::u16string& attribute,
                                   const std::u16string& text) {
  host_.Write(pageId_, "setAttribute",
              {{"el", Utf16ToUtf8(element)}, {"attr", Utf16ToUtf8(attribute)},
               {"text", Utf16ToUtf8(text)}});
}

void CRizedeHtmlCtrl::SetTitle(const std::u16string& element, const std::u16string& text) {
  SetAttribute(element, u"title", text);
}

void CRizedeHtmlCtrl::SetInnerHtml(const std::u16string& element, const std::u16string& html) {
  host_.Write(pageId_, "setInnerHtml", {{"el", Utf16ToUtf8(element)}, {"html", Utf16ToUtf8(html)}});
}

std::u16string CRizedeHtmlCtrl::GetInnerHtml(const std::u16string& element) {
  return TextOf(host_.Read(pageId_, "getInnerHtml", {{"el", Utf16ToUtf8(element)}}));
}

std::u16string CRizedeHtmlCtrl::GetDocumentHtml() {
  return TextOf(host_.Read(pageId_, "getDocumentHtml", Json::object()));
}

int CRizedeHtmlCtrl::FindRowIndex(const std::u16string& tableId, const std::u16string& rowId) {
  return IntOf(host_.Read(pageId_, "findRowIndex",
                          {{"table", Utf16ToUtf8(tableId)}, {"row", Utf16ToUtf8(rowId)}}),
               -1);
}

CElement CRizedeHtmlCtrl::ElementAtPoint(int x, int y) {
  Json result = host_.Read(pageId_, "elementAtPoint", {{"x", x}, {"y", y}});
  CElement element;
  if (result.is_object()) {
    element.tag = TextOf(result.value("tag", Json("")));
    element.id = TextOf(result.value("id", Json("")));
  }
  return element;
}

std::u16string CRizedeHtmlCtrl::Url() const {
  return TextOf(host_.PageRecord(pageId_).value("url", Json("")));
}

bool CRizedeHtmlCtrl::IsDocumentReady() const { return host_.IsReady(pageId_); }

void CRizedeHtmlCtrl::ConnectEventMap() {
  map_ = EventTable();
  auto end = std::find_if(map_.begin(), map_.end(),
                          [](const EventEntry& e) { return e.kind == kEventMapEnd; });
  map_.erase(end, map_.end());
}

std::vector<Json> CRizedeHtmlCtrl::SinkMap() const {
  std::vector<Json> out;
  for (const auto& entry : map_)
    out.push_back({{"kind", entry.kind}, {"e", entry.event}, {"name", Utf16ToUtf8(entry.name)}});
  return out;
}

int CRizedeHtmlCtrl::DispatchEvent(int event, const std::string& sink, int entry,
                                   const CElement& source) {
  if (sink == "element") {
    // Element and control sinks call their own entry.
    if (entry < 0 || entry >= static_cast<int>(map_.size())) return 0;
    const EventEntry& e = map_[entry];
    if ((e.kind != kEventSink && e.kind != kEventControl) || e.event != event || !e.handler)
      return 0;
    return e.handler(source);
  }
  for (const auto& e : map_) {
    if (e.event != event || !e.handler) continue;
    bool match = false;
    if (e.kind == kEventById)
      match = !e.name.empty() && (e.name == source.id || e.name == source.name);
    else if (e.kind == kEventByTag)
      match = Lower(e.name) == Lower(source.tag);
    if (match) return e.handler(source);
  }
  return 0;
}

}  // namespace rz
