// The crash handler in a child process: the dump is written and the process still ends
// with its signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "Sandbox.h"
#include "platform/CrashHandler.h"

namespace {

// Read through a volatile pointer so the compiler cannot see the null write coming.
int* volatile g_null = nullptr;

[[gnu::noinline]] void WriteThroughNull() { *g_null = 1; }

// Read through a volatile flag so the compiler cannot see that the recursion never ends.
volatile bool g_deeper = true;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return (g_deeper ? Recurse(depth + 1) : 0) + pad[0];
}

}  // namespace

TEST(CrashHandler, WritesTheDumpAndEndsWithTheSignal) {
  // Forked without re-running the test, so the child writes into this test's folder.
  GTEST_FLAG_SET(death_test_style, "fast");
  struct Case {
    const char* name;
    int signal;
    std::function<void()> crash;
  } cases[] = {
      {"null write", SIGSEGV, [] { WriteThroughNull(); }},
      {"abort", SIGABRT, [] { std::abort(); }},
      {"stack overflow", SIGSEGV, [] { Recurse(0); }},
      {"raised", SIGFPE, [] { raise(SIGFPE); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rztest::TempDir dir;
    // An old dump is overwritten, not appended to.
    rztest::WriteFile(dir.Path() / "DumpFile.dmp", std::string(5000, '#'));
    EXPECT_EXIT(
        {
          if (chdir(dir.Path().c_str()) != 0) _exit(3);
          if (!rz::InstallCrashHandler()) _exit(4);
          c.crash();
          _exit(5);
        },
        testing::KilledBySignal(c.signal), "");
    std::string dump = rztest::ReadFile(dir.Path() / "DumpFile.dmp");
    EXPECT_EQ(dump.rfind("Rizede crash dump\nsignal: " + std::to_string(c.signal) + " (", 0), 0u)
        << dump.substr(0, 200);
    EXPECT_NE(dump.find("\nbacktrace:\n"), std::string::npos);
    // At least the handler's and the crashing code's frames, then the end mark.
    EXPECT_GT(std::count(dump.begin(), dump.end(), '\n'), 8) << dump.substr(0, 2000);
    ASSERT_GE(dump.size(), 4u);
    EXPECT_EQ(dump.substr(dump.size() - 4), "end\n");
    EXPECT_EQ(dump.find('#'), std::string::npos);
  }
}
