// Kelm.exe: the start-up over the system's engine device.
#include <windows.h>

#include "app/kelm_startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return kelm::app::ExitCode(kelm::app::RunManager());
}
