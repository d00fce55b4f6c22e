#include "foundation/Pause.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/Worker.h"

namespace pcutil {

namespace {
std::atomic<int> g_fixedPauseMs{300};

// A pause of 0 ms is only a safe point: giving up the processor there (as the zero-length
// sleep does) costs a thread switch on every regex match and statement of a busy worker.
void Sleep(int ms) {
  PassPauseGate();
  if (ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    PassPauseGate();
  }
}
}  // namespace

int FixedPauseMs() { return g_fixedPauseMs.load(); }
void SetFixedPauseMs(int ms) { g_fixedPauseMs = ms < 0 ? 0 : ms; }

void UnitPause() { Sleep(FixedPauseMs()); }
void PauseMs(int ms) { Sleep(FixedPauseMs() == 0 ? 0 : ms); }
void YieldPause() {
  PassPauseGate();
  std::this_thread::yield();
  PassPauseGate();
}
void PassPauseGate() { CBaseThread::PassGate(); }

}  // namespace pcutil
