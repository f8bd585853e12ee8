// Results of the emulated storage: NT status values and the byte count that
// an IRP's Information would carry. Plain values, so the device layer above
// can copy them into its IRPs unchanged.
#pragma once

#include <cstdint>

namespace vh::storage {

using Status = int32_t;

constexpr Status MakeStatus(uint32_t value) { return static_cast<Status>(value); }

inline constexpr Status kStatusSuccess = 0;
inline constexpr Status kStatusBufferOverflow = MakeStatus(0x80000005);  // warning: partial answer
inline constexpr Status kStatusUnsuccessful = MakeStatus(0xC0000001);
inline constexpr Status kStatusInvalidParameter = MakeStatus(0xC000000D);
inline constexpr Status kStatusInvalidDeviceRequest = MakeStatus(0xC0000010);
inline constexpr Status kStatusEndOfFile = MakeStatus(0xC0000011);
inline constexpr Status kStatusAccessDenied = MakeStatus(0xC0000022);
inline constexpr Status kStatusBufferTooSmall = MakeStatus(0xC0000023);
inline constexpr Status kStatusObjectNameNotFound = MakeStatus(0xC0000034);
inline constexpr Status kStatusObjectNameCollision = MakeStatus(0xC0000035);
inline constexpr Status kStatusDiskFull = MakeStatus(0xC000007F);
inline constexpr Status kStatusDeviceDataError = MakeStatus(0xC000009C);
inline constexpr Status kStatusNotSupported = MakeStatus(0xC00000BB);

// NT's classes: success is signed >= 0, so a warning is not a success.
constexpr bool IsSuccess(Status s) { return s >= 0; }
constexpr bool IsError(Status s) { return (static_cast<uint32_t>(s) >> 30) == 3; }

struct IoAnswer {
  Status status = kStatusSuccess;
  uint32_t information = 0;  // bytes transferred or returned
};

}  // namespace vh::storage
