// The descriptor of the engine's own devices and the caller check at their
// open. PASSIVE_LEVEL (device creation, create dispatch).
#include "device_security.h"

namespace {

// SYSTEM and the administrators, all access.
const WCHAR AdministratorsOnly[] = VH_WIDE("D:P(A;;GA;;;SY)(A;;GA;;;BA)");
// The device class under which an administrator may override the descriptor.
const GUID EngineDeviceClass = {
    0x5e27b4c9, 0x4a1f, 0x9c63, {0x8d, 0x21, 0x4b, 0x0e, 0x6a, 0x13, 0x7f, 0x52}};

}  // namespace

NTSTATUS BuildAdministratorsOnlyDescriptor(SECURITY_DESCRIPTOR* descriptor, PACL* acl) {
  PSID system = SeExports->SeLocalSystemSid;
  PSID administrators = SeExports->SeAliasAdminsSid;
  const ULONG aclBytes = sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + RtlLengthSid(system) +
                         RtlLengthSid(administrators);
  *acl = static_cast<PACL>(ExAllocatePoolWithTag(PagedPool, aclBytes, EnginePoolTag));
  NTSTATUS status =
      *acl ? RtlCreateAcl(*acl, aclBytes, ACL_REVISION) : STATUS_INSUFFICIENT_RESOURCES;
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(*acl, ACL_REVISION, FILE_ALL_ACCESS, system);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(*acl, ACL_REVISION, FILE_ALL_ACCESS, administrators);
  if (NT_SUCCESS(status))
    status = RtlCreateSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(descriptor, TRUE, *acl, FALSE);
  if (!NT_SUCCESS(status) && *acl != nullptr) {
    ExFreePoolWithTag(*acl, EnginePoolTag);
    *acl = nullptr;
  }
  return status;
}

#if defined(VH_KERNEL_MODE)
// Exported by the kernel; the DDK headers here do not declare it.
extern "C" NTSYSAPI POBJECT_TYPE* IoDeviceObjectType;
namespace {

// The WDM library that carries IoCreateDeviceSecure is not part of this
// build: the device gets the same DACL (SYSTEM and the administrators, all
// access) set on its object directly.
NTSTATUS IoCreateDeviceSecure(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PCUNICODE_STRING, const GUID*, PDEVICE_OBJECT* device) {
  NTSTATUS status =
      IoCreateDevice(driver, extensionSize, name, type, characteristics, exclusive, device);
  if (!NT_SUCCESS(status)) return status;
  SECURITY_DESCRIPTOR descriptor;
  PACL acl = nullptr;
  status = BuildAdministratorsOnlyDescriptor(&descriptor, &acl);
  HANDLE handle = nullptr;
  if (NT_SUCCESS(status)) {
    status = ObOpenObjectByPointer(*device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC,
                                   *IoDeviceObjectType, KernelMode, &handle);
  }
  if (NT_SUCCESS(status)) {
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
  }
  if (acl != nullptr) ExFreePoolWithTag(acl, EnginePoolTag);
  if (!NT_SUCCESS(status)) {
    // A control device open to everyone is worse than none.
    IoDeleteDevice(*device);
    *device = nullptr;
  }
  return status;
}
}  // namespace
#endif

NTSTATUS CreateAdministratorsOnlyDevice(PDRIVER_OBJECT driver, ULONG extensionSize,
                                        PUNICODE_STRING name, DEVICE_TYPE type,
                                        PDEVICE_OBJECT* device) {
  UNICODE_STRING security;
  RtlInitUnicodeString(&security, AdministratorsOnly);
  return IoCreateDeviceSecure(driver, extensionSize, name, type, FILE_DEVICE_SECURE_OPEN, FALSE,
                              &security, &EngineDeviceClass, device);
}

bool OpenAllowed(PIRP irp) {
  if (irp->RequestorMode == KernelMode) return true;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PIO_SECURITY_CONTEXT context = stack->Parameters.Create.SecurityContext;
  if (context == nullptr || context->AccessState == nullptr) return false;
  PACCESS_TOKEN token = SeQuerySubjectContextToken(&context->AccessState->SubjectSecurityContext);
  return token != nullptr && SeTokenIsAdmin(token);
}
