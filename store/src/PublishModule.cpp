#include "store/PublishModule.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "XmlFields.h"
#include "foundation/Text.h"
#include "store/Sites.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;

namespace rz {

using namespace detail;
using pcutil::CXmlNode;
using pcutil::CXmlTextWriter;

std::u16string ModuleFolderPath(const std::u16string& folder) {
  return pcutil::ProgramPath(u"Data/Module/" + folder + u"/");
}

std::u16string ModuleXml(const PublishModule& m) {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  CData(w, u"Name", m.Name);
  CData(w, u"Type", m.Type);
  CDataList(w, u"SqlValue", m.SqlValue);
  CData(w, u"CmsVersion", m.CmsVersion);
  CData(w, u"LoginUrl", m.LoginUrl);
  CData(w, u"LoginCodeUrl", m.LoginCodeUrl);
  CData(w, u"LoginPost", m.LoginPost);
  CDataList(w, u"LoginErrorStr", m.LoginErrorStr);
  CDataList(w, u"LoginOkStr", m.LoginOkStr);
  CData(w, u"ListUrl", m.ListUrl);
  CData(w, u"RefererListUrl", m.RefererListUrl);
  CData(w, u"IsUBB", m.IsUBB);
  CData(w, u"ListCodeStart", m.ListCodeStart);
  CData(w, u"ListCodeEnd", m.ListCodeEnd);
  CData(w, u"ListRex", m.ListRex);
  CData(w, u"ArticleUrl", m.ArticleUrl);
  CData(w, u"refererContentUrl", m.refererContentUrl);
  CData(w, u"ArticlePost", m.ArticlePost);
  CDataList(w, u"ArticleErrorStr", m.ArticleErrorStr);
  CDataList(w, u"ArticleOkStr", m.ArticleOkStr);
  CDataList(w, u"RandUser", m.RandUser);
  w.OpenElement(u"RandValue");
  for (const auto& v : m.RandValue) {
    w.OpenElement(u"Item");
    Text(w, u"Name", v.Name);
    CData(w, u"Url", v.Url);
    CData(w, u"CodeBegin", v.CodeBegin);
    CData(w, u"CodeEnd", v.CodeEnd);
    w.CloseElement();
  }
  w.CloseElement();
  CData(w, u"Help", m.Help);
  w.CloseElement();
  return out;
}

PublishModulePtr ParseModule(const std::u16string& xml) {
  CfgFile file;
  if (!ParseCfg(xml, file)) return nullptr;
  const CXmlNode* e = file.Root;
  auto m = std::make_shared<PublishModule>();
  Read(e, u"Name", m->Name);
  Read(e, u"Type", m->Type);
  ReadList(e, u"SqlValue", m->SqlValue);
  Read(e, u"CmsVersion", m->CmsVersion);
  Read(e, u"LoginUrl", m->LoginUrl);
  Read(e, u"LoginCodeUrl", m->LoginCodeUrl);
  Read(e, u"LoginPost", m->LoginPost);
  ReadList(e, u"LoginErrorStr", m->LoginErrorStr);
  ReadList(e, u"LoginOkStr", m->LoginOkStr);
  Read(e, u"ListUrl", m->ListUrl);
  Read(e, u"RefererListUrl", m->RefererListUrl);
  Read(e, u"IsUBB", m->IsUBB);
  Read(e, u"ListCodeStart", m->ListCodeStart);
  Read(e, u"ListCodeEnd", m->ListCodeEnd);
  Read(e, u"ListRex", m->ListRex);
  Read(e, u"ArticleUrl", m->ArticleUrl);
  Read(e, u"refererContentUrl", m->refererContentUrl);
  Read(e, u"ArticlePost", m->ArticlePost);
  ReadList(e, u"ArticleErrorStr", m->ArticleErrorStr);
  ReadList(e, u"ArticleOkStr", m->ArticleOkStr);
  ReadList(e, u"RandUser", m->RandUser);
  if (const CXmlNode* list = FindElement(e, u"RandValue")) {
    ForEachItem(list, [&](const CXmlNode* item) {
      if (!HasChildElements(item)) return;
      RandValueEntry v;
      Read(item, u"Name", v.Name);
      Read(item, u"Url", v.Url);
      Read(item, u"CodeBegin", v.CodeBegin);
      Read(item, u"CodeEnd", v.CodeEnd);
      m->RandValue.push_back(std::move(v));
    });
  }
  Read(e, u"Help", m->Help);
  return m;
}

// Saves write ".xml" and reads take ".module": every ".xml" of the folder is renamed first.
// A ".xml" is always the newer copy (only saves make one), so it replaces a ".module" of
// the same name; otherwise every edit after the first would be lost.
static void MoveSavedModules(const fs::path& folder) {
  std::error_code ec;
  std::vector<fs::path> saved;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->is_regular_file(typeEc) && it->path().extension() == ".xml") saved.push_back(it->path());
  }
  for (const auto& from : saved) {
    fs::path to = from;
    to.replace_extension(".module");
    std::error_code moveEc;
    fs::rename(from, to, moveEc);  // a failed move leaves both files as they were
  }
}

// A module name is a file name: it may not climb out of its folder.
static bool IsPlainName(const std::u16string& name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(u"/\\") == std::u16string::npos;
}

PublishModulePtr LoadModule(const std::u16string& folder, const std::u16string& name) {
  if (!IsPlainName(name)) return nullptr;
  const std::u16string dir = ModuleFolderPath(folder);
  std::error_code ec;
  if (fs::exists(pcutil::ToFsPath(dir + name + u".xml"), ec)) MoveSavedModules(pcutil::ToFsPath(dir));
  return ParseModule(pcutil::LoadXmlFile(dir + name + u".module", u".module"));
}

bool SaveModule(const std::u16string& folder, const PublishModule& module) {
  if (!IsPlainName(module.Name)) return false;
  return SaveCfg(ModuleFolderPath(folder) + module.Name + u".xml", ModuleXml(module));
}

std::vector<std::u16string> ListModules(const std::u16string& folder) {
  std::vector<std::u16string> names;
  std::error_code ec;
  for (fs::directory_iterator it(pcutil::ToFsPath(ModuleFolderPath(folder)), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    const auto ext = it->path().extension();
    if (ext != ".module" && ext != ".xml") continue;
    std::u16string title = pcutil::Utf8ToUtf16(it->path().stem().string());
    if (title.empty() || title == kForeignTemplateName) continue;
    names.push_back(title);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

const std::vector<ModuleKind>& ModuleKinds() {
  static const std::vector<ModuleKind> kinds = {
      {u"发布直接更新源数据库", u"SAMEDB"},
      {u"发布通过Web", u"POST"},
      {u"发布通过Access", u"ACCESS"},
      {u"发布通过SQL Server", u"SQL Server"},
      {u"保存到本地文件", u"LocalFile"},
  };
  return kinds;
}

std::u16string ModuleTypeByName(const std::u16string& name) {
  for (const auto& k : ModuleKinds())
    if (k.Name == name) return k.Type;
  return {};
}

}  // namespace rz
