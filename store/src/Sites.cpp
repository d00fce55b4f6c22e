#include "store/Sites.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "XmlFields.h"
#include "foundation/Text.h"
#include "xml/XmlFile.h"

namespace fs = std::filesystem;

namespace rz {

using namespace detail;
using pcutil::CXmlNode;
using pcutil::CXmlTextWriter;

std::u16string IndexFilePath() { return pcutil::ProgramPath(u"Data/Job/JobIndex.xml"); }
std::u16string TreeStatePath() { return pcutil::ProgramPath(u"User/TreeStatus.xml"); }

// ---- entries ----

std::shared_ptr<JobEntry> SiteEntry::FindJob(const std::u16string& jobId) const {
  for (const auto& job : Jobs)
    if (job->JobId == jobId) return job;
  return nullptr;
}

std::shared_ptr<JobEntry> SiteEntry::AddJob(const std::u16string& jobId) {
  if (auto existing = FindJob(jobId)) return existing;
  auto job = std::make_shared<JobEntry>();
  job->JobId = jobId;
  Jobs.push_back(job);
  return job;
}

bool SiteEntry::RemoveJob(const std::u16string& jobId) {
  auto it = std::find_if(Jobs.begin(), Jobs.end(), [&](const auto& j) { return j->JobId == jobId; });
  if (it == Jobs.end()) return false;
  Jobs.erase(it);
  return true;
}

std::u16string SiteStore::NewId() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  int parts[6] = {-1, -1, -1, -1, -1, -1};
  if (now != static_cast<std::time_t>(-1) && localtime_r(&now, &tm)) {
    parts[0] = tm.tm_year + 1900;
    parts[1] = tm.tm_mon + 1;
    parts[2] = tm.tm_mday;
    parts[3] = tm.tm_hour;
    parts[4] = tm.tm_min;
    parts[5] = tm.tm_sec;
  }
  return pcutil::Format(u"%d-%02d-%02d-%02d-%02d-%02d-%d", parts[0], parts[1], parts[2], parts[3],
                        parts[4], parts[5], idCounter_++);
}

std::shared_ptr<SiteEntry> SiteStore::FindSite(const std::u16string& siteId) const {
  for (const auto& site : Sites)
    if (site->SiteId == siteId) return site;
  return nullptr;
}

std::shared_ptr<SiteEntry> SiteStore::AddSite(const std::u16string& siteId,
                                              const std::u16string& siteName) {
  if (auto existing = FindSite(siteId)) return existing;
  auto site = std::make_shared<SiteEntry>();
  site->SiteId = siteId;
  site->SiteName = siteName;
  Sites.push_back(site);
  return site;
}

bool SiteStore::RemoveSite(const std::u16string& siteId) {
  auto it = std::find_if(Sites.begin(), Sites.end(), [&](const auto& s) { return s->SiteId == siteId; });
  if (it == Sites.end()) return false;
  Sites.erase(it);
  return true;
}

std::shared_ptr<JobEntry> SiteStore::FindJob(const std::u16string& jobId,
                                             std::shared_ptr<SiteEntry>* owner) const {
  for (const auto& site : Sites)
    if (auto job = site->FindJob(jobId)) {
      if (owner) *owner = site;
      return job;
    }
  return nullptr;
}

// ---- loaded rules ----

JobRulePtr SiteStore::FindRule(const std::u16string& jobId) const {
  for (const auto& site : JobRules)
    for (const auto& [id, rule] : site.Jobs)
      if (id == jobId) return rule;
  return nullptr;
}

void SiteStore::PutRule(const JobRulePtr& rule) {
  if (!rule) return;
  // A job lives under one site only: drop it from any other site first.
  for (auto& site : JobRules)
    if (site.SiteId != rule->SiteId)
      std::erase_if(site.Jobs, [&](const auto& entry) { return entry.first == rule->JobId; });
  auto site = std::find_if(JobRules.begin(), JobRules.end(),
                           [&](const SiteRules& s) { return s.SiteId == rule->SiteId; });
  if (site == JobRules.end()) {
    JobRules.push_back(SiteRules{rule->SiteId, {}});
    site = JobRules.end() - 1;
  }
  for (auto& entry : site->Jobs)
    if (entry.first == rule->JobId) {
      entry.second = rule;
      return;
    }
  site->Jobs.emplace_back(rule->JobId, rule);
}

void SiteStore::RemoveRule(const std::u16string& jobId) {
  for (auto& site : JobRules)
    std::erase_if(site.Jobs, [&](const auto& entry) { return entry.first == jobId; });
}

// ---- index file ----

std::u16string SiteStore::IndexXml() const {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  for (const auto& site : Sites) {
    w.OpenElement(u"Site");
    CData(w, u"Type", site->Type);
    CData(w, u"SiteName", site->SiteName);
    CData(w, u"SiteId", site->SiteId);
    for (const auto& job : site->Jobs) {
      w.OpenElement(u"Job");
      CData(w, u"JobId", job->JobId);
      CData(w, u"JobName", job->JobName);
      CData(w, u"IsGather", job->IsGather);
      CData(w, u"IsOriginal", job->IsOriginal);
      CData(w, u"IsPublish", job->IsPublish);
      const rz::PlanJob plan = job->PlanJob ? *job->PlanJob : rz::PlanJob{};
      w.OpenElement(u"PlanJob");
      // Times are whole seconds; they are written in full so that they survive 2038.
      CData(w, u"LastTime", plan.LastTime);
      CData(w, u"NextTime", plan.NextTime);
      CData(w, u"IsClose", plan.IsClose);
      CData(w, u"Type", plan.Type);
      CData(w, u"IntervalCount", plan.IntervalCount);
      w.CloseElement();
      w.CloseElement();
    }
    w.CloseElement();
  }
  w.CloseElement();
  return out;
}

bool SiteStore::ParseIndex(const std::u16string& xml) {
  CfgFile file;
  if (!ParseCfg(xml, file)) return false;
  SiteStore parsed;
  for (const CXmlNode* s = FindElement(file.Root, u"Site"); s; s = NextElement(s, u"Site")) {
    int type = 1;
    std::u16string id, name;
    Read(s, u"Type", type);
    Read(s, u"SiteName", name);
    Read(s, u"SiteId", id);
    bool isNew = !parsed.FindSite(id);
    auto site = parsed.AddSite(id, name);
    if (isNew) site->Type = type;
    for (const CXmlNode* j = FindElement(s, u"Job"); j; j = NextElement(j, u"Job")) {
      std::u16string jobId;
      Read(j, u"JobId", jobId);
      auto job = site->AddJob(jobId);
      Read(j, u"JobName", job->JobName);
      Read(j, u"IsGather", job->IsGather);
      Read(j, u"IsOriginal", job->IsOriginal);
      Read(j, u"IsPublish", job->IsPublish);
      if (const CXmlNode* p = FindElement(j, u"PlanJob")) {
        long long last = 0, next = 0;
        Read(p, u"LastTime", last);
        Read(p, u"NextTime", next);
        job->PlanJob->LastTime = last;
        job->PlanJob->NextTime = next;
        Read(p, u"IsClose", job->PlanJob->IsClose);
        Read(p, u"Type", job->PlanJob->Type);
        Read(p, u"IntervalCount", job->PlanJob->IntervalCount);
      }
    }
  }
  Sites = std::move(parsed.Sites);
  return true;
}

bool SiteStore::SaveIndex() const { return SaveCfg(IndexFilePath(), IndexXml()); }

bool SiteStore::LoadIndex() {
  const std::u16string path = IndexFilePath();
  const std::u16string text = pcutil::LoadXmlFile(path, u".xml");
  if (text.empty()) return RebuildIndex();
  if (ParseIndex(text)) return true;
  // Unreadable: keep a copy of what was there (site names and schedules cannot be
  // recovered from the job files), then rebuild.
  std::error_code ec;
  fs::copy_file(pcutil::ToFsPath(path), pcutil::ToFsPath(path + u".bak"),
                fs::copy_options::overwrite_existing, ec);
  return RebuildIndex();
}

bool SiteStore::RebuildIndex() {
  std::vector<std::u16string> titles;
  std::error_code ec;
  for (fs::directory_iterator it(pcutil::ToFsPath(pcutil::ProgramPath(u"Data/Job")), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc) || it->path().extension() != ".xml") continue;
    std::u16string title = pcutil::Utf8ToUtf16(it->path().stem().string());
    if (title.empty() || title == u"JobIndex" || title == kForeignTemplateName) continue;
    titles.push_back(title);
  }
  std::sort(titles.begin(), titles.end());

  Sites.clear();
  for (const auto& title : titles) {
    JobRulePtr rule = ReadJobRuleFile(JobFilePath(title));
    if (!rule) continue;  // unreadable job files are skipped and left as they are
    bool filled = false;
    auto fill = [&](std::u16string& value, const std::u16string& with, bool when) {
      if (when) {
        value = with;
        filled = true;
      }
    };
    // The file name is the job id; a file copied by hand may still carry another one.
    fill(rule->JobId, title, rule->JobId != title);
    fill(rule->JobName, title, rule->JobName.empty());
    fill(rule->SiteId, kDefaultSiteId, rule->SiteId.empty());
    fill(rule->SiteName, kDefaultSiteName, rule->SiteName.empty());
    if (filled) SaveJobRule(*rule);
    PutRule(rule);
    auto site = AddSite(rule->SiteId, rule->SiteName);
    auto job = site->AddJob(rule->JobId);
    job->JobName = rule->JobName;
    job->IsGather = rule->IsGather;
    job->IsOriginal = rule->IsOriginal;
    job->IsPublish = rule->IsPublish;
  }
  return SaveIndex();
}

int SiteStore::LoadAllRules() {
  int loaded = 0;
  // Copy the ids first: loading may not change Sites, but keep the walk independent.
  std::vector<std::u16string> ids;
  for (const auto& site : Sites)
    for (const auto& job : site->Jobs) ids.push_back(job->JobId);
  for (const auto& id : ids)
    if (LoadJobRule(*this, id)) ++loaded;
  return loaded;
}

// ---- tree state ----

std::vector<TreeItemState> SiteStore::LoadTreeState() const {
  std::vector<TreeItemState> items;
  CfgFile file;
  if (!LoadCfg(TreeStatePath(), u".xml", file)) return items;
  ForEachItem(file.Root, [&](const CXmlNode* e) {
    TreeItemState item;
    Read(e, u"Id", item.Id);
    Read(e, u"IsOpen", item.IsOpen);
    Read(e, u"IsSelect", item.IsSelect);
    if (FindSite(item.Id) || FindJob(item.Id)) items.push_back(std::move(item));
  });
  return items;
}

bool SiteStore::SaveTreeState(const std::vector<TreeItemState>& items) const {
  std::u16string out;
  CXmlTextWriter w(out);
  BeginCfg(w);
  for (const auto& item : items) {
    w.OpenElement(u"Item");
    Text(w, u"Id", item.Id);
    Text(w, u"IsOpen", item.IsOpen);
    Text(w, u"IsSelect", item.IsSelect);
    w.CloseElement();
  }
  w.CloseElement();
  return SaveCfg(TreeStatePath(), out);
}

}  // namespace rz
