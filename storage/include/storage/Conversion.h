// The forced database upgrade: moves the content database of every job whose database
// differs from a target to that target, then makes the target the application's database.
#pragma once

#include <functional>
#include <string>

#include "store/DbSettings.h"
#include "store/JobRule.h"

namespace rz {

class SiteStore;
struct AppSettings;

struct ConversionHooks {
  // Receives every status text ("%s转换已完成", "转移%sContent表数据,完成数:%d/%d", ...).
  std::function<void(const std::u16string&)> Status;
  // Asked before each job: false ends the worker there (the user aborted). The job being
  // copied is always finished, so no job is left half copied.
  std::function<bool()> KeepGoing;
  // Called on each job rule right after it is read. A read rule always names the local
  // server; a caller that knows where a job's data really is sets it here.
  std::function<void(JobRule&)> AfterRead;
};

// The conversion worker. Walks the sites and jobs of the store in index order; returns true
// after "升级数据库成功！" (settings updated and saved), false when it ended early: a target
// database that could not be created ("创建%s的数据库失败"), or an abort.
bool ConvertDatabases(SiteStore& store, AppSettings& settings, const DbSettings& target,
                      const ConversionHooks& hooks);

// The dialog's status line for a status text: "规则:已完成任务数：0---<text>".
std::u16string ConversionStatusLine(const std::u16string& text);

// The job's label names, in label order.
std::vector<std::u16string> LabelNames(const JobRule& rule);

}  // namespace rz
