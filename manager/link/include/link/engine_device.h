// The seam between the engine link and the engine's control device. Which
// device answers is decided when the program is linked: Kelm links the
// system's (CreateFile + DeviceIoControl on \\.\QuorvelVH); the tests and
// the simulation build link the engine hosted in-process over a disk image,
// which receives the very same request bytes.
//
// Plain types only, so code that includes the host kernel layer's headers
// can include this too (the layer and <windows.h> do not mix).
#pragma once

#include <cstdint>
#include <string>

namespace kelm::link {

// A handle as CreateFile answers it; kInvalidEngineHandle when opening failed.
using EngineHandle = void*;
inline EngineHandle InvalidEngineHandle() {
  return reinterpret_cast<EngineHandle>(~static_cast<uintptr_t>(0));
}

class TEngineDevice {
 public:
  virtual ~TEngineDevice() = default;
  // CreateFile(name, no access, no sharing, OPEN_EXISTING): the handle, or
  // InvalidEngineHandle() with the system error code in *error.
  virtual EngineHandle Open(const std::u16string& name, uint32_t* error) = 0;
  // DeviceIoControl: true on success with the bytes returned; false with the
  // system error code in *error.
  virtual bool Control(EngineHandle handle, uint32_t code, void* in, uint32_t inLen, void* out,
                       uint32_t outLen, uint32_t* bytesReturned, uint32_t* error) = 0;
  virtual void Close(EngineHandle handle) = 0;
};

// The device this program was linked with.
TEngineDevice& EngineDevice();

}  // namespace kelm::link
