#pragma once
// Stopping and waiting on the main thread.
//
// SIGINT and SIGTERM only set a flag (all a signal handler may safely do). Every wait of the
// tool pumps the main thread's messages in short slices and checks that flag between them, so
// a signal ends any wait within a slice and the tool closes its port before it exits.
//
// Errors the library raises on its own threads (a port that fails while in use) reach the main
// thread through Application().OnException: they are printed on stderr at once and remembered.

#include <chrono>
#include <functional>

namespace quelvan::cli {

// Main thread, once, before anything else uses the library.
void InstallRunControl();

bool StopRequested();
bool LineFailed();

// Pumps messages until Condition holds, a stop is requested or Timeout passes; returns whether
// Condition held.
bool PumpUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Timeout);
// Pumps messages until a stop is requested or Condition holds (no time limit).
void PumpUntilStopped(const std::function<bool()>& Condition = [] { return false; });

}  // namespace quelvan::cli
