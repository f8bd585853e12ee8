// What a user-mode program sees of a device's control requests: the
// CreateFile + DeviceIoControl + CloseHandle sequence, with the I/O
// manager's buffered copy-back. Test-side only; engine code never includes
// this.
#pragma once

#include <string_view>

#include "hostkernel/ntkernel.h"

namespace hk {

struct UserIoResult {
  NTSTATUS status;
  ULONG bytesReturned;
};

// What a user-mode program's CreateFile("\\\\.\\Name") + DeviceIoControl +
// CloseHandle would see: resolves \??\Name (\DosDevices), sends IRP_MJ_CREATE,
// a METHOD_BUFFERED IRP_MJ_DEVICE_CONTROL with one system buffer of
// max(inLen, outLen) bytes, copies back to `out` the bytes the I/O manager
// would (never more than outLen: a driver reporting more Information than
// the output buffer holds is a loud kernel fault), then IRP_MJ_CLEANUP and
// IRP_MJ_CLOSE. Runs at PASSIVE_LEVEL in the calling thread.
// bytesReturned is 0 when the status is an error (nothing is copied back).
// `access` is what CreateFile asks for (GENERIC_READ | GENERIC_WRITE unless
// told); the open is a user-mode one, with the user's token.
UserIoResult UserDeviceIoControl(std::u16string_view win32DeviceName, ULONG code, const void* in,
                                 ULONG inLen, void* out, ULONG outLen,
                                 ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE);

// Who the user-mode caller is: an administrator (the default after every
// kernel reset) or a standard user, whom a device's descriptor may refuse
// (STATUS_ACCESS_DENIED at the open).
void SetUserIsAdministrator(bool administrator);

}  // namespace hk
