#include "rewrite/Plugins.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/DiagLog.h"
#include "foundation/Text.h"
#include "net/Http.h"
#include "xml/XmlFile.h"

extern char** environ;

namespace rz {

using pcutil::Format;
using pcutil::ReplaceAll;

namespace {

std::mutex g_limitsLock;
PhpLimits g_limits;

// A file descriptor closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd Read, Write;
  bool Open() {
    int fds[2];
    // Close-on-exec, so that a child started by another thread at the same moment does not
    // inherit our ends (an inherited write end would keep the interpreter's input open).
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    Read.Reset(fds[0]);
    Write.Reset(fds[1]);
    return true;
  }
};

// A started child process; a child still running when this ends is killed and reaped.
class Child {
 public:
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  void Set(pid_t pid) { pid_ = pid; }
  // The exit status (-1 when killed by a signal or not started).
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
  }

 private:
  pid_t pid_ = -1;
};

// Blocks SIGPIPE for this thread while writing to the child, and swallows one raised meanwhile.
class NoSigPipe {
 public:
  NoSigPipe() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
  }
  ~NoSigPipe() {
    timespec zero{0, 0};
    while (sigtimedwait(&set_, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t set_, old_;
};

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The wrapper around the plug-in's main(): whatever the script prints is dropped, its
// return value is the result.
constexpr char kRunner[] =
    "\n$__rz_result = null;\nob_start();\ntry { $__rz_result = main(); } finally { ob_end_clean(); }\n"
    "if (is_array($__rz_result) || is_object($__rz_result)) $__rz_result = print_r($__rz_result, true);\n"
    "echo (string)$__rz_result;\n";

}  // namespace

PhpLimits GetPhpLimits() {
  std::lock_guard<std::mutex> hold(g_limitsLock);
  return g_limits;
}

void SetPhpLimits(const PhpLimits& limits) {
  std::lock_guard<std::mutex> hold(g_limitsLock);
  g_limits = limits;
}

std::string FindPhpInterpreter() {
  if (const char* own = std::getenv("RIZEDE_PHP"); own && *own)
    return IsExecutable(own) ? std::string(own) : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/php";
      if (IsExecutable(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

bool EvaluatePhp(const std::u16string& wrappedScript, std::u16string& result, std::u16string* error) {
  auto fail = [&](const std::u16string& why) {
    if (error) *error = why;
    return false;
  };
  const std::string php = FindPhpInterpreter();
  if (php.empty()) return fail(u"找不到 php 程序（php-cli 未安装）");
  const PhpLimits limits = GetPhpLimits();

  Pipe in, out, err;
  if (!in.Open() || !out.Open() || !err.Open()) return fail(u"cannot create pipes");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.Read.Get(), 0);
  posix_spawn_file_actions_adddup2(&actions, out.Write.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, err.Write.Get(), 2);
  // The time limit is ours (wall clock): php's own counts only processor time.
  const char* argv[] = {php.c_str(), "-d", "display_errors=stderr", "-d", "log_errors=0",
                        "-d", "max_execution_time=0", nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, php.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return fail(u"cannot start php: " + pcutil::Utf8ToUtf16(std::strerror(rc)));
  Child child;
  child.Set(pid);
  in.Read.Reset();
  out.Write.Reset();
  err.Write.Reset();

  const std::string input = "<?php\n" + pcutil::Utf16ToUtf8(wrappedScript) + kRunner;
  size_t written = 0;
  ::fcntl(in.Write.Get(), F_SETFL, O_NONBLOCK);
  std::string output, errors;
  bool outOpen = true, errOpen = true, tooLong = false, tooMuch = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.TimeoutSeconds);
  {
    NoSigPipe guard;
    while (outOpen || errOpen) {
      pollfd fds[3];
      int n = 0;
      int outAt = -1, errAt = -1, inAt = -1;
      if (outOpen) fds[outAt = n++] = {out.Read.Get(), POLLIN, 0};
      if (errOpen) fds[errAt = n++] = {err.Read.Get(), POLLIN, 0};
      if (in.Write.Get() >= 0) fds[inAt = n++] = {in.Write.Get(), POLLOUT, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) {
        tooLong = true;
        break;
      }
      if (::poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min<long long>(left, 1000))) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      char buffer[65536];
      auto drain = [&](int at, Fd& fd, std::string& into, bool& open) {
        if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) return;
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got > 0)
          into.append(buffer, static_cast<size_t>(got));
        else if (got == 0 || (errno != EINTR && errno != EAGAIN))
          open = false;
      };
      drain(outAt, out.Read, output, outOpen);
      drain(errAt, err.Read, errors, errOpen);
      if (inAt >= 0 && (fds[inAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
        const ssize_t put = ::write(in.Write.Get(), input.data() + written, input.size() - written);
        if (put > 0) written += static_cast<size_t>(put);
        if ((put < 0 && errno != EAGAIN && errno != EINTR) || written >= input.size()) in.Write.Reset();
      }
      if (output.size() > limits.MaxOutputBytes || errors.size() > limits.MaxOutputBytes) {
        tooMuch = true;
        break;
      }
    }
  }
  in.Write.Reset();
  if (tooLong || tooMuch) {
    child.Kill();
    child.Wait();
    return fail(tooLong ? Format(u"php 运行超过 %d 秒，已终止", limits.TimeoutSeconds)
                        : std::u16string(u"php 输出过多，已终止"));
  }
  const int status = child.Wait();
  if (status != 0) {
    std::string first = errors.substr(0, errors.find('\n'));
    return fail(Format(u"php 运行出错（%d）：", status) + pcutil::Utf8ToUtf16(first));
  }
  result = pcutil::Utf8ToUtf16(output);
  if (result.empty() && !output.empty()) result = pcutil::LocalToUtf16(output);
  return true;
}

std::u16string PhpQuote(const std::u16string& value) {
  return pcutil::HtmlEscape(pcutil::SqlEscape(value));
}

std::u16string PhpUnquote(const std::u16string& value) {
  const std::u16string text = pcutil::HtmlUnescape(value);
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size() &&
        (text[i + 1] == u'\\' || text[i + 1] == u'\'' || text[i + 1] == u'"')) {
      out += text[++i];
      continue;
    }
    out += text[i];
  }
  return out;
}

std::u16string PreparePhpScript(const std::u16string& script, const std::u16string& text,
                                const LabelOriginal& rule, const RewriteFields* fields) {
  // The script's own text is edited first and the values are filled in last, in one pass:
  // a value that happens to contain "echo", "<?php" or a placeholder reaches the script as
  // it is.
  std::u16string body = ReplaceAll(ReplaceAll(script, u"?>", u""), u"<?php", u"");
  body = ReplaceAll(std::move(body), u"echo", u"return");
  body = u"function main(){" + body + u"}";
  body = ReplaceAll(std::move(body), u"[澜岳根目录]", ReplaceAll(pcutil::ProgramPath(), u"\\", u"/"));

  std::vector<std::pair<std::u16string, std::u16string>> tokens;
  tokens.emplace_back(u"[DB:$$]", PhpQuote(text));
  const std::u16string* params[3] = {&rule.Param1, &rule.Param2, &rule.Param3};
  const char16_t* names[3] = {u"[自定义参数一]", u"[自定义参数二]", u"[自定义参数三]"};
  std::u16string paramValues[3] = {PhpQuote(rule.Param1), PhpQuote(rule.Param2), PhpQuote(rule.Param3)};
  if (fields) {
    for (const auto& [name, value] : *fields) {
      const std::u16string tag = u"[DB:" + name + u"]";
      tokens.emplace_back(tag, PhpQuote(value));
      for (int i = 0; i < 3; ++i)
        if (*params[i] == tag) paramValues[i] = PhpQuote(value);
    }
  }
  for (int i = 0; i < 3; ++i) tokens.emplace_back(names[i], paramValues[i]);

  std::u16string out;
  out.reserve(body.size());
  for (size_t i = 0; i < body.size();) {
    bool replaced = false;
    if (body[i] == u'[') {
      for (const auto& [token, value] : tokens) {
        if (body.compare(i, token.size(), token) == 0) {
          out += value;
          i += token.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += body[i++];
  }
  return out;
}

bool PhpRule(std::u16string& text, const LabelOriginal& rule, const RewriteFields* fields) {
  const std::u16string name = rule.Id.size() >= 5 ? rule.Id.substr(0, rule.Id.size() - 5) : u"";
  std::u16string script;
  if (pcutil::ReadTextFile(pcutil::ProgramPath(u"Plugin/" + name + u".php"), script,
                           pcutil::TextModeDetect) != 0 ||
      script.empty())
    return true;
  std::u16string result, error;
  if (!EvaluatePhp(PreparePhpScript(script, text, rule, fields), result, &error)) {
    pcutil::WriteDiagnosticLog(Format(u"PHP 插件“%s”运行失败：%s", name, error));
    return false;
  }
  text = PhpUnquote(result);
  return true;
}

bool WebServiceRule(std::u16string& text, const std::u16string& address, const std::u16string& data,
                    const std::u16string& method, const RewriteFields* fields) {
  std::u16string filled = data;
  if (fields)
    for (const auto& [name, value] : *fields) filled = ReplaceAll(std::move(filled), u"[DB:" + name + u"]", value);
  const std::u16string encoded = pcutil::UrlEncode(filled, u"utf-8");
  std::u16string verb = method;
  while (!verb.empty() && (verb.back() == u' ' || verb.back() == u'\t')) verb.pop_back();
  while (!verb.empty() && (verb.front() == u' ' || verb.front() == u'\t')) verb.erase(0, 1);
  for (auto& c : verb)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);

  pcutil::CHttpClientSession http;
  http.UseGlobalUserAgent();
  int ok = 0;
  if (verb == u"post") {
    http.AddRaw(encoded);
    ok = http.Request(address, pcutil::kMethodFormPost, true);
  } else {
    ok = http.Request(Format(u"%s?param=%s", address, encoded), pcutil::kMethodGet, true);
  }
  if (ok != 1) return false;
  text = http.DecodeBody(http.DetectCharset());
  return true;
}

bool SpinnerChiefRule(std::u16string& text, const std::u16string& address) {
  pcutil::CHttpClientSession http;
  http.UseGlobalUserAgent();
  http.AddRaw(pcutil::Utf16ToUtf8(text));
  if (http.Request(address, pcutil::kMethodFormPost, true) != 1) return false;
  text = ReplaceAll(ReplaceAll(http.BodyAsUtf8(), u". ", u"."), u": ", u":");
  return true;
}

}  // namespace rz
