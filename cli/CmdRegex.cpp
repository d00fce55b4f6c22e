// regex: runs a rule pattern through one of the four matching operations, so rule writers
// can try a pattern on a text before putting it into a rule.
#include <cstdlib>
#include <iostream>

#include "CliOptions.h"
#include "Commands.h"
#include "foundation/Pause.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"

namespace rzcli {

namespace {

const char* const kUsage = "usage: regex capture|odd|replace|split FLAGS PATTERN SUBJECT [TEMPLATE]";

// FLAGS is hexadecimal, with or without "0x"; only the known flag bits are accepted.
bool ParseFlags(const std::string& text, unsigned& flags) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (digits.empty() || digits.size() > 8 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  unsigned long value = std::strtoul(digits.c_str(), nullptr, 16);
  if (value & ~static_cast<unsigned long>(pcutil::AllRegexFlags)) return false;
  flags = static_cast<unsigned>(value);
  return true;
}

void PrintLines(const std::vector<std::u16string>& entries) {
  for (const auto& e : entries) std::cout << pcutil::Utf16ToUtf8(e) << "\n";
}

}  // namespace

int CmdRegex(const Args& args) {
  if (args.size() < 4) return BadInput(kUsage);
  const std::string& op = args[0];
  const bool replace = op == "replace";
  if (op != "capture" && op != "odd" && op != "split" && !replace) return BadInput(kUsage);
  if (args.size() != (replace ? 5u : 4u))
    return BadInput(replace ? "replace needs a TEMPLATE" : "only replace takes a TEMPLATE");
  unsigned flags = 0;
  if (!ParseFlags(args[1], flags))
    return BadInput("FLAGS must be hexadecimal flag bits within 0x18F, like 0x83");
  std::u16string pattern, subject, replacement;
  if (!DecodeArg(args[2], pattern) || !DecodeArg(args[3], subject) ||
      (replace && !DecodeArg(args[4], replacement)))
    return BadInput("arguments are not UTF-8");

  // One-shot run: the workers' courtesy pauses would only slow it down.
  pcutil::SetFixedPauseMs(0);
  try {
    std::vector<std::u16string> entries;
    if (op == "capture") {
      if (!pcutil::RegexCapture(pattern, subject, flags, entries)) return 1;
      PrintLines(entries);
      return 0;
    }
    if (op == "odd") {
      if (!pcutil::RegexCaptureOdd(pattern, subject, flags, entries)) return 1;
      PrintLines(entries);
      return 0;
    }
    if (op == "split") {
      if (pcutil::RegexSplit(entries, subject, flags, pattern) == 0) return 1;
      PrintLines(entries);
      return 0;
    }
    int replaced = 0;
    pcutil::RegexReplace(subject, pattern, flags, replacement, &replaced);
    std::cout << pcutil::Utf16ToUtf8(subject) << "\n";
    return replaced > 0 ? 0 : 1;
  } catch (const pcutil::RegexError& e) {
    if (e.Offset() >= 0)
      return BadInput("bad pattern at offset " + std::to_string(e.Offset()) + ": " + e.what());
    return BadInput(std::string("pattern gave up: ") + e.what());
  }
}

}  // namespace rzcli
