// Text, charset and URL helpers shared by every subsystem.
// Text in memory is UTF-16 (std::u16string); bytes (std::string) appear only at edges.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pcutil {

using Bytes = std::string;  // raw bytes at the network, file and database edges

// UTF-8 <-> UTF-16. Undecodable UTF-8 gives empty text.
Bytes Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const Bytes& bytes);
// UTF-8 -> UTF-16 that keeps going: each byte that starts no valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16Lenient(std::string_view bytes);
// Appends one code point (at most U+10FFFF): a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string& out, char32_t codePoint);

// The local multi-byte code page: GBK, with GB18030's four-byte forms for characters GBK
// lacks (so only broken text, such as a lone surrogate, becomes '?'). Decoding reads GB18030
// plus GBK's 0x80 euro sign; undecodable bytes become '?'.
Bytes Utf16ToLocal(const std::u16string& text);
std::u16string LocalToUtf16(const Bytes& bytes);

// Any iconv charset name <-> UTF-16; empty on an unknown charset name. "gb2312", "gbk",
// "cp936", "gb18030" mean the local code page above. Undecodable bytes become U+FFFD,
// characters the charset lacks '?'.
std::u16string DecodeCharset(const Bytes& bytes, const std::string& charset);
Bytes EncodeCharset(const std::u16string& text, const std::string& charset);

// Convenience for literals and std::string interop in tests and the CLI.
inline std::u16string U16(const char* utf8) { return Utf8ToUtf16(utf8); }

// Charset exactly "utf-8": UTF-8 percent-encoding keeping A-Z a-z 0-9 - _ . ! ~ * ' ( ) / :
// Any other name: the local code page, keeping only ASCII letters, digits, '/' and ':'.
std::u16string UrlEncode(const std::u16string& text, const std::u16string& charset);
std::u16string HtmlEscape(const std::u16string& text);
std::u16string HtmlUnescape(const std::u16string& text);
std::u16string SqlEscape(const std::u16string& text);
std::u16string CsvQuote(const std::u16string& text);

// Splits by delimiter; false (and an empty list) for an empty delimiter or too many pieces.
bool Split(const std::u16string& text, const std::u16string& delimiter,
           std::vector<std::u16string>& out, bool keepEmpty = false);
int CountDelimiters(const std::u16string& text, const std::u16string& delimiter);
// Text between the first start marker and the next end marker.
bool CutBetween(const std::u16string& text, const std::u16string& start,
                const std::u16string& end, std::u16string& inner);
bool IsNumber(const std::u16string& text);
int RandomBetween(int first, int second);

// The link key: lowercase hex MD5 of UTF-16LE("7K3Q8R1T5M" + address).
std::u16string UrlKey(const std::u16string& address);
// Resolves a link found on the page `base`. Links with any "scheme://" stay as they are;
// "//host/path" takes the base's scheme.
std::u16string ToAbsolute(const std::u16string& link, const std::u16string& base);

// Replaces every occurrence, left to right.
std::u16string ReplaceAll(std::u16string text, const std::u16string& from,
                          const std::u16string& to);

// The folder of the running executable joined with a relative path ('\' accepted, '/' written).
std::u16string ProgramPath(const std::u16string& relative = u"");
// Overrides the program folder (tests, `--root`). Empty restores the executable's folder.
void SetProgramFolder(const std::u16string& folder);

// Path text <-> file-system path bytes (UTF-8 on Linux, '\' turned into '/').
std::string ToFsPath(const std::u16string& path);

// printf subset on UTF-16: %s (u16 text) %d %ld %u %02d %05d %x %%.
class FormatArg {
 public:
  FormatArg(const std::u16string& s) : text_(&s), isText_(true) {}
  FormatArg(const char16_t* s) : ptr_(s), isText_(true) {}
  FormatArg(int v) : num_(v) {}
  FormatArg(long v) : num_(v) {}
  FormatArg(long long v) : num_(v) {}
  FormatArg(unsigned v) : num_(v) {}
  FormatArg(unsigned long v) : num_(static_cast<long long>(v)) {}
  std::u16string Text() const;
  long long Number() const { return num_; }
  bool IsText() const { return isText_; }

 private:
  const std::u16string* text_ = nullptr;
  const char16_t* ptr_ = nullptr;
  long long num_ = 0;
  bool isText_ = false;
};
std::u16string FormatArgs(const std::u16string& format, const std::vector<FormatArg>& args);
template <typename... A>
std::u16string Format(const std::u16string& format, const A&... args) {
  return FormatArgs(format, {FormatArg(args)...});
}

}  // namespace pcutil
