// Collection commands: list address expansion.
#include <iostream>

#include "Commands.h"
#include "collect/ListUrl.h"
#include "foundation/Text.h"

namespace rzcli {

// expand-list-url ITEM [LIMIT]: the addresses one stored list item stands for, one a line
// (LIMIT as the editor preview uses it: 5 shows four addresses of a range).
int CmdExpandListUrl(const Args& args) {
  if (args.empty() || args.size() > 2) return BadInput("usage: expand-list-url ITEM [LIMIT]");
  int limit = 0;
  if (args.size() == 2) {
    const std::u16string l = pcutil::Utf8ToUtf16(args[1]);
    if (!pcutil::IsNumber(l) || l[0] == u'-' || l.size() > 9)
      return BadInput("LIMIT must be a whole number of 0 or more");
    limit = std::stoi(args[1]);
  }
  std::vector<std::u16string> out;
  if (rz::ExpandListUrl(pcutil::Utf8ToUtf16(args[0]), out, limit) == 0)
    return BadInput("the item is empty");
  for (const auto& a : out) std::cout << pcutil::Utf16ToUtf8(a) << "\n";
  return out.empty() ? 1 : 0;
}

}  // namespace rzcli
