// The engine's real control device, as Kelm reaches it.
#include <windows.h>

#include "link/engine_device.h"

namespace kelm::link {

namespace {

class TWin32EngineDevice final : public TEngineDevice {
 public:
  EngineHandle Open(const std::u16string& name, uint32_t* error) override {
    // No access rights: the engine's control codes are FILE_ANY_ACCESS.
    HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), 0, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return InvalidEngineHandle();
    }
    return handle;
  }

  bool Control(EngineHandle handle, uint32_t code, void* in, uint32_t inLen, void* out,
               uint32_t outLen, uint32_t* bytesReturned, uint32_t* error) override {
    DWORD returned = 0;
    if (!DeviceIoControl(static_cast<HANDLE>(handle), code, in, inLen, out, outLen, &returned,
                         nullptr)) {
      *error = GetLastError();
      *bytesReturned = 0;
      return false;
    }
    *bytesReturned = returned;
    return true;
  }

  void Close(EngineHandle handle) override { CloseHandle(static_cast<HANDLE>(handle)); }
};

}  // namespace

TEngineDevice& EngineDevice() {
  static TWin32EngineDevice device;
  return device;
}

}  // namespace kelm::link
