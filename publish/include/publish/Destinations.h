// The publish destinations: web modules (form posts), database modules (statement lists),
// local CSV/TXT/HTML files, and the FTP upload of an item's downloaded files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "collect/WorkData.h"
#include "net/Http.h"
#include "store/JobRule.h"
#include "store/PublishModule.h"

namespace rz {

class CPublishThread;

// ---- web ----

// The cookies one publish attempt carries: the target's cookie text plus every cookie the
// site set during the attempt (login answer, random-value pages, redirects); a cookie the
// site set again replaces the earlier value.
class PublishCookies {
 public:
  void SetBase(const std::u16string& cookieText);
  // Takes the Set-Cookie lines of the last request.
  void Take(const pcutil::Bytes& setCookieLines);
  // The text of the Cookie header ("" when there is none).
  std::u16string Text() const;

 private:
  std::vector<std::pair<std::u16string, std::u16string>> cookies_;  // name, value (in order)
  std::vector<std::u16string> loose_;  // pieces of the base text without a name
};

// The target's Cookies without a leading "cookie:" word (so the header has one prefix).
std::u16string TargetCookieText(const PublishTarget& target);

// PostHost and a path joined with one "/" where neither side has one.
std::u16string JoinPostHost(const std::u16string& postHost, const std::u16string& path);

// One request of web publishing (method 1 GET, 2 POST). The answer is the body decoded with
// the target's charset. Returns whether the request succeeded.
bool SendPublishRequest(const PublishTarget& target, pcutil::CHttpClientSession& client,
                        const std::u16string& path, const std::u16string& body,
                        const std::u16string& refererPath, const std::u16string& cookieText,
                        int method, std::u16string& answer);

// Posts one item with a web module; writes the result code and message into the item.
int PublishToWeb(const PublishModule& module, ToData& item, const PublishTarget& target);

// Fetches the category list of a web target into its ListIds; message says why it failed.
bool FetchCategoryList(PublishTarget& target, std::u16string& message);

inline constexpr char16_t kModuleMissingMessage[] =
    u"您的发布模块已经不存在或者出错,请重新设置发布模块!";

// Test publishing for one web target of a job: a hand-made item (标题, 内容 and the test
// marker) through PublishToTarget. Returns the result code; message is the result message
// (or the module-missing text, code -1).
int TestPublish(const JobRule& job, const PublishTarget& target, const std::u16string& title,
                const std::u16string& content, const DbSettings& contentDb,
                std::u16string& message);

// ---- database ----

// Runs the module's statements for one item in one transaction on the target's connection.
// kPublishDbDone when every statement ran, kPublishDbFailed (rolled back) otherwise.
int PublishToDatabase(CPublishThread& runner, ToData& item, const PublishTarget& target,
                      const PublishModule& module);

// The database settings of a database target (SAMEDB: the job's content database).
DbSettings TargetDbSettings(const PublishTarget& target, const DbSettings& contentDb,
                            const std::u16string& jobId);
// Test connection of the job editor: opens and closes; message is the box text.
bool TestDatabaseConnection(const DbSettings& settings, std::u16string& message);

// ---- local files and FTP ----

// The user's desktop folder (XDG desktop folder, else ~/Desktop), created when missing;
// with a trailing "/".
std::u16string DesktopFolder();
// The content template the job editor offers for a format: "csv" "[DB:标题],[DB:内容]",
// "txt" "[DB:内容]", "html" the text of html_tpl.html in the program folder.
std::u16string DefaultContentTemplate(const std::u16string& format);
// The job's CSV file of local publishing.
std::u16string CsvFilePath(const JobRule& job);
// Expands the date, time, counter and random-name parts of a file-name template.
std::u16string ExpandFileNamePattern(const std::u16string& pattern);

int PublishToLocalFile(CPublishThread& runner, ToData& item, const PublishTarget& target,
                       const JobRule& job);

// Uploads the item's downloaded files by FTP and points its labels at their web addresses.
void UploadItemFiles(CPublishThread& runner, const JobRule& job, ToData& item);

}  // namespace rz
