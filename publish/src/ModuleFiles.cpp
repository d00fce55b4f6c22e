#include "publish/ModuleFiles.h"

#include <filesystem>

#include "foundation/Text.h"

namespace rz {

bool SaveRenamedModule(const std::u16string& folder, const std::u16string& oldName,
                       const PublishModule& module) {
  if (!SaveModule(folder, module)) return false;
  if (oldName.empty() || oldName == module.Name) return true;
  std::error_code ec;
  for (const char16_t* ext : {u".module", u".xml"})
    std::filesystem::remove(pcutil::ToFsPath(ModuleFolderPath(folder) + oldName + ext), ec);
  return true;
}

}  // namespace rz
