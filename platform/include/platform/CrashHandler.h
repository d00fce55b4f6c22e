// The crash handler: a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS) writes
// "DumpFile.dmp" in the current folder (always overwritten): the signal, the faulting
// address, the thread and a backtrace of the faulting thread. The process then ends with the
// same signal, so a core dump and the exit status stay as the system would make them.
#pragma once

namespace rz {

// Installs the handler for the process. The dump file name is kept as given (a relative name
// lands in the folder current at the crash). Idempotent; false when a handler could not be
// set.
bool InstallCrashHandler(const char* dumpFile = "DumpFile.dmp");

}  // namespace rz
