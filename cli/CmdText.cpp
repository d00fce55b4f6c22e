// Text commands: link keys, URL encoding, link resolution.
#include <iostream>

#include "CliOptions.h"
#include "Commands.h"
#include "foundation/Text.h"

namespace rzcli {

namespace {

void PrintLine(const std::u16string& text) { std::cout << pcutil::Utf16ToUtf8(text) << "\n"; }

}  // namespace

int CmdUrlKey(const Args& args) {
  if (args.size() != 1) return BadInput("usage: url-key ADDRESS");
  std::u16string address;
  if (!DecodeArg(args[0], address)) return BadInput("ADDRESS is not UTF-8");
  PrintLine(pcutil::UrlKey(address));
  return 0;
}

int CmdUrlEncode(const Args& args) {
  if (args.size() != 2) return BadInput("usage: url-encode TEXT CHARSET");
  std::u16string text, charset;
  if (!DecodeArg(args[0], text) || !DecodeArg(args[1], charset))
    return BadInput("arguments are not UTF-8");
  PrintLine(pcutil::UrlEncode(text, charset));
  return 0;
}

int CmdToAbsolute(const Args& args) {
  if (args.size() != 2) return BadInput("usage: to-absolute LINK BASE");
  std::u16string link, base;
  if (!DecodeArg(args[0], link) || !DecodeArg(args[1], base)) return BadInput("arguments are not UTF-8");
  PrintLine(pcutil::ToAbsolute(link, base));
  return 0;
}

}  // namespace rzcli
