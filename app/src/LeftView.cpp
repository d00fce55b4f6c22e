#include "app/LeftView.h"

#include <algorithm>
#include <filesystem>
#include <regex>

#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "platform/Theme.h"
#include "storage/ContentDatabase.h"
#include "store/Settings.h"
#include "xml/XmlFile.h"

namespace rz {

using pcutil::Format;
using pcutil::HtmlEscape;
using pcutil::ReplaceAll;

namespace {

const char16_t kTabs1[] =
    u"<td width=\"70\" align=\"center\" class=\"sec2\" height=\"26\">常规采集</td><td width=\"120\" "
    u"align=\"center\" class=\"sec1\"  id=\"type2\"  id=\"type1\" onmouseover=\"this.className='sec3'\" "
    u"onmouseout=\"this.className='sec1'\">关键字采集(站群)</td>";
const char16_t kHead1[] =
    u"<th width=\"100%\" id=\"clearselId\">站点规则</th><th width=\"5\" id=\"clearselId\">网&nbsp;址</th>"
    u"<th width=\"5\" id=\"clearselId\">内&nbsp;容</th><th width=\"5\" id=\"clearselId\">发&nbsp;布</th>";
const char16_t kTabs2[] =
    u"<td width=\"70\" align=\"center\" class=\"sec1\" height=\"26\"  id=\"type1\"  id=\"type1\" "
    u"onmouseover=\"this.className='sec3'\" onmouseout=\"this.className='sec1'\">常规采集</td><td "
    u"width=\"120\" align=\"center\" class=\"sec2\"  id=\"type2\">关键字采集(站群)</td>";
const char16_t kHead2[] =
    u"<th width=\"100%\" id=\"clearselId\">站群规则</th><th width=\"5\" id=\"clearselId\">关&nbsp;键&nbsp;字</th>"
    u"<th width=\"5\" id=\"clearselId\">内&nbsp;容</th><th width=\"5\" id=\"clearselId\">发&nbsp;布</th>";

std::vector<std::u16string> SplitId(const std::u16string& id) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (true) {
    size_t pos = id.find(u'_', start);
    parts.push_back(id.substr(start, pos == std::u16string::npos ? pos : pos - start));
    if (pos == std::u16string::npos) break;
    start = pos + 1;
  }
  return parts;
}

std::u16string ReadTemplate(const std::u16string& file) {
  std::u16string text;
  if (pcutil::ReadTextFile(PageFolder() + file, text, pcutil::TextModeDetect) != 0) return u"";
  return text;
}

const char16_t* Checked(int flag) { return flag ? u"checked" : u""; }

// The tr tags of the document with their attribute text and what follows up to the next tr.
struct RowChunk {
  std::u16string id, selectState, body;
};
std::vector<RowChunk> Rows(const std::u16string& html) {
  static const std::wregex idPattern(LR"(\bid\s*=\s*"([^"]*)\")", std::regex::icase);
  static const std::wregex statePattern(LR"(\bselectstate\s*=\s*"([^"]*)\")", std::regex::icase);
  std::vector<RowChunk> rows;
  size_t pos = 0;
  auto lower = [](std::u16string s) {
    for (auto& c : s)
      if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
    return s;
  };
  const std::u16string low = lower(html);
  while ((pos = low.find(u"<tr", pos)) != std::u16string::npos) {
    size_t end = low.find(u'>', pos);
    if (end == std::u16string::npos) break;
    size_t next = low.find(u"<tr", end);
    std::wstring tag(html.begin() + pos, html.begin() + end + 1);
    RowChunk row;
    std::wsmatch m;
    if (std::regex_search(tag, m, idPattern)) {
      const std::wstring v = m[1].str();
      row.id.assign(v.begin(), v.end());
    }
    if (std::regex_search(tag, m, statePattern)) {
      const std::wstring v = m[1].str();
      row.selectState.assign(v.begin(), v.end());
    }
    row.body = html.substr(end + 1, next == std::u16string::npos ? std::u16string::npos : next - end - 1);
    rows.push_back(std::move(row));
    pos = end;
  }
  return rows;
}

}  // namespace

std::u16string SiteRowId(const SiteEntry& site) {
  return Format(u"%s_%s_%s", u"jobtable", site.SiteId, site.SiteName);
}

std::u16string JobRowId(const SiteEntry& site, const JobEntry& job) {
  return Format(u"%s_%s_%s_%s", u"jobtable", site.SiteId, site.SiteName, job.JobId);
}

std::vector<std::u16string> SelectedRowIds(const std::u16string& documentHtml) {
  std::vector<std::u16string> ids;
  for (const auto& row : Rows(documentHtml))
    if (row.selectState == u"yes" && !row.id.empty()) ids.push_back(row.id);
  return ids;
}

TreeSelection ResolveSelection(const std::vector<std::u16string>& rowIds, const SiteStore& store) {
  TreeSelection s;
  for (const auto& id : rowIds) {
    auto parts = SplitId(id);
    if (parts.size() == 3) {
      s.any = true;
      s.siteRow = true;
      s.siteIds.push_back(parts[1]);
      if (auto site = store.FindSite(parts[1]))
        for (const auto& job : site->Jobs)
          if (std::find(s.jobIds.begin(), s.jobIds.end(), job->JobId) == s.jobIds.end())
            s.jobIds.push_back(job->JobId);
    } else if (parts.size() == 4) {
      s.any = true;
      if (std::find(s.jobIds.begin(), s.jobIds.end(), parts[3]) == s.jobIds.end())
        s.jobIds.push_back(parts[3]);
    }
  }
  return s;
}

bool TreeCommandEnabled(int command, const TreeSelection& s) {
  const size_t jobs = s.jobIds.size();
  const bool one = jobs == 1;
  switch (command) {
    case 10007:
      return true;
    case 9500:
      return s.any && (jobs > 1 || (one && !s.siteRow && (!s.active || s.paused)));
    case 9502:
      return one && !s.siteRow && s.active;
    case 9503:
      return one && !s.siteRow && s.active && !s.paused;
    case 10018:
    case 10011:
      return one && !s.active;
    case 10005:
    case 10004:
    case 10006:
    case 10014:
    case 10010:
    case 10017:
      return one && !s.active && !s.siteRow;
    case 10009:
    case 10019:
      return s.any && !s.siteRow;
    case 10008:
      return s.siteRow;
    case 10003:
      return s.any && !(one && s.active);
    case 9501:
      return one && !s.siteRow;
    default:
      return false;
  }
}

std::u16string BuildTreePage(const SiteStore& store, int viewMode, const std::u16string& page,
                             const std::u16string& siteTemplate, const std::u16string& jobTemplate) {
  std::u16string blocks[2];
  for (const auto& site : store.Sites) {
    std::u16string block = siteTemplate;
    for (const auto& job : site->Jobs) {
      std::u16string row = jobTemplate;
      row = ReplaceAll(row, u"{jobid}", job->JobId);
      row = ReplaceAll(row, u"{jobname}", HtmlEscape(job->JobName) + PlanMarkerHtml(*job));
      row = ReplaceAll(row, u"{Ischeck1}", Checked(job->IsGather));
      row = ReplaceAll(row, u"{Ischeck2}", Checked(job->IsOriginal));
      row = ReplaceAll(row, u"{Ischeck3}", Checked(job->IsPublish));
      block += row;
    }
    const JobEntry* last = site->Jobs.empty() ? nullptr : site->Jobs.back().get();
    block = ReplaceAll(block, u"{siteid}", site->SiteId);
    block = ReplaceAll(block, u"{sitename}", HtmlEscape(site->SiteName));
    block = ReplaceAll(block, u"{Ischeck1}", last ? Checked(last->IsGather) : u"");
    block = ReplaceAll(block, u"{Ischeck2}", last ? Checked(last->IsOriginal) : u"");
    block = ReplaceAll(block, u"{Ischeck3}", last ? Checked(last->IsPublish) : u"");
    if (site->Type == 1 || site->Type == 2) blocks[site->Type - 1] += block;
  }
  const int mode = viewMode == 2 ? 2 : 1;
  std::u16string result = ReplaceAll(page, u"{site.repeat}", blocks[mode - 1]);
  result = ReplaceAll(result, u"{jobs.tab}", mode == 1 ? kTabs1 : kTabs2);
  result = ReplaceAll(result, u"{jobs.head}", mode == 1 ? kHead1 : kHead2);
  return result;
}

// ---------------------------------------------------------------- CLeftView

CLeftView::CLeftView(CPageHost& host, CMainFrame& frame, SiteStore& store, CScheduler& scheduler)
    : CRizedeHtmlCtrl(host), frame_(frame), store_(store), scheduler_(scheduler) {}

void CLeftView::OnInitialUpdate() { Rebuild(); }

void CLeftView::Rebuild() {
  std::u16string html = BuildTreePage(store_, viewMode_, ReadTemplate(u"LeftView.html"),
                                      ReadTemplate(u"LeftView.Site.html"),
                                      ReadTemplate(u"LeftView.Job.html"));
  if (IsDocumentReady()) {
    std::u16string value = GetValue(u"pageScroll");
    if (!value.empty()) scroll_ = std::atoi(pcutil::Utf16ToUtf8(value).c_str());
  }
  std::error_code ec;
  std::filesystem::create_directories(pcutil::ToFsPath(PageFolder() + u"Cache"), ec);
  pcutil::WriteTextFile(PageFolder() + u"Cache/LeftView.html", html, pcutil::TextModeUtf8);
  NavigatePage(u"Cache/LeftView.html");
}

void CLeftView::OnDocumentComplete(const std::u16string&) {
  if (!restored_) {
    restored_ = true;
    RestoreTreeState();
  }
  RunScript(Format(u"SetPageScroll(%d);", scroll_));
  RecomputeSelection();
}

void CLeftView::RestoreTreeState() {
  try {
    RestoreTreeStateRows();
  } catch (const std::exception&) {
    pcutil::WriteDiagnosticLog(u"设置展开状态！");
  }
}

void CLeftView::RestoreTreeStateRows() {
  std::vector<TreeItemState> items = store_.LoadTreeState();
  bool first = true;
  for (const auto& row : Rows(GetDocumentHtml())) {
    // Only site rows fold; their job rows follow them.
    if (row.id.empty() || SplitId(row.id).size() != 3) continue;
    const std::u16string siteId = SplitId(row.id)[1];
    bool toggle;
    if (!items.empty()) {
      auto it = std::find_if(items.begin(), items.end(), [&](const TreeItemState& t) { return t.Id == siteId; });
      toggle = it != items.end() && it->IsOpen == 0;
    } else {
      toggle = !first;  // nothing recorded: only the first site stays open
    }
    first = false;
    if (toggle) RunScript(Format(u"treetable_toggleRow('%s',-1,1);", ScriptLiteral(row.id)));
  }
}

void CLeftView::SaveTreeState() {
  try {
    SaveTreeStateRows();
  } catch (const std::exception&) {
    pcutil::WriteDiagnosticLog(u"设置展开状态！");
  }
}

void CLeftView::SaveTreeStateRows() {
  if (!IsDocumentReady()) return;
  std::vector<TreeItemState> items;
  for (const auto& row : Rows(GetDocumentHtml())) {
    auto parts = SplitId(row.id);
    if (parts.size() != 3) continue;
    TreeItemState item;
    item.Id = parts[1];
    item.IsOpen = row.body.find(u"folder_green.png") != std::u16string::npos ? 1 : 0;
    items.push_back(item);
  }
  if (!items.empty()) store_.SaveTreeState(items);
}

void CLeftView::RecomputeSelection() {
  std::vector<std::u16string> ids;
  try {
    if (IsDocumentReady()) ids = SelectedRowIds(GetDocumentHtml());
  } catch (const std::exception&) {
    pcutil::WriteDiagnosticLog(u"得到选中规则列表出错！");
    ids.clear();
  }
  selection_ = ResolveSelection(ids, store_);
  if (selection_.jobIds.size() == 1) {
    selection_.active = IsJobActive(selection_.jobIds[0]);
    selection_.paused = IsJobPaused(selection_.jobIds[0]);
  }
  frame_.UpdateCommandUi();
}

std::vector<EventEntry> CLeftView::EventTable() {
  auto clear = [this](const CElement&) {
    RunScript(u"ClearSelect();");
    RecomputeSelection();
    return 1;
  };
  auto mode = [this](int m) {
    return [this, m](const CElement&) {
      viewMode_ = m;
      Rebuild();
      return 1;
    };
  };
  auto recompute = [this](const CElement&) {
    RecomputeSelection();
    return 1;
  };
  auto over = [this](const CElement& e) {
    OnMouseOver(e);
    return 1;
  };
  auto out = [this](const CElement&) {
    frame_.SetStatusText(u"");
    return 1;
  };
  return {
      {kEventById, kEvClick, u"ctxMenu", [this](const CElement&) { ShowContextMenu(); return 1; }},
      {kEventByTag, kEvClick, u"li", [this](const CElement& e) { OnMenuItem(e); return 1; }},
      {kEventById, kEvClick, u"clearselId", clear},
      {kEventById, kEvClick, u"type1", mode(1)},
      {kEventById, kEvClick, u"type2", mode(2)},
      {kEventByTag, kEvClick, u"input", [this](const CElement& e) { OnCheckBox(e); return 1; }},
      {kEventByTag, kEvClick, u"td", recompute},
      // The plan marker's text is a font element inside the name cell: a click on it
      // selects the row in the page too.
      {kEventByTag, kEvClick, u"font", recompute},
      {kEventByTag, kEvMouseOver, u"font", over},
      {kEventByTag, kEvMouseOver, u"td", over},
      {kEventByTag, kEvMouseOut, u"font", out},
      {kEventByTag, kEvMouseOut, u"td", out},
      {kEventByTag, kEvClick, u"html", clear},
      {kEventByTag, kEvClick, u"body", clear},
  };
}

std::vector<TreeMenuItem> TreeContextMenu(const TreeSelection& s) {
  // The items of commands that come with the job editor, the import and export dialogs, the
  // data manager and the tools are left out until those exist.
  auto item = [&](int id, const char16_t* text) {
    TreeMenuItem i;
    i.id = id;
    i.text = text;
    i.enabled = TreeCommandEnabled(id, s);
    return i;
  };
  std::vector<TreeMenuItem> items = {
      item(9500, u"采集"), item(9503, u"暂停"), item(9502, u"停止"), {},
      item(10005, u"标记发布状态为未发"), item(10004, u"标记发布状态为已发"),
      item(10006, u"删除已发布内容"), item(10014, u"删除未发布内容"), {},
      item(10010, u"清空采集数据"), item(10017, u"清空网址库"), {},
      item(10007, u"新建站点"), item(10008, u"修改站点名"), item(10003, u"删除规则&站点"),
  };
  return items;
}

void CLeftView::ShowContextMenu() {
  RecomputeSelection();
  Json items = Json::array();
  for (const auto& i : TreeContextMenu(selection_)) {
    if (i.id == 0) items.push_back({{"sep", true}});
    else items.push_back({{"id", i.id}, {"text", pcutil::Utf16ToUtf8(i.text)}, {"enabled", i.enabled}});
  }
  RunScript(u"ShowMenu(" + pcutil::Utf8ToUtf16(items.dump()) + u");");
}

void CLeftView::OnMenuItem(const CElement& e) {
  if (e.id.rfind(u"cmd", 0) != 0) return;
  const int command = std::atoi(pcutil::Utf16ToUtf8(e.id.substr(3)).c_str());
  RecomputeSelection();
  if (!TreeCommandEnabled(command, selection_)) return;  // a disabled item does nothing
  RunScript(u"HideMenu();");
  OnCommand(command);
}

void CLeftView::OnCheckBox(const CElement& e) {
  auto parts = SplitId(e.id);
  const int state = GetChecked(e.id) & 1;
  auto apply = [&](JobEntry& job, const std::u16string& box) {
    if (box == u"ck1") job.IsGather = state;
    else if (box == u"ck2") job.IsOriginal = state;
    else if (box == u"ck3") job.IsPublish = state;
  };
  if (parts.size() == 3) {
    auto site = store_.FindSite(parts[0]);
    if (!site) return;
    for (auto& job : site->Jobs) apply(*job, parts[2]);
  } else if (parts.size() == 4) {
    auto job = store_.FindJob(parts[2]);
    if (!job) return;
    apply(*job, parts[3]);
  } else {
    return;
  }
  store_.SaveIndex();
}

void CLeftView::OnMouseOver(const CElement&) {
  // The page keeps the id of the row under the mouse in "hoverRow".
  auto parts = SplitId(GetValue(u"hoverRow"));
  if (parts.size() == 3) {
    frame_.SetStatusText(u"");
  } else if (parts.size() == 4) {
    auto job = store_.FindJob(parts[3]);
    if (!job) return;
    std::u16string tip = PlanTooltip(*job);
    SetTitle(parts[3] + u"_HandUp", tip);
    frame_.SetStatusText(tip);
  }
}

long CLeftView::OnWindowMessage(int message, long long param) {
  if (message == kMsgSelectJob) {
    const auto* jobId = reinterpret_cast<const std::u16string*>(param);
    if (jobId) SelectJob(*jobId);
    return 1;
  }
  return 0;
}

void CLeftView::SelectJob(const std::u16string& jobId) {
  std::shared_ptr<SiteEntry> site;
  auto job = store_.FindJob(jobId, &site);
  if (!job || !site) return;
  int index = FindRowIndex(u"jobtable", JobRowId(*site, *job));
  RunScript(u"ClearSelect();");
  RunScript(Format(u"SelectOne(%d);", index));
  RecomputeSelection();
}

// ---------------------------------------------------------------- job pages

CLogView* CLeftView::FindJobPage(const std::u16string& jobId) const {
  for (const auto& entry : frame_.Child().Entries())
    if (entry.kind == PageJob && entry.key == jobId)
      return dynamic_cast<CLogView*>(entry.page.get());
  return nullptr;
}

bool CLeftView::IsJobActive(const std::u16string& jobId) const {
  CLogView* page = FindJobPage(jobId);
  return page && page->IsActive();
}

bool CLeftView::IsJobPaused(const std::u16string& jobId) const {
  CLogView* page = FindJobPage(jobId);
  return page && page->IsPaused();
}

int CLeftView::RunningJobCount() const {
  int count = 0;
  for (const auto& entry : frame_.Child().Entries())
    if (entry.kind == PageJob)
      if (auto* page = dynamic_cast<CLogView*>(entry.page.get()); page && page->IsActive()) ++count;
  return count;
}

void CLeftView::OpenJobPage(const std::u16string& jobId) {
  JobRulePtr job = LoadJobRule(store_, jobId);
  if (!job) return;  // dropped without a message
  // Loaded rules carry no database of their own: the job uses the settings' database.
  DbSettings db = GlobalSettings().Database();
  if (db.Type == u"ACCESS") db.SqlDb.clear();  // the job's own file
  job->DbSettings = db;
  CChidFrame& child = frame_.Child();
  if (TabEntry* entry = child.FindPageByKey(jobId, PageJob)) {
    child.ActivatePage(*entry);
    auto* page = dynamic_cast<CLogView*>(entry->page.get());
    if (page && !page->IsActive()) page->RestartRun(job);
    return;
  }
  auto page = std::make_unique<CLogView>(Host(), child, job, [this](const JobRulePtr& j) {
    if (j) SelectJob(j->JobId);
  });
  page->confirmClose = [this] {
    return frame_.MessageBox(u"您是否要关闭正在运行的任务？", u"提示", true) == 1;
  };
  CRizedeHtmlCtrl* raw = page.get();
  child.AddPage(std::move(page), Format(u"[运行中]%s", job->JobName), jobId, PageJob, true, true);
  if (TabEntry* entry = child.FindPageByWindow(raw)) child.ActivatePage(*entry);
}

// ---------------------------------------------------------------- commands

void CLeftView::OnCommand(int command) {
  switch (command) {
    case 9500:
      Start();
      break;
    case 9503:
      if (selection_.jobIds.size() == 1 && IsJobActive(selection_.jobIds[0]))
        if (CLogView* page = FindJobPage(selection_.jobIds[0])) page->PauseRun();
      break;
    case 9502:
      if (selection_.jobIds.size() == 1 && IsJobActive(selection_.jobIds[0]))
        if (CLogView* page = FindJobPage(selection_.jobIds[0])) page->StopRun();
      break;
    case 10007:
      NewSite();
      break;
    case 10008:
      if (TreeCommandEnabled(command, selection_)) RenameSite();
      break;
    case 10003:
      if (TreeCommandEnabled(command, selection_)) DeleteSelected();
      break;
    case 10005: ResetData(2); break;
    case 10004: ResetData(3); break;
    case 10006: ResetData(4); break;
    case 10014: ResetData(5); break;
    case 10010: ResetData(6); break;
    case 10017: ResetData(7); break;
    default:
      break;
  }
  RecomputeSelection();
}

void CLeftView::Start() {
  if (!selection_.any) return;
  if (selection_.jobIds.size() == 1 && IsJobActive(selection_.jobIds[0])) {
    if (CLogView* page = FindJobPage(selection_.jobIds[0])) page->ResumeRun();
    return;
  }
  if (selection_.siteRow &&
      frame_.MessageBox(u"您选择了站点节点，是否同时开始站点下所有任务？", u"提示", true) != 1)
    return;
  scheduler_.QueueJobs(selection_.jobIds);
}

namespace {
// Dialog 131: one text field "siteName" with OK and Cancel.
class CSiteNameDialog : public CRizedeHtmlCtrl {
 public:
  CSiteNameDialog(CPageHost& host, std::u16string& name) : CRizedeHtmlCtrl(host), name_(name) {}
  void OnInitialUpdate() override { NavigatePage(u"SiteName.html"); }
  void OnDocumentComplete(const std::u16string&) override {
    SetValue(u"siteName", name_);
    RunScript(u"document.getElementById('siteName').focus();");
  }
  std::vector<EventEntry> EventTable() override {
    return {{kEventById, kEvClick, u"btnOk",
             [this](const CElement&) {
               name_ = GetValue(u"siteName");
               Host().EndDialog(PageId(), 1);
               return 1;
             }},
            {kEventById, kEvClick, u"btnCancel", [this](const CElement&) {
               Host().EndDialog(PageId(), 2);
               return 1;
             }}};
  }
  long OnWindowMessage(int message, long long) override {
    if (message == kMsgCloseRequest) Host().EndDialog(PageId(), 2);
    return 0;
  }

 private:
  std::u16string& name_;
};
}  // namespace

bool CLeftView::SiteNameDialog(std::u16string& name) {
  if (askSiteName) return askSiteName(name);
  CSiteNameDialog dialog(Host(), name);
  return Host().RunModal(dialog, {{"title", "站点名"}, {"width", 320}, {"height", 150}}) == 1;
}

void CLeftView::NewSite() {
  std::u16string name;
  while (true) {
    if (!SiteNameDialog(name)) return;
    if (name.empty()) {
      frame_.MessageBox(u"站点名不能为空，请重新填写！");
      continue;
    }
    bool exists = std::any_of(store_.Sites.begin(), store_.Sites.end(),
                              [&](const auto& s) { return s->SiteName == name; });
    if (exists) {
      frame_.MessageBox(u"已经存在重复的站点名，请重新填写！");
      continue;
    }
    break;
  }
  auto site = store_.AddSite(store_.NewId(), name);
  site->Type = viewMode_;
  store_.SaveIndex();
  Rebuild();
}

void CLeftView::RenameSite() {
  if (selection_.siteIds.empty()) return;
  auto site = store_.FindSite(selection_.siteIds[0]);
  if (!site) return;
  std::u16string name = site->SiteName;
  while (true) {
    if (!SiteNameDialog(name)) return;
    if (name.empty()) {
      frame_.MessageBox(u"站点名不能为空，请重新填写！");
      continue;
    }
    bool exists = std::any_of(store_.Sites.begin(), store_.Sites.end(), [&](const auto& s) {
      return s != site && s->SiteName == name;
    });
    if (exists) {
      frame_.MessageBox(u"已经存在重复的站点名，请重新填写！");
      continue;
    }
    break;
  }
  site->SiteName = name;
  store_.SaveIndex();
  Rebuild();
}

void CLeftView::DeleteSelected() {
  std::vector<std::u16string> rows;
  if (IsDocumentReady()) rows = SelectedRowIds(GetDocumentHtml());
  if (selection_.siteRow && !selection_.jobIds.empty()) {
    if (rows.size() <= 1) frame_.MessageBox(u"请先删除站点下的规则再删除站点");
    else frame_.MessageBox(u"禁止同时删除站点和规则");
    return;
  }
  if (frame_.MessageBox(u"您真的要删除所选择的吗？", u"提示", true) != 1) return;
  for (const auto& jobId : selection_.jobIds) {
    std::shared_ptr<SiteEntry> site;
    if (!store_.FindJob(jobId, &site) || !site) continue;
    site->RemoveJob(jobId);
    store_.RemoveRule(jobId);
    std::error_code ec;
    std::filesystem::remove(pcutil::ToFsPath(JobFilePath(jobId)), ec);
  }
  for (const auto& siteId : selection_.siteIds)
    if (auto site = store_.FindSite(siteId); site && site->Jobs.empty()) store_.RemoveSite(siteId);
  store_.SaveIndex();
  Rebuild();
}

void CLeftView::ResetData(int operation) {
  if (selection_.jobIds.size() != 1 || selection_.active || selection_.siteRow) return;
  const std::u16string& jobId = selection_.jobIds[0];
  JobRulePtr job = store_.FindRule(jobId);
  if (!job) job = LoadJobRule(store_, jobId);
  if (!job) return;
  DbSettings db = GlobalSettings().Database();
  if (db.Type == u"ACCESS") db.SqlDb.clear();
  {
    ContentDatabase content(db, jobId);
    if (content.Open(false)) content.ResetData(operation);
    else pcutil::WriteDiagnosticLog(content.LastError);
  }
  frame_.MessageBox(ContentDatabase::ResetDataText(operation));
}

bool CLeftView::StoreJob(const JobRulePtr& job) {
  if (!job || job->JobId.empty()) return false;
  if (!SaveJobRule(*job)) return false;
  store_.PutRule(job);
  std::u16string siteId = job->SiteId.empty() ? std::u16string(kDefaultSiteId) : job->SiteId;
  std::u16string siteName = job->SiteName.empty() ? std::u16string(kDefaultSiteName) : job->SiteName;
  auto site = store_.FindSite(siteId);
  if (!site) {
    site = store_.AddSite(siteId, siteName);
    site->Type = job->Type;
  }
  auto entry = site->AddJob(job->JobId);
  entry->JobName = job->JobName;
  entry->IsGather = job->IsGather;
  entry->IsOriginal = job->IsOriginal;
  entry->IsPublish = job->IsPublish;
  store_.SaveIndex();
  Rebuild();
  return true;
}

}  // namespace rz
