// Publish templates: the tags a web or database module writes in its form data, addresses
// and statements, expanded against one collected item.
#pragma once

#include <map>
#include <string>

#include "collect/WorkData.h"
#include "store/JobRule.h"
#include "store/PublishModule.h"

namespace rz {

// How inserted values are escaped.
enum EscapeMode : int {
  EscapeNone = 0,
  Web = 1,       // URL-encoded in the target's charset (after html2Ubb when the module asks)
  Database = 2,  // escaped for the target database's engine
};

// The tag of a label: "[DB:" + name + "]", except that a name of six characters or more that
// already looks like a tag (begins with "[DB:" or ends with "]") is its own tag.
std::u16string MakeLabelTag(const std::u16string& name);

// Expands every tag of the template against the item (see the tag table in Template.cpp).
// Without a module the template comes back unchanged. `engine` names the database engine
// whose escaping the Database mode uses ("MySql": backslashes, anything else: doubled
// apostrophes); empty takes it from the target's ModuleType.
std::u16string ExpandPublishTemplate(const std::u16string& text, const ToData& item,
                                     const PublishTarget& target, const PublishModule* module,
                                     EscapeMode mode, const std::u16string& engine = u"");

// Converts an HTML fragment into UBB forum markup.
std::u16string Html2Ubb(const std::u16string& html);

// Fills "[DB:name]" tags (MakeLabelTag) with the values unchanged, in one left-to-right pass:
// text a value brings in is never expanded again. Tags of labels the map lacks stay.
std::u16string FillLabelTags(const std::u16string& text,
                             const std::map<std::u16string, std::u16string>& fields);

// Uniform in [0, n) for n > 0, else 0; one locked generator for the publishing code.
size_t PublishRandomBelow(size_t n);

}  // namespace rz
