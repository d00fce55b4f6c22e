// Loading and saving XML and text files with their text encoding.
#pragma once

#include <string>

namespace pcutil {

// Text file encodings for ReadTextFile / WriteTextFile.
enum TextFileMode : int {
  TextModeDetect = 0,  // by the first byte: EF UTF-8, FE/FF UTF-16LE, else ANSI
  TextModeUtf16 = 1,   // UTF-16 little-endian
  TextModeUtf8 = 2,
  TextModeAnsi = 3,    // the local code page (GBK here)
};

// ReadTextFile's result when the file gave fewer bytes than its size.
inline constexpr int kTextFileEndOfFile = -100038;

// Reads a whole existing file into text; a leading byte-order mark is skipped and the
// text ends at the first zero character. Returns 0 on success, -errno when the file cannot
// be opened or read, kTextFileEndOfFile on a short read, and 1 (reading nothing) for an
// unknown mode.
int ReadTextFile(const std::u16string& path, std::u16string& text, int mode);

// Creates or truncates the file and writes the text: TextModeUtf8 with the mark EF BB BF
// (left out for texts of fewer than 3 bytes), TextModeAnsi without a mark. Other modes fail.
bool WriteTextFile(const std::u16string& path, const std::u16string& text, int mode);

// The XML text of a rule, index, module or settings file, or empty when it is missing or
// unreadable. The extension (".xml", ".module") is appended unless the path contains it.
// A text starting with U+0001 is the Base64 form of the UTF-8 file. Never throws.
std::u16string LoadXmlFile(const std::u16string& path, const std::u16string& extension);

// Writes the text as UTF-8 with byte-order mark. The file is written beside the target
// under a temporary name and renamed over it, so the old file stays whole if the write fails.
bool SaveXmlFile(const std::u16string& path, const std::u16string& text);

}  // namespace pcutil
