#include "storage/Conversion.h"

#include "foundation/Text.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"
#include "store/Sites.h"

namespace rz {

namespace {

using pcutil::Format;

// Copies every row of the old database's current result into the target with the insert
// template (ids left out: the target numbers its rows afresh). A row that cannot be read or
// inserted is skipped; the count goes on.
void CopyRows(ContentDatabase& from, ContentDatabase& to, const std::u16string& insertTemplate,
              const std::u16string& statusFormat, const std::u16string& jobName,
              const ConversionHooks& hooks) {
  const long n = from.RecordCount();
  for (long i = 1; i <= n; ++i) {
    FieldMap record;
    if (from.ReadRow(record, -1)) {
      const std::u16string sql =
          ContentDatabase::BuildInsert(Format(insertTemplate, to.Prefix()), record, to.Settings.Type);
      to.ExecuteTemplate(sql, record);
    }
    from.NextRow();
    if (hooks.Status)
      hooks.Status(jobName.empty() ? Format(statusFormat, static_cast<int>(i), static_cast<int>(n))
                                   : Format(statusFormat, jobName, static_cast<int>(i),
                                            static_cast<int>(n)));
  }
}

}  // namespace

std::u16string ConversionStatusLine(const std::u16string& text) {
  return Format(u"规则:已完成任务数：%d---%s", 0, text);
}

std::vector<std::u16string> LabelNames(const JobRule& rule) {
  std::vector<std::u16string> names;
  for (const auto& label : rule.ContentRex.LabelRex) names.push_back(label.LabelName);
  return names;
}

bool ConvertDatabases(SiteStore& store, AppSettings& settings, const DbSettings& target,
                      const ConversionHooks& hooks) {
  auto status = [&](const std::u16string& text) {
    if (hooks.Status) hooks.Status(text);
  };
  // The lists are copied first: reading a rule enters it in the store, and the walk must
  // not depend on that.
  std::vector<std::u16string> jobs;
  for (const auto& site : store.Sites)
    for (const auto& job : site->Jobs) jobs.push_back(job->JobId);

  for (const auto& jobId : jobs) {
    if (hooks.KeepGoing && !hooks.KeepGoing()) return false;
    JobRulePtr rule = LoadJobRule(store, jobId);
    if (!rule) continue;
    if (hooks.AfterRead) hooks.AfterRead(*rule);
    const DbSettings old = rule->DbSettings;
    rule->DbSettings = target;
    const std::u16string& name = rule->JobName;
    if (old.Type == target.Type && old.Port == target.Port && old.SqlHost == target.SqlHost) {
      status(Format(u"%s转换已完成", name));
      continue;
    }

    ContentDatabase to(target, rule->JobId);
    if (!to.Open(true, LabelNames(*rule))) {
      status(Format(u"创建%s的数据库失败", name));
      return false;
    }
    SaveJobRule(*rule);

    ContentDatabase from(old, rule->JobId);
    if (!from.Open(false)) continue;
    if (!from.SelectContent(u"")) {
      status(Format(u"打开%s的旧数据库表失败", name));
      continue;
    }
    if (!to.SelectContent(u"")) {
      status(Format(u"打开%s的新数据库表失败", name));
      continue;
    }
    CopyRows(from, to, u"INSERT INTO %sContent ((*)) VALUES ((#))", u"转移%sContent表数据,完成数:%d/%d",
             name, hooks);
    from.CloseQuery();
    to.CloseQuery();

    if (!from.SelectDownloads(u"")) {
      status(Format(u"打开%s的旧数据库表失败", name));
      continue;
    }
    if (!to.SelectDownloads(u"")) {
      status(Format(u"打开%s的新数据库表失败", name));
      continue;
    }
    // Table name as created, so that servers telling upper and lower case apart find it.
    CopyRows(from, to, u"INSERT INTO %sDownloadFile ((*)) VALUES ((#))",
             u"转移DownloadFile表数据,完成数:%d/%d", u"", hooks);
    from.CloseQuery();
    from.DropTables();
    status(Format(u"%s转换已完成", name));
    from.Close();
    to.Close();
  }
  status(u"升级数据库成功！");
  settings.SetDatabase(target);
  SaveSettings(settings);
  return true;
}

}  // namespace rz
