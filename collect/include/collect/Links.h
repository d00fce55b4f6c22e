// Finding article links on list pages: the link area, the address filters, the automatic
// extractor (also used for multi-page articles) and the manual link pattern.
//
// Pattern-based functions throw pcutil::RegexError when a rule's pattern does not compile or
// exceeds the engine's limits; callers turn that into a failed unit with a log line.
#pragma once

#include <string>
#include <vector>

namespace rz {

struct Link {
  std::u16string Url;
  std::u16string Text;
  bool operator==(const Link&) const = default;
};

// The rule fields link collection reads (the list section of a job).
struct LinkRuleFields {
  std::u16string CodeBegin, CodeEnd;  // link area markers, pattern text, "(*)" = any text
  std::u16string MustUrls, NotUrls;   // "|"-separated fragments, "(*)" = any text
  int IsByHand = 0;                   // 1: links come from UrlJs/RealUrl
  std::u16string UrlJs, RealUrl;
};

// Turns literal rule text into pattern text: each protected token survives as written,
// every other pattern character \ ^ [ ? + ( ) . $ * | is escaped.
std::u16string WildcardToPattern(const std::u16string& text,
                                 const std::vector<std::u16string>& protectedTokens);

// The page's own base address ("base href"), or `pageUrl` when it names none.
std::u16string FindBaseAddress(const std::u16string& page, const std::u16string& pageUrl);

// The part of the page between CodeBegin and CodeEnd; the whole page when both are empty,
// empty when they do not match.
std::u16string CodeArea(const std::u16string& codeBegin, const std::u16string& codeEnd,
                        const std::u16string& page);

// MustUrls must match somewhere in the address (when set), NotUrls must not (when set).
bool UrlAllowed(const std::u16string& mustUrls, const std::u16string& notUrls,
                const std::u16string& address);

// Frame sources and anchors of `page`, resolved against `base`, in page order.
void ExtractLinks(const std::u16string& page, const std::u16string& base,
                  std::vector<Link>& out);

// The text of the anchor whose opening tag ends just before `pos`, tags removed.
std::u16string LinkText(const std::u16string& page, size_t pos);

// Resolves a link against a base: absolute addresses of any scheme stay, "//host/..." takes
// the base's scheme, everything else goes through pcutil::ToAbsolute.
std::u16string ResolveLink(const std::u16string& link, const std::u16string& base);

// Decodes &quot; &lt; &gt; &amp; and numeric references (&#38; &#x26;) in one pass.
std::u16string DecodeCharRefs(const std::u16string& text);

// The addresses of one downloaded list page: link area, manual pattern or automatic
// extraction, "target=_blank" removed, filtered, character references decoded.
std::vector<std::u16string> ListPageLinks(const LinkRuleFields& rule, const std::u16string& page,
                                          const std::u16string& pageUrl);

// Works with any rule record that has the list section's field names.
template <class ListSection>
LinkRuleFields LinkFieldsOf(const ListSection& s) {
  return LinkRuleFields{s.CodeBegin, s.CodeEnd, s.MustUrls, s.NotUrls,
                        static_cast<int>(s.IsByHand), s.UrlJs, s.RealUrl};
}

}  // namespace rz
