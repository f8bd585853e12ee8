// The one call from the in-process device (which sees <windows.h>) into the
// engine host (which sees the kernel layer's headers); the two never meet in
// one translation unit.
#pragma once

#include <cstdint>
#include <string>

namespace kelm::link::detail {

// Sends one control request to the hosted engine; answers the NTSTATUS and
// the bytes returned. False when no engine is hosted.
bool HostedDeviceControl(const std::u16string& device, uint32_t code, void* in, uint32_t inLen,
                         void* out, uint32_t outLen, int32_t* status, uint32_t* bytesReturned);
bool HostedEnginePresent();

}  // namespace kelm::link::detail
