#include "platform/CrashHandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace rz {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS};
constexpr size_t kMaxPath = 4096;
constexpr int kMaxFrames = 128;

// Set once before any handler can run; read only by the handler.
char g_dumpFile[kMaxPath];
std::atomic<bool> g_crashing{false};

// Everything below runs inside the signal handler: no allocation, no locks, no stdio.
void Put(int fd, const char* text) {
  size_t n = strlen(text);
  while (n > 0) {
    ssize_t w = write(fd, text, n);
    if (w <= 0) return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

void PutNumber(int fd, unsigned long long value, unsigned base) {
  char buffer[32];
  int i = sizeof buffer;
  buffer[--i] = '\0';
  do {
    buffer[--i] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value && i > 0);
  Put(fd, buffer + i);
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    case SIGSYS: return "SIGSYS";
    default: return "signal";
  }
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
  // A second fault (another thread, or inside this handler) does not write over the first
  // dump: it waits for the first to end the process.
  if (g_crashing.exchange(true)) {
    for (;;) pause();
  }
  int fd = open(g_dumpFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) {
    Put(fd, "Rizede crash dump\nsignal: ");
    PutNumber(fd, static_cast<unsigned>(sig), 10);
    Put(fd, " (");
    Put(fd, SignalName(sig));
    Put(fd, ")\ncode: ");
    PutNumber(fd, static_cast<unsigned>(info ? info->si_code : 0), 10);
    Put(fd, "\naddress: 0x");
    PutNumber(fd, reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
    Put(fd, "\nprocess: ");
    PutNumber(fd, static_cast<unsigned long long>(getpid()), 10);
    Put(fd, "\nthread: ");
    PutNumber(fd, static_cast<unsigned long long>(syscall(SYS_gettid)), 10);
    Put(fd, "\nbacktrace:\n");
    void* frames[kMaxFrames];
    int count = backtrace(frames, kMaxFrames);
    backtrace_symbols_fd(frames, count, fd);
    Put(fd, "end\n");
    fsync(fd);
    close(fd);
  }
  // End the process the way the signal would have.
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

}  // namespace

bool InstallCrashHandler(const char* dumpFile) {
  if (!dumpFile || strlen(dumpFile) >= kMaxPath) return false;
  strcpy(g_dumpFile, dumpFile);
  // backtrace() loads its unwinder on first use, which allocates: do that now, not in the
  // handler.
  void* warm[2];
  backtrace(warm, 2);

  // A stack overflow leaves no stack for the handler: give the installing thread (the main
  // thread) an alternate one. It lives as long as the process.
  static char* altStack = nullptr;
  if (!altStack) {
    size_t size = static_cast<size_t>(SIGSTKSZ) * 4 + 65536;
    altStack = static_cast<char*>(malloc(size));
    if (altStack) {
      stack_t ss{};
      ss.ss_sp = altStack;
      ss.ss_size = size;
      sigaltstack(&ss, nullptr);
    }
  }

  struct sigaction action {};
  action.sa_sigaction = OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  bool ok = true;
  for (int sig : kSignals)
    if (sigaction(sig, &action, nullptr) != 0) ok = false;
  return ok;
}

}  // namespace rz
