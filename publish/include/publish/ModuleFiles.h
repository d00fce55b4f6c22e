// Saving a module under a new name from the module manager.
#pragma once

#include <string>

#include "store/PublishModule.h"

namespace rz {

// Writes the module under its (new) name first and removes the file of `oldName` only once
// that worked, so a failed save never loses the module. False when the write failed.
bool SaveRenamedModule(const std::u16string& folder, const std::u16string& oldName,
                       const PublishModule& module);

}  // namespace rz
