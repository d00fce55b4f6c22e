// The workers' fixed pauses, all in one place.
//
// FixedPauseMs (settings key of the same name, default 300; tests and benchmarks set 0) is
// the length of the designed 300 ms pause between units, pages, labels and replacement
// items: UnitPause(). Every other designed pause keeps its own length (1 ms after a regex
// capture or a statement, a job's gather and publish intervals): PauseMs(ms). Those are
// skipped altogether while FixedPauseMs is 0.
//
// On a worker-pool thread every pause is also a safe point of the pool's pause gate
// (foundation/Worker.h): a suspended worker parks there instead of waking and going on.
#pragma once

namespace pcutil {

int FixedPauseMs();
void SetFixedPauseMs(int ms);  // negative counts as 0

// The 300 ms unit pause: sleeps FixedPauseMs (0: only the safe point).
void UnitPause();
// A designed pause of its own length; none when FixedPauseMs is 0.
void PauseMs(int ms);
// The zero-length sleep: gives up the processor.
void YieldPause();
// A safe point without sleeping (e.g. between reads of a download).
void PassPauseGate();

}  // namespace pcutil
