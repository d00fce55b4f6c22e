// The site store: sites with their jobs (names, stage switches, schedules), the loaded
// job rules, the job index file Data/Job/JobIndex.xml and the tree state User/TreeStatus.xml.
// Changed only on the user-interface thread; runners hold their own JobRulePtr.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/JobRule.h"

namespace rz {

// A job's schedule.
struct PlanJob {
  int IsClose = 1;  // 1: the schedule is off
  int Type = 0;
  std::u16string IntervalCount;
  int64_t LastTime = 0;
  int64_t NextTime = 0;

  bool operator==(const PlanJob&) const = default;
};

struct JobEntry {
  std::u16string JobId;
  std::u16string JobName;
  int IsGather = 1;
  int IsOriginal = 1;
  int IsPublish = 1;
  std::shared_ptr<rz::PlanJob> PlanJob = std::make_shared<rz::PlanJob>();
};

struct SiteEntry {
  int Type = 1;  // 1 regular collection, 2 keyword collection
  std::u16string SiteId;
  std::u16string SiteName;
  std::vector<std::shared_ptr<JobEntry>> Jobs;  // in insertion order

  std::shared_ptr<JobEntry> FindJob(const std::u16string& jobId) const;
  // Adds a job entry, or returns the existing one with that id.
  std::shared_ptr<JobEntry> AddJob(const std::u16string& jobId);
  bool RemoveJob(const std::u16string& jobId);
};

// One row of the tree state file.
struct TreeItemState {
  std::u16string Id;
  int IsOpen = 0;
  int IsSelect = 0;

  bool operator==(const TreeItemState&) const = default;
};

// The default site.
inline constexpr char16_t kDefaultSiteId[] = u"0";
inline constexpr char16_t kDefaultSiteName[] = u"默认网站";
// The job that new jobs are made from.
inline constexpr char16_t kTemplateJobId[] = u"澜岳默认模板";
// Name reserved for rules and modules taken over from another collector.
inline constexpr char16_t kForeignTemplateName[] = u"火车头模板";

class SiteStore {
 public:
  struct SiteRules {
    std::u16string SiteId;
    std::vector<std::pair<std::u16string, JobRulePtr>> Jobs;  // job id -> loaded rule
  };

  std::vector<std::shared_ptr<SiteEntry>> Sites;  // index order, then creation order
  std::vector<SiteRules> JobRules;

  // "%d-%02d-%02d-%02d-%02d-%02d-%d": local date and time, then a counter from 100.
  std::u16string NewId();

  std::shared_ptr<SiteEntry> FindSite(const std::u16string& siteId) const;
  // Adds a site, or returns the existing one with that id (its name is left alone).
  std::shared_ptr<SiteEntry> AddSite(const std::u16string& siteId, const std::u16string& siteName);
  bool RemoveSite(const std::u16string& siteId);
  // Walks every site; site receives the owner when given.
  std::shared_ptr<JobEntry> FindJob(const std::u16string& jobId,
                                    std::shared_ptr<SiteEntry>* site = nullptr) const;

  // The loaded rule of a job, looked up across all sites; null when not loaded.
  JobRulePtr FindRule(const std::u16string& jobId) const;
  // Enters a rule under its SiteId and JobId (an already loaded rule of that job is replaced).
  void PutRule(const JobRulePtr& rule);
  void RemoveRule(const std::u16string& jobId);

  // Reads the index; a missing, empty or unreadable index is rebuilt from the job files.
  bool LoadIndex();
  // Lists the job files, fills missing ids and names (saving those files), and writes a new index.
  bool RebuildIndex();
  bool SaveIndex() const;
  // Loads the rule of every indexed job; returns how many were loaded.
  int LoadAllRules();

  // Rows of the tree state file whose ids name a known site or job.
  std::vector<TreeItemState> LoadTreeState() const;
  bool SaveTreeState(const std::vector<TreeItemState>& items) const;

  // Index XML as SaveIndex writes it; ParseIndex fills Sites from it (false when unreadable).
  std::u16string IndexXml() const;
  bool ParseIndex(const std::u16string& xml);

 private:
  int idCounter_ = 100;
};

std::u16string IndexFilePath();
std::u16string TreeStatePath();

}  // namespace rz
