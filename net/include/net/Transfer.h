// Saving one remote file to disk, and FTP upload/download with a readable transfer log.
#pragma once

#include <string>

namespace pcutil {

// Saves the address to the local path (an existing file there is deleted first) with the
// built-in user agent. 1 on success, -1 on failure; a status above 200 leaves an empty file.
int DownloadToFile(const std::u16string& address, const std::u16string& localPath);

// The job's optional FTP settings, as stored. Empty port = 21; empty UsePassive = active mode.
struct FtpOptions {
  std::u16string Port;
  std::u16string UsePassive;  // "1", "true", "yes", "on" (any case) = passive
};

// Connects, changes to the remote folder (creating missing levels), then uploads the local
// file under the remote name or downloads the remote name to the local path (never over an
// existing file). Each event is appended to `log` (when given) followed by "\r\n\r\n".
// 1 on success, 0 on failure.
int FtpTransfer(const std::u16string& server, const std::u16string& userName,
                const std::u16string& password, const std::u16string& remoteFolder,
                const std::u16string& remoteName, const std::u16string& localPath, bool upload,
                std::u16string* log = nullptr, const FtpOptions& options = {});

// The job editor's FTP test: uploads "DB/TestFtp.txt" of the program folder (created with
// "测试FTP上传!" when missing) as "TestFtp.txt" into the folder. Returns the transfer's result;
// the log gets its lines.
int TestFtp(const std::u16string& server, const std::u16string& userName,
            const std::u16string& password, const std::u16string& folder, std::u16string& log,
            const FtpOptions& options = {});

}  // namespace pcutil
