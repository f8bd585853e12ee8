// A user-mode caller's view of DeviceIoControl on a named device.
#include "hostkernel/user_io.h"

#include "internal.h"

namespace hk {
namespace {
// "\\.\Name" is the Win32 spelling of the object name "\??\Name".
bool NtNameOf(std::u16string_view win32Name, std::u16string* ntName) {
  constexpr std::u16string_view kPrefix = u"\\\\.\\";
  if (win32Name.size() <= kPrefix.size() || win32Name.substr(0, kPrefix.size()) != kPrefix)
    return false;
  *ntName = u"\\??\\";
  ntName->append(win32Name.substr(kPrefix.size()));
  return true;
}
}  // namespace

UserIoResult UserDeviceIoControl(std::u16string_view win32DeviceName, ULONG code, const void* in,
                                 ULONG inLen, void* out, ULONG outLen, ACCESS_MASK access) {
  detail::RequireIrqlAtMost(PASSIVE_LEVEL, "UserDeviceIoControl");
  std::u16string ntName;
  if (!NtNameOf(win32DeviceName, &ntName)) return {STATUS_OBJECT_NAME_INVALID, 0};
  detail::Resolved resolved;
  if (!detail::ResolveName(ntName, &resolved) || resolved.device == nullptr) {
    return {STATUS_OBJECT_NAME_NOT_FOUND, 0};
  }
  // CreateFile(access, share read/write, OPEN_EXISTING) asks for
  // SYNCHRONIZE and FILE_READ_ATTRIBUTES besides what the caller names.
  const ACCESS_MASK desired = access | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  if (!detail::UserMayOpen(resolved.device, resolved.remainder, desired))
    return {STATUS_ACCESS_DENIED, 0};
  PFILE_OBJECT file = nullptr;
  NTSTATUS status =
      detail::OpenDevice(resolved.device, resolved.remainder, FO_SYNCHRONOUS_IO, FILE_OPEN,
                         FILE_SYNCHRONOUS_IO_NONALERT, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &file,
                         UserMode, desired);
  if (!NT_SUCCESS(status)) return {status, 0};

  IO_STATUS_BLOCK iosb{};
  iosb.Status = STATUS_PENDING;
  status = detail::SendFileControl(file, IRP_MJ_DEVICE_CONTROL, code, const_cast<void*>(in), inLen,
                                   out, outLen, &iosb, UserMode);
  ULONG_PTR information = NT_ERROR(status) ? 0 : iosb.Information;
  // The I/O manager copies back only when there is an output buffer; with
  // none, a non-zero Information would still reach the caller as a byte
  // count it cannot have received.
  if (information > outLen) {
    detail::CleanupFile(file);
    ObfDereferenceObject(file);
    Fault("control request 0x%08x reported %llu bytes returned for a %u-byte output buffer", code,
          static_cast<unsigned long long>(information), outLen);
  }

  // CloseHandle: cleanup now, close with the last reference.
  detail::CleanupFile(file);
  ObfDereferenceObject(file);
  return {status, static_cast<ULONG>(information)};
}

}  // namespace hk
