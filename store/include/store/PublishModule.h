// Publish modules: one web (folder "POST") or database (folder "DB") publishing target kind,
// kept as one file per module in Data/Module/<kind>/, named by the module.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace rz {

// A value fetched from a page before posting.
struct RandValueEntry {
  std::u16string Name;
  std::u16string Url;
  std::u16string CodeBegin;
  std::u16string CodeEnd;

  bool operator==(const RandValueEntry&) const = default;
};

struct PublishModule {
  std::u16string Name;
  std::u16string Type;  // type code of the module kinds table
  std::vector<std::u16string> SqlValue;
  std::u16string CmsVersion;
  std::u16string LoginUrl;
  std::u16string LoginCodeUrl;
  std::u16string LoginPost;
  std::vector<std::u16string> LoginErrorStr;
  std::vector<std::u16string> LoginOkStr;
  std::u16string ListUrl;
  std::u16string RefererListUrl;
  int IsUBB = 0;
  std::u16string ListCodeStart;
  std::u16string ListCodeEnd;
  std::u16string ListRex;
  std::u16string ArticleUrl;
  std::u16string refererContentUrl;  // the key is spelled so
  std::u16string ArticlePost;
  std::vector<std::u16string> ArticleErrorStr;
  std::vector<std::u16string> ArticleOkStr;
  std::vector<std::u16string> RandUser;
  std::vector<RandValueEntry> RandValue;
  std::u16string Help;

  bool operator==(const PublishModule&) const = default;
};

using PublishModulePtr = std::shared_ptr<PublishModule>;

// Kind folders.
inline constexpr char16_t kModuleFolderPost[] = u"POST";
inline constexpr char16_t kModuleFolderDb[] = u"DB";

// Data/Module/<folder>/ under the program folder, with the trailing separator.
std::u16string ModuleFolderPath(const std::u16string& folder);

// Reads <name>.module from the kind folder. Legacy "<name>.xml" files (and every module
// SaveModule wrote since) are first renamed to ".module". Null when missing or without Cfg.
PublishModulePtr LoadModule(const std::u16string& folder, const std::u16string& name);
// Writes <name>.xml in the kind folder; false when the name is empty or the write fails.
bool SaveModule(const std::u16string& folder, const PublishModule& module);
// Module names of the folder, sorted; the reserved foreign-template name is left out.
std::vector<std::u16string> ListModules(const std::u16string& folder);

std::u16string ModuleXml(const PublishModule& module);
PublishModulePtr ParseModule(const std::u16string& xml);

// The module kinds offered by the job page: name shown -> type code.
struct ModuleKind {
  std::u16string Name;
  std::u16string Type;
};
const std::vector<ModuleKind>& ModuleKinds();
// The type code for a name shown; empty when unknown.
std::u16string ModuleTypeByName(const std::u16string& name);

}  // namespace rz
