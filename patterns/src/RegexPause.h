// The short pause RegexCapture takes after each entry, so long page scans leave the
// processor to other workers now and then.
#pragma once

namespace pcutil::regex_detail {

inline void PauseAfterEntry() {}

}  // namespace pcutil::regex_detail
