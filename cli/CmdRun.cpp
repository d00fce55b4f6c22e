// run: one job of the program folder through its steps, headless, with the collector's own
// runner and database. Each log line is printed as plain text; Ctrl-C stops the run.
#include <csignal>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>

#include "CliOptions.h"
#include "Commands.h"
#include "collect/Kite.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "publish/RunnerStep.h"
#include "rewrite/Rewrite.h"
#include "storage/ContentDatabase.h"
#include "storage/LocalServer.h"
#include "store/JobRule.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace rzcli {

using pcutil::Utf16ToUtf8;
using pcutil::Utf8ToUtf16;

namespace {

std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) { g_interrupts.fetch_add(1); }

// A log line as plain text: tags dropped, entities decoded, error lines marked.
std::string PlainLine(const std::u16string& html) {
  const bool red = html.find(u"color=\"red\"") != std::u16string::npos ||
                   html.find(u"color=red") != std::u16string::npos;
  std::u16string text;
  bool inTag = false;
  for (char16_t c : html) {
    if (c == u'<') inTag = true;
    else if (c == u'>' && inTag) inTag = false;
    else if (!inTag) text += c;
  }
  text = pcutil::HtmlUnescape(text);
  for (auto& c : text)
    if (c == u'\r' || c == u'\n') c = u' ';
  return (red ? "! " : "") + Utf16ToUtf8(text);
}

class RunPrinter : public pcutil::SignalReceiver {
 public:
  void Log(const rz::LogData& record) {
    std::lock_guard lock(mutex_);
    last_ = record;
    std::cout << PlainLine(record.LogText) << "\n" << std::flush;
  }
  void Finished() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    done_.notify_all();
  }
  // Waits up to `ms` for the end of the run; true when it finished.
  bool WaitFinished(int ms) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return finished_; });
  }
  rz::LogData Last() {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  rz::LogData last_;
};

// The local server the job needs: started here when it does not run; true once it answers.
bool EnsureLocalServer(const rz::JobRule& rule, bool& started) {
  started = false;
  if (!(rule.DbSettings == rz::LocalServerSettings()) || rz::IsLocalServerRunning()) return true;
  started = true;
  rz::ContentDatabase probe(rule.DbSettings, rule.JobId);
  return StartLocalServerFor(probe);
}

void StopLocalServerIfOurs(bool started) {
  if (started && rz::FindProcessByName(u"Rizede") == 0) rz::StopLocalServer();
}

}  // namespace

// run JOBID [--steps url,content,publish] [--engine ACCESS|MySql] [--host H] [--port P]
//           [--user U] [--password P] [--database NAME_OR_FILE]
int CmdRun(const Args& args) {
  if (args.empty() || args[0].rfind("--", 0) == 0)
    return BadInput("usage: run JOBID [--steps url,content,publish] [database options]");
  bool stepsGiven = false;
  bool url = false, content = false, publish = false;
  DbOptions dbOptions;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& opt = args[i];
    if (i + 1 >= args.size()) return BadInput(opt + " needs a value");
    const std::string& value = args[i + 1];
    if (opt == "--steps") {
      stepsGiven = true;
      std::vector<std::u16string> names;
      pcutil::Split(Utf8ToUtf16(value), u",", names);
      for (const auto& n : names) {
        if (n == u"url") url = true;
        else if (n == u"content") content = true;
        else if (n == u"publish") publish = true;
        else return BadInput("unknown step " + Utf16ToUtf8(n) + " (url, content, publish)");
      }
    } else if (std::string error; dbOptions.Take(opt, value, error)) {
      if (!error.empty()) return BadInput(error);
    } else {
      return BadInput("unknown option " + opt);
    }
  }

  rz::LoadGlobalSettings();
  pcutil::SetGlobalUserAgent(rz::GlobalSettings().EffectiveUserAgent());

  rz::SiteStore store;
  rz::JobRulePtr loaded = LoadJobOrReport(store, args[0]);
  if (!loaded) return 1;
  // This run's own copy: the step switches and database options do not touch the stored job.
  auto rule = std::make_shared<rz::JobRule>(*loaded);
  if (stepsGiven) {
    rule->IsGather = url ? 1 : 0;
    rule->IsOriginal = content ? 1 : 0;
    rule->IsPublish = publish ? 1 : 0;
  }
  dbOptions.ApplyTo(rule->DbSettings);

  bool startedServer = false;
  if (!EnsureLocalServer(*rule, startedServer)) {
    std::cerr << "rizede-cli: the local database server does not answer\n";
    StopLocalServerIfOurs(startedServer);
    return 1;
  }

  int exitCode = 0;
  {
    RunPrinter printer;
    rz::CKite kite;
    kite.SetRewrite([](rz::ToData& item, const std::vector<rz::LabelRule>& labels) {
      return rz::RewriteItemLabels(item, labels);
    });
    kite.SetPublishWorker(std::make_unique<rz::CPublishRunnerStep>());
    kite.OnLog.Connect(&printer, &RunPrinter::Log);
    kite.OnFinished.Connect(&printer, &RunPrinter::Finished);

    g_interrupts = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    if (!kite.StartJob(rule)) {
      kite.StopJob();
      exitCode = 1;
    } else {
      bool stopping = false;
      while (true) {
        if (printer.WaitFinished(100)) break;
        const int interrupts = g_interrupts.load();
        if (interrupts >= 2) {
          std::cerr << "rizede-cli: exiting without waiting for the workers\n";
          StopLocalServerIfOurs(startedServer);
          std::cout << Utf16ToUtf8(rz::SummaryLine(printer.Last())) << "\n" << std::flush;
          std::_Exit(130);
        }
        if (interrupts == 1 && !stopping) {
          stopping = true;
          std::cerr << "rizede-cli: stopping the run after the current unit (Ctrl-C again to "
                       "exit at once)\n";
          kite.StopJob();
          exitCode = 130;
        }
        if (!stopping && kite.Stalled()) {
          // The step could not open its data; the page would wait for the user's stop.
          kite.StopJob();
          stopping = true;
          exitCode = 1;
        }
        if (stopping && !kite.WorkersBusy()) break;
      }
    }
    std::cout << Utf16ToUtf8(rz::SummaryLine(printer.Last())) << "\n" << std::flush;
    sigaction(SIGINT, &previous, nullptr);
  }
  StopLocalServerIfOurs(startedServer);
  return exitCode;
}

}  // namespace rzcli
