// Page charset detection and decoding of the response bytes.
#include <algorithm>
#include <string_view>

#include "CurlSupport.h"
#include "net/Http.h"
#include "patterns/Regex.h"

namespace pcutil {

using namespace netdetail;

namespace {

// First group of a case-insensitive match, or empty.
std::u16string FirstGroup(const std::u16string& pattern, const std::u16string& subject) {
  std::vector<std::u16string> found;
  try {
    if (RegexCapture(pattern, subject, CaseInsensitive, found) && found.size() >= 2)
      return found[1];
  } catch (const RegexError&) {
  }
  return {};
}

}  // namespace

std::u16string CHttpClientSession::DetectCharset() const {
  // Header text is ASCII in practice; bytes beyond it must not stop the search.
  std::u16string charset = FirstGroup(u"charset=(.+)", Utf8ToUtf16Lenient(headerText_));
  if (!charset.empty()) return charset;
  // The quote is optional so that the HTML5 form <meta charset="utf-8"> is found too.
  charset = FirstGroup(u"<meta.+?charset=[\"']?([-\\w]+)", LocalToUtf16(body_));
  if (!charset.empty()) return charset;
  return u"gb2312";
}

std::u16string CHttpClientSession::DecodeBody(const std::u16string& charset) const {
  // A NUL inside a page would cut the text short; the last byte is the end anyway. Most
  // pages hold none, and are then decoded without a copy.
  std::string_view view(body_);
  if (!view.empty() && view.back() == '\0') view.remove_suffix(1);
  Bytes cleaned;
  if (view.find('\0') != std::string_view::npos) {
    cleaned.assign(view);
    std::replace(cleaned.begin(), cleaned.end(), '\0', ' ');
    view = cleaned;
  }
  const std::u16string name = TrimSpace(charset);
  if (EqualsNoCase(name, u"utf-8")) return Utf8ToUtf16Lenient(view);
  if (EqualsNoCase(name, u"iso-8859-1")) {
    const std::u16string decoded = Utf8ToUtf16Lenient(view);
    // Every character above U+007F is merged with its successor into one character.
    std::u16string merged;
    merged.reserve(decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
      const char16_t c = decoded[i];
      if (c > 0x7F && i + 1 < decoded.size()) {
        merged += static_cast<char16_t>(((c * 64) % 2048) | (decoded[i + 1] % 64));
        ++i;
      } else {
        merged += c;
      }
    }
    return merged;
  }
  return LocalToUtf16(Bytes(view));
}

}  // namespace pcutil
