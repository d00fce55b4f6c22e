// Zip archives of the update manifest and the downloaded files (minizip).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace rz {

// Extracts every entry of the archive into the folder (created when missing), sub-folders of
// the entries included. Entries whose names would land outside the folder (absolute names,
// ".." segments) are skipped. False when the archive cannot be opened or an entry cannot be
// read or written.
bool ExtractZip(const std::u16string& archive, const std::u16string& folder);

// Writes a new archive (an existing one is replaced) with one entry per (entry name, file).
bool WriteZip(const std::u16string& archive,
              const std::vector<std::pair<std::string, std::u16string>>& entries);

}  // namespace rz
