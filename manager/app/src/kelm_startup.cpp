// Start-up in its order: the version refusal, the single-instance checks,
// the hook, then the application with its hidden main window.
#include "app/kelm_startup.h"

#include <windows.h>

#include "app/unit_snapshot.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/sysutils.h"
#include "link/system_helpers.h"
#include "png/png_graphic.h"
#include "scene/sg_canvas_gdiplus.h"

namespace kelm::app {
namespace {

constexpr char16_t kOldWindowsText[] = u"The product does not support Win9x/2000!";
constexpr char16_t kSecondInstanceText[] = u"You can not run the program for twince!";
// The start-up boxes' caption is fixed in the code, not taken from the table.
constexpr char16_t kStartupCaption[] = u"Warning";

TVersionCodeFunc g_versionCode = nullptr;
HANDLE g_mutex = nullptr;

int VersionCode() { return g_versionCode ? g_versionCode() : link::GetWindowsVersionCode(); }

void RefusalBox(const std::u16string& text) {
  classlib::ShowMessageBox(nullptr, text, kStartupCaption, MB_ICONERROR);
}

// The single-instance checks inside their guard. Answers Ran when this start
// may go on.
TStartupResult CheckSingleInstance() {
  try {
    g_mutex = CreateMutexA(nullptr, FALSE, kInstanceName);
    if (g_mutex) {
      // Read before FindWindowA, which may set the last error itself.
      const DWORD created = GetLastError();
      if (HWND running = FindWindowA(nullptr, kInstanceName)) {
        PostMessageA(running, kWakeMessage, 1, 0);
        // The process ends now; the handle goes with it, but a caller that
        // lives on (a test) must not keep the name taken.
        CloseHandle(g_mutex);
        g_mutex = nullptr;
        return TStartupResult::OtherInstance;
      }
      if (created == ERROR_ALREADY_EXISTS) throw classlib::Exception(kSecondInstanceText);
    }
    // No mutex at all: go on as if no other instance existed.
    return TStartupResult::Ran;
  } catch (const classlib::Exception& e) {
    RefusalBox(e.Message());
    if (g_mutex) CloseHandle(g_mutex);
    g_mutex = nullptr;
    return TStartupResult::SecondInstance;
  }
}

}  // namespace

TVersionCodeFunc SetVersionCodeFunc(TVersionCodeFunc func) {
  TVersionCodeFunc previous = g_versionCode;
  g_versionCode = func;
  return previous;
}

void* InstanceMutex() { return g_mutex; }

int ExitCode(TStartupResult result) {
  // A woken instance is a normal end; the two refusals are not.
  switch (result) {
    case TStartupResult::Ran:
    case TStartupResult::OtherInstance:
      return 0;
    case TStartupResult::OldWindows:
    case TStartupResult::SecondInstance:
      break;
  }
  return 1;
}

TStartupResult RunManager(const TStartupHooks& hooks) {
  if (VersionCode() <= 5) {
    RefusalBox(kOldWindowsText);
    return TStartupResult::OldWindows;
  }
  const TStartupResult instance = CheckSingleInstance();
  if (instance != TStartupResult::Ran) return instance;
  if (hooks.AfterInstanceChecks) hooks.AfterInstanceChecks();

  RegisterManagerClasses();
  png::RegisterPngGraphic();
  scene::sgStartupScene();
  link::InitSystemHelpers();
  classlib::Application->Initialize();
  classlib::Application->SetShowMainForm(false);
  TfrmManager* main = nullptr;
  classlib::Application->CreateForm(main);
  if (hooks.BeforeLoop) hooks.BeforeLoop();
  classlib::Application->Run();
  // Freed here, while the engine device and the scene's graphics still
  // live, not among the program's static objects at exit.
  classlib::Free(main);
  scene::sgShutdownScene();
  return TStartupResult::Ran;
}

}  // namespace kelm::app
