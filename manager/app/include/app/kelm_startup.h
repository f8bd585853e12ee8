// The manager's entry point: refuse old Windows versions, keep to one
// running manager (waking the one that runs), then start the application
// hidden with the main window as its main form, so the program lives in the
// notification area until the user opens its window.
#pragma once

#include <cstdint>
#include <functional>

namespace kelm::app {

// The mutex name, and the title a running manager's windows carry.
inline constexpr char kInstanceName[] = "Quorvel Varnholt";
inline constexpr char16_t kInstanceTitle[] = u"Quorvel Varnholt";
// Posted (wParam 1, lParam 0) to the running manager's window: nothing
// handles it, it only makes that window receive a message.
inline constexpr uint32_t kWakeMessage = 0x2B10;

// How one start ended.
enum class TStartupResult : uint8_t {
  Ran,             // the main window ran and was closed
  OldWindows,      // Windows 2000 or older: refused with a box
  OtherInstance,   // a manager's window exists: woken, no box
  SecondInstance,  // the mutex existed without such a window: refused with a box
};

struct TStartupHooks {
  // Runs after the single-instance checks, before the application
  // initialises: the simulation build boots its engine here.
  std::function<void()> AfterInstanceChecks;
  // Runs after the main window is made and before the message loop: tests
  // drive the running program from here.
  std::function<void()> BeforeLoop;
};

// Start-up in its order. Every refusal answers before the application
// object is initialised; the caller ends the process with ExitCode().
TStartupResult RunManager(const TStartupHooks& hooks = {});
int ExitCode(TStartupResult result);

// The mutex taken by this process's start-up (kept for the life of the
// process; the system releases it at exit), or none.
void* InstanceMutex();

// The Windows version code the start-up asks; tests replace the question.
using TVersionCodeFunc = int (*)();
TVersionCodeFunc SetVersionCodeFunc(TVersionCodeFunc func);

}  // namespace kelm::app
