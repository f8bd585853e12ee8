#include "message_pump.h"

#include "classlib/forms.h"

namespace kelm::test {

void PumpFor(int ms) {
  DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (static_cast<int>(end - GetTickCount()) > 0) {
    classlib::Application->ProcessMessages();
    Sleep(1);
  }
}

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
  while (!pred()) {
    if (static_cast<int>(end - GetTickCount()) <= 0) return false;
    classlib::Application->ProcessMessages();
    Sleep(1);
  }
  return true;
}

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace kelm::test
