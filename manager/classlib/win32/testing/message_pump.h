// Message pumping for the Win32 test programs of every subsystem: tests
// wait on the window system by pumping with a deadline, never by sleeping
// alone.
#pragma once

#include <functional>

namespace kelm::test {

// Handles messages (and the application's idle pass) for ms milliseconds.
void PumpFor(int ms);
// Handles messages until pred holds or timeoutMs passes; answers pred().
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 3000);
// Handles the messages already queued for this thread, then returns (no
// idle pass, no waiting).
void PumpPending();

}  // namespace kelm::test
