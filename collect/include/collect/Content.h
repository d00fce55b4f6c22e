// Cutting the labels out of an article page: the three value kinds, the LabelLoop modes,
// the clean-up of each value, multi-page articles and the building of the finished items.
//
// Everything here works on page text; downloads go through the fetch functions of
// ContentContext, so the content worker and the rule test share the same code.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "collect/PostProcess.h"
#include "collect/WorkData.h"
#include "store/JobRule.h"

namespace pcutil {
class RegexError;
}

namespace rz {

// Value lists per label, keyed by LabelName.
using LabelValues = std::map<std::u16string, std::vector<std::u16string>>;

// Downloads one page: returns the HTTP status (0 when there was no response) and, on a
// response, the decoded text.
using PageFetch = std::function<int(const std::u16string& url, const std::u16string& charset,
                                    std::u16string& text)>;

struct ContentContext {
  std::u16string JobId;  // default file folder "DB/<JobId>" below the program folder
  PageFetch Fetch;
  FileFetcher Files;
  // Help text of a log key ("LogDownloadContentFail", ...). Without it the key is used.
  std::function<std::u16string(const std::u16string& key)> Message;
  // Where DownloadReferences rows go (the rule test shows them); may be null.
  std::vector<DownloadFileRow>* ImageRows = nullptr;
  std::vector<DownloadFileRow>* FlashRows = nullptr;
};

// The group of ContentByRex marked "?<content>": the "(" before the marker that are not
// preceded by a backslash; 0 (the whole match) without a marker.
int ContentGroupIndex(const std::u16string& contentByRex);

// The raw values of one label on one page, in page order, before clean-up.
// Throws pcutil::RegexError for a pattern that does not compile or exceeds the limits.
std::vector<std::u16string> LabelRawValues(const LabelRule& label, const std::u16string& page);

// Cleans one value in the designed order: replacements (with "|" kept), tag filters,
// LabelContentMust / LabelContentForbid, link rewriting, image and Flash downloads.
// Returns false when the value is dropped; the message is then in item.Text.
// Throws pcutil::RegexError like LabelRawValues.
bool PostProcessValue(const LabelRule& label, const ContentRule& content,
                      const ContentContext& ctx, const std::u16string& pageUrl,
                      const std::u16string& base, std::u16string& value, ToData& item);

// Stores a cleaned value by LabelLoop. Returns false when further matches of this label on
// this page are not needed.
bool StoreLabelValue(const LabelRule& label, std::vector<std::u16string>& list,
                     const std::u16string& value);

// Every label of the content section over one page into `values`. Returns 0 when the
// section has no labels (message in item.Text), -1 when a label's pattern failed (red line
// naming the label and the error in item.Text), 1 otherwise.
int ExtractLabels(const std::u16string& page, const std::u16string& pageUrl,
                  const ContentRule& content, const ContentContext& ctx, LabelValues& values,
                  ToData& item);

// Numbered pages: the article id that GatherFormat captures from the article address.
bool MultiPageArticleId(const MultiPageRule& rule, const std::u16string& articleUrl,
                        std::u16string& id);
// Numbered pages: UrlFormat with <%step%> = counter and <%id%> = id.
std::u16string MultiPageAddress(const MultiPageRule& rule, const std::u16string& id,
                                long long counter);
// Pagination area: the page addresses found between Start and End, in order (links first,
// then bare absolute addresses), resolved, filtered by MustUrl; duplicates kept.
std::vector<std::u16string> PaginationAddresses(const MultiPageRule& rule,
                                                const std::u16string& page,
                                                const std::u16string& articleUrl);

// Numbered pages stop after this many further pages, whatever the site answers.
inline constexpr int kMaxFurtherPages = 500;

// Follows the further pages of a multi-page article by MultiPageType, extracting labels
// from each into `values`. Returns what ExtractLabels returned last (-1 stops at once).
int CollectFurtherPages(const std::u16string& articlePage, const std::u16string& articleUrl,
                        const std::u16string& charset, const ContentRule& content,
                        const ContentContext& ctx, LabelValues& values,
                        std::vector<std::u16string>& visited, ToData& item);

// One item per value index (k = the most values of any label, at least 1), each checked
// against every label's LabelNotNull (failure: code 12 and the red message).
std::vector<ToData> BuildItems(const ToData& pageItem, const ContentRule& content,
                               const LabelValues& values);

// One article page: download, labels, further pages, items. Fills `items` with the
// finished items (the first updates the stored row, further ones are new rows) or with the
// single failed item; returns 1 when the page was collected, 0 otherwise.
int CollectPage(const std::u16string& rowId, const std::u16string& pageUrl,
                const std::u16string& charset, const ContentRule& content,
                const ContentContext& ctx, std::vector<ToData>& items,
                std::vector<std::u16string>& visited);

// The red log line for a rule pattern that failed on a page (`what` names the rule part).
std::u16string PatternErrorLine(const std::u16string& what, const pcutil::RegexError& error,
                                const std::u16string& pageUrl);

}  // namespace rz
