// Devices that only SYSTEM and the administrators open: the control device
// and every snapshot drive (a drive's raw sectors are an old snapshot's,
// past every file permission on it, registry hives included).
#pragma once

#include "engine.h"

// Creates a device with the descriptor "D:P(A;;GA;;;SY)(A;;GA;;;BA)",
// checked for its own name and (secure open) every name below it.
NTSTATUS CreateAdministratorsOnlyDevice(PDRIVER_OBJECT driver, ULONG extensionSize,
                                        PUNICODE_STRING name, DEVICE_TYPE type,
                                        PDEVICE_OBJECT* device);

// The same descriptor built by hand (the driver build sets it on the device
// object itself, having no library that reads SDDL): SYSTEM and the
// administrators, FILE_ALL_ACCESS each. `acl` is paged pool the caller
// frees once the descriptor is applied. PASSIVE_LEVEL.
NTSTATUS BuildAdministratorsOnlyDescriptor(SECURITY_DESCRIPTOR* descriptor, PACL* acl);

// The create dispatch's own check, whatever the descriptor lets through (an
// administrator may override it, and a caller asking for no rights needs
// none): a user-mode open by a caller that is not an administrator is
// refused. Kernel-mode opens (the system's own) pass.
bool OpenAllowed(PIRP irp);
