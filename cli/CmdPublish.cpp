// publish-test: the job editor's test publish for one web target of a job.
#include <iostream>

#include "Commands.h"
#include "foundation/Text.h"
#include "patterns/Regex.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "store/JobRule.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Utf16ToUtf8;
using pcutil::Utf8ToUtf16;

namespace {

// The result message as plain text: line breaks for <br/>, tags dropped, entities decoded.
std::string PlainText(std::u16string html) {
  pcutil::RegexReplace(html, u"<br\\s*/?>", pcutil::CaseInsensitive | pcutil::Global, u"\n");
  pcutil::RegexReplace(html, u"<[^>]*>", pcutil::Global, u"");
  return Utf16ToUtf8(pcutil::HtmlUnescape(html));
}

}  // namespace

// publish-test JOBID TARGET_INDEX --title T --content C
// Prints the result code and the answer analysis; exit 0 when the site took the article.
int CmdPublishTest(const Args& args) {
  if (args.size() < 2) return BadInput("publish-test needs JOBID TARGET_INDEX");
  std::string title, content;
  bool hasTitle = false, hasContent = false, html = false;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--html") {
      html = true;
      continue;
    }
    if (i + 1 >= args.size()) return BadInput(args[i] + " needs a value");
    if (args[i] == "--title")
      title = args[++i], hasTitle = true;
    else if (args[i] == "--content")
      content = args[++i], hasContent = true;
    else
      return BadInput("unknown option " + args[i]);
  }
  size_t index = 0;
  try {
    size_t used = 0;
    const long v = std::stol(args[1], &used);
    if (used != args[1].size() || v < 0) throw std::invalid_argument("index");
    index = static_cast<size_t>(v);
  } catch (const std::exception&) {
    return BadInput("TARGET_INDEX is a number from 0");
  }
  rz::LoadGlobalSettings();
  rz::SiteStore store;
  rz::JobRulePtr rule = rz::LoadJobRule(store, Utf8ToUtf16(args[0]));
  if (!rule) {
    std::cerr << "rizede-cli: no job " << args[0] << "\n";
    return 1;
  }
  if (index >= rule->WebPublish.size())
    return BadInput("the job has " + std::to_string(rule->WebPublish.size()) + " web targets");
  const rz::PublishTarget& target = rule->WebPublish[index];
  const std::u16string t = hasTitle ? Utf8ToUtf16(title) : target.WebTestTitle;
  const std::u16string c = hasContent ? Utf8ToUtf16(content) : target.WebTestContent;
  std::u16string message;
  const int code = rz::TestPublish(*rule, target, t, c, rule->DbSettings, message);
  std::cout << "result " << code << "\n" << (html ? Utf16ToUtf8(message) : PlainText(message)) << "\n";
  return code == rz::kPublishWebOk ? 0 : 1;
}

}  // namespace rzcli
