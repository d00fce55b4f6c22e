// The left column: the sites and their jobs as a table with expandable site rows, three
// check boxes per row and the planned-job marker. Turns the selection into job ids for the
// commands, creates, renames, deletes sites and jobs, and runs the bulk data operations.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LogView.h"
#include "app/MainFrame.h"
#include "app/Scheduler.h"
#include "platform/HtmlCtrl.h"
#include "store/Sites.h"

namespace rz {

// What the selection resolves to (recomputed after every click and selection change).
struct TreeSelection {
  bool any = false;
  bool siteRow = false;
  std::vector<std::u16string> siteIds;  // selected site rows
  std::vector<std::u16string> jobIds;   // a site row stands for all of its jobs
  bool active = false;                  // with exactly one job: it is active
  bool paused = false;                  // ... and paused
};

// Row ids: "jobtable_<site>_<name>" and "jobtable_<site>_<name>_<job>".
std::u16string SiteRowId(const SiteEntry& site);
std::u16string JobRowId(const SiteEntry& site, const JobEntry& job);
// The ids of the rows of "jobtable" whose "selectState" is "yes", from the page's HTML.
std::vector<std::u16string> SelectedRowIds(const std::u16string& documentHtml);
// Resolves row ids against the store (ids that do not split into three or four parts are
// ignored); active and paused stay false.
TreeSelection ResolveSelection(const std::vector<std::u16string>& rowIds, const SiteStore& store);
// Whether a tree command or context menu item is enabled for the selection.
bool TreeCommandEnabled(int command, const TreeSelection& selection);

// One context menu item; id 0 is a separator.
struct TreeMenuItem {
  int id = 0;
  std::u16string text;
  bool enabled = false;
};
std::vector<TreeMenuItem> TreeContextMenu(const TreeSelection& selection);

// The page as built from the three templates for a view mode (1 regular, 2 keyword).
std::u16string BuildTreePage(const SiteStore& store, int viewMode, const std::u16string& page,
                             const std::u16string& siteTemplate, const std::u16string& jobTemplate);

class CLeftView : public CRizedeHtmlCtrl {
 public:
  CLeftView(CPageHost& host, CMainFrame& frame, SiteStore& store, CScheduler& scheduler);

  void OnInitialUpdate() override;
  void OnDocumentComplete(const std::u16string& url) override;
  std::vector<EventEntry> EventTable() override;
  long OnWindowMessage(int message, long long param) override;

  void OnCommand(int command);
  bool IsCommandEnabled(int command) const { return TreeCommandEnabled(command, selection_); }
  const TreeSelection& Selection() const { return selection_; }
  void RecomputeSelection();

  // Saves the job's rule file, enters it in its site (made when missing), saves the index
  // and shows the row.
  bool StoreJob(const JobRulePtr& job);
  // Selects the job's row (notification 1491).
  void SelectJob(const std::u16string& jobId);
  // Saves the rows' expanded state (at exit).
  void SaveTreeState();
  void Rebuild();

  // Frame operations on the job run pages.
  CLogView* FindJobPage(const std::u16string& jobId) const;
  bool IsJobActive(const std::u16string& jobId) const;
  bool IsJobPaused(const std::u16string& jobId) const;
  int RunningJobCount() const;
  // Opens (or reuses) the job run page of a queued job.
  void OpenJobPage(const std::u16string& jobId);

  // The site name dialog (131); false on Cancel. Replaceable for tests.
  std::function<bool(std::u16string& name)> askSiteName;
  int ViewMode() const { return viewMode_; }

 private:
  void NewSite();
  void RenameSite();
  void DeleteSelected();
  void ResetData(int operation);
  void Start();
  void OnCheckBox(const CElement& element);
  void ShowContextMenu();
  void OnMenuItem(const CElement& element);
  void OnMouseOver(const CElement& element);
  void RestoreTreeState();
  void RestoreTreeStateRows();
  void SaveTreeStateRows();
  bool SiteNameDialog(std::u16string& name);

  CMainFrame& frame_;
  SiteStore& store_;
  CScheduler& scheduler_;
  TreeSelection selection_;
  int viewMode_ = 1;
  int scroll_ = 0;
  bool restored_ = false;
};

}  // namespace rz
