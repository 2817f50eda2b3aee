#pragma once
// Stopping and waiting on the main thread.
//
// SIGINT and SIGTERM are taken by a thread of their own, which sets a flag and wakes the main
// thread. Every wait of the tool pumps the main thread's messages until its condition holds or
// that flag is set, so a signal ends any wait at once and the tool closes its port before it
// exits; an idle wait wakes for nothing else.
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
