// Finding article links on list pages: the link area, the address filters, the automatic
// extractor (also used for multi-page articles) and the manual link pattern.
//
// Pattern-based functions throw pcutil::RegexError when a rule's pattern does not compile or
// exceeds the engine's limits; callers turn that into a failed unit with a log line.
#pragma once

#include <string>
#include <vector>

#include "store/JobRule.h"

namespace rz {

struct Link {
  std::u16string Url;
  std::u16string Text;
  bool operator==(const Link&) const = default;
};

// Turns literal rule text into pattern text: each protected token survives as written,
// every other pattern character \ ^ [ ? + ( ) . $ * | is escaped.
std::u16string WildcardToPattern(const std::u16string& text,
                                 const std::vector<std::u16string>& protectedTokens);

// The page's own base address ("base href"), or `pageUrl` when it names none.
std::u16string FindBaseAddress(const std::u16string& page, const std::u16string& pageUrl);

// The part of the page between CodeBegin and CodeEnd (pattern text, "(*)" = any text); the
// whole page when both are empty, empty when they do not match.
std::u16string CodeArea(const std::u16string& codeBegin, const std::u16string& codeEnd,
                        const std::u16string& page);
inline std::u16string CodeArea(const ListRule& rule, const std::u16string& page) {
  return CodeArea(rule.CodeBegin, rule.CodeEnd, page);
}

// MustUrls ("|"-separated fragments, "(*)" = any text) must match somewhere in the address
// when set; NotUrls, built the same way, must not.
bool UrlAllowed(const std::u16string& mustUrls, const std::u16string& notUrls,
                const std::u16string& address);
inline bool UrlAllowed(const ListRule& rule, const std::u16string& address) {
  return UrlAllowed(rule.MustUrls, rule.NotUrls, address);
}

// Frame sources and anchors of `page`, resolved against `base`, in page order.
void ExtractLinks(const std::u16string& page, const std::u16string& base,
                  std::vector<Link>& out);

// The text of the anchor whose opening tag ends just before `pos`, tags removed.
std::u16string LinkText(const std::u16string& page, size_t pos);

// Resolves a link against a base (pcutil::ToAbsolute): absolute addresses of any scheme stay,
// "//host/..." takes the base's scheme.
std::u16string ResolveLink(const std::u16string& link, const std::u16string& base);

// Decodes &quot; &lt; &gt; &amp; and numeric references (&#38; &#x26;) in one pass.
std::u16string DecodeCharRefs(const std::u16string& text);

// The addresses of one downloaded list page: link area, manual pattern or automatic
// extraction, "target=_blank" removed, filtered, character references decoded.
// IsByHand 1: links are the matches of UrlJs ("(*)" any text, "[参数]" captured) written
// into RealUrl ("[参数1]"...), not resolved. Throws pcutil::RegexError (see above).
std::vector<std::u16string> ListPageLinks(const ListRule& rule, const std::u16string& page,
                                          const std::u16string& pageUrl);

}  // namespace rz
