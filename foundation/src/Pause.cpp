#include "foundation/Pause.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/Worker.h"

namespace pcutil {

namespace {
std::atomic<int> g_fixedPauseMs{300};

void Sleep(int ms) {
  PassPauseGate();
  if (ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  else
    std::this_thread::yield();
  PassPauseGate();
}
}  // namespace

int FixedPauseMs() { return g_fixedPauseMs.load(); }
void SetFixedPauseMs(int ms) { g_fixedPauseMs = ms < 0 ? 0 : ms; }

void UnitPause() { Sleep(FixedPauseMs()); }
void PauseMs(int ms) { Sleep(FixedPauseMs() == 0 ? 0 : ms); }
void YieldPause() { Sleep(0); }
void PassPauseGate() { CBaseThread::PassGate(); }

}  // namespace pcutil
