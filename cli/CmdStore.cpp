// Rule store commands: list the program folder's sites and jobs, normalise a rule file.
#include <iostream>

#include "Commands.h"
#include "foundation/Text.h"
#include "store/JobRule.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Utf16ToUtf8;

static std::string Plan(const rz::PlanJob& p) {
  if (p.IsClose) return "off";
  return "type " + std::to_string(p.Type) + " every " +
         (p.IntervalCount.empty() ? std::string("-") : Utf16ToUtf8(p.IntervalCount)) +
         " last " + std::to_string(p.LastTime) + " next " + std::to_string(p.NextTime);
}

// One line per site ("site ID NAME type N") followed by one line per job
// ("  job ID NAME gather G original O publish P schedule ..."), tab-separated.
int CmdJobs(const Args& args) {
  if (!args.empty()) return BadInput("jobs takes no arguments");
  rz::SiteStore store;
  if (!store.LoadIndex()) {
    std::cerr << "rizede-cli: the job index could not be read or rebuilt in "
              << pcutil::ToFsPath(pcutil::ProgramPath(u"Data/Job")) << "\n";
    return 1;
  }
  int jobs = 0;
  for (const auto& site : store.Sites) {
    std::cout << "site\t" << Utf16ToUtf8(site->SiteId) << "\t" << Utf16ToUtf8(site->SiteName)
              << "\ttype " << site->Type << "\n";
    for (const auto& job : site->Jobs) {
      ++jobs;
      std::cout << "  job\t" << Utf16ToUtf8(job->JobId) << "\t" << Utf16ToUtf8(job->JobName)
                << "\tgather " << job->IsGather << " original " << job->IsOriginal << " publish "
                << job->IsPublish << "\tschedule "
                << Plan(job->PlanJob ? *job->PlanJob : rz::PlanJob{}) << "\n";
    }
  }
  return jobs > 0 ? 0 : 1;
}

// rule resave IN OUT: load a rule file and write it as the program saves it.
int CmdRule(const Args& args) {
  if (args.size() != 3 || args[0] != "resave") return BadInput("usage: rule resave IN OUT");
  std::u16string error;
  rz::JobRulePtr rule = rz::ReadJobRuleFile(pcutil::Utf8ToUtf16(args[1]), &error);
  if (!rule) return BadInput("cannot read rule file " + args[1] + ": " + Utf16ToUtf8(error));
  if (!rz::SaveJobRule(*rule, pcutil::Utf8ToUtf16(args[2]))) {
    std::cerr << "rizede-cli: cannot write " << args[2] << "\n";
    return 1;
  }
  return 0;
}

}  // namespace rzcli
