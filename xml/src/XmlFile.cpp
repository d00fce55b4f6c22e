#include "xml/XmlFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "foundation/Text.h"

namespace pcutil {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// UTF-16 to UTF-8 with unpaired surrogates written as U+FFFD, so the file stays valid UTF-8.
Bytes EncodeUtf8(const std::u16string& text) {
  std::u16string clean = text;
  for (size_t i = 0; i < clean.size(); ++i) {
    char16_t c = clean[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 &&
        clean[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      clean[i] = u'\uFFFD';
    }
  }
  return Utf16ToUtf8(clean);
}

bool EncodeForMode(const std::u16string& text, int mode, Bytes& bytes) {
  if (mode == TextModeUtf8) {
    bytes = EncodeUtf8(text);
    // The mark goes in front of every text that, with its terminating zero, is over 3 bytes.
    if (bytes.size() + 1 > 3) bytes.insert(0, "\xEF\xBB\xBF");
    return true;
  }
  if (mode == TextModeAnsi) {
    bytes = Utf16ToLocal(text);
    return true;
  }
  return false;
}

std::u16string DecodeUtf16Le(const Bytes& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2 + 1);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned lo = static_cast<unsigned char>(bytes[i]);
    unsigned hi = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    char16_t c = static_cast<char16_t>(lo | (hi << 8));
    if (c == 0) break;
    out += c;
  }
  if (!out.empty() && out[0] == u'\uFEFF') out.erase(0, 1);
  return out;
}

Bytes UpToZero(const Bytes& bytes) {
  size_t zero = bytes.find('\0');
  return zero == Bytes::npos ? bytes : bytes.substr(0, zero);
}

// Standard Base64; every character outside the alphabet ("=" and line breaks too) is skipped.
Bytes DecodeBase64Lenient(std::u16string_view text) {
  Bytes out;
  out.reserve(text.size() * 3 / 4);
  uint32_t bits = 0;
  int count = 0;
  for (char16_t c : text) {
    int v;
    if (c >= u'A' && c <= u'Z') v = c - u'A';
    else if (c >= u'a' && c <= u'z') v = c - u'a' + 26;
    else if (c >= u'0' && c <= u'9') v = c - u'0' + 52;
    else if (c == u'+') v = 62;
    else if (c == u'/') v = 63;
    else continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

}  // namespace

int ReadTextFile(const std::u16string& path, std::u16string& text, int mode) {
  text.clear();
  if (mode < TextModeDetect || mode > TextModeAnsi) return 1;
  FileDescriptor fd(::open(ToFsPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return -errno;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return -errno;
  if (S_ISDIR(st.st_mode)) return -EISDIR;
  Bytes bytes(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) return kTextFileEndOfFile;
    done += static_cast<size_t>(n);
  }
  if (bytes.empty()) return 0;

  if (mode == TextModeDetect) {
    unsigned char first = static_cast<unsigned char>(bytes[0]);
    mode = first == 0xEF ? TextModeUtf8 : (first == 0xFE || first == 0xFF) ? TextModeUtf16
                                                                            : TextModeAnsi;
  }
  if (mode == TextModeUtf16) {
    text = DecodeUtf16Le(bytes);
    return 0;
  }
  Bytes narrow = UpToZero(bytes);
  if (mode == TextModeUtf8) {
    size_t skip = narrow.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    text = Utf8ToUtf16Lenient(std::string_view(narrow).substr(skip));
  } else {
    text = LocalToUtf16(narrow);
  }
  return 0;
}

bool WriteTextFile(const std::u16string& path, const std::u16string& text, int mode) {
  Bytes bytes;
  if (!EncodeForMode(text, mode, bytes)) return false;
  FileDescriptor fd(::open(ToFsPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return false;
  if (!WriteAll(fd.Get(), bytes)) return false;
  return fd.Close();
}

std::u16string LoadXmlFile(const std::u16string& path, const std::u16string& extension) {
  try {
    std::u16string full = path;
    if (path.find(extension) == std::u16string::npos) full += extension;
    std::u16string text;
    if (ReadTextFile(full, text, TextModeUtf8) != 0) return {};
    if (!text.empty() && text[0] == u'\u0001') {
      Bytes bytes = DecodeBase64Lenient(std::u16string_view(text).substr(1));
      size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
      text = Utf8ToUtf16Lenient(std::string_view(bytes).substr(skip));
    }
    return text;
  } catch (...) {
    return {};
  }
}

bool SaveXmlFile(const std::u16string& path, const std::u16string& text) {
  Bytes bytes;
  if (!EncodeForMode(text, TextModeUtf8, bytes)) return false;
  const std::string target = ToFsPath(path);
  std::string temp = target + ".tmp-XXXXXX";
  FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.Get() < 0) return false;
  struct stat st {};
  mode_t perms = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd.Get(), perms) == 0 && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace pcutil
