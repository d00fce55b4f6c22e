// List-page address items: a plain address, a number range "<start,end,reverse,multiple>",
// a letter range "<first,last,reverse>" written into the address, or "#FILE#" + the path of
// a text file with one address per line.
#pragma once

#include <string>
#include <vector>

namespace rz {

// A range item stops after this many addresses, whatever its end says.
inline constexpr size_t kMaxRangeAddresses = 1000000;

// Appends the addresses of one item to `out`, in order. `limit` 0 means no limit; otherwise
// at most limit - 1 addresses of a range are produced (the editor preview passes 5).
// Returns 1 when the item was processed (even if it produced nothing), 0 for an empty item.
// A relative "#FILE#" path is taken from the program folder.
int ExpandListUrl(const std::u16string& item, std::vector<std::u16string>& out, int limit = 0);

// Classifies a stored item for the address editor: -1 empty or malformed range, 0 plain,
// 1 number range, 2 letter range, 3 file. For ranges `fields` gets the comma-separated fields
// and `base` the item with the whole "<...>" replaced by "(*)".
int ClassifyListUrl(const std::u16string& item, std::vector<std::u16string>& fields,
                    std::u16string& base);

// Builds a range item from the editor fields: every "(*)" in `base` becomes
// "<start,end,reverse[,multiple]>". Empty start, end or reverse give `base` unchanged.
std::u16string BuildListUrl(const std::u16string& base, const std::u16string& start,
                            const std::u16string& end, const std::u16string& reverse,
                            const std::u16string& multiple);

}  // namespace rz
