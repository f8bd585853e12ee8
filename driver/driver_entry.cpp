// Driver entry point of Varnholt. Builds against the DDK headers in the driver
// flavour; start-up proper (extension, parameter record, dispatch table,
// control device) is added on top of this unit.
#include <ntddk.h>

extern "C" {
DRIVER_INITIALIZE DriverEntry;
}

static void VarnholtUnload(PDRIVER_OBJECT) {}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  UNREFERENCED_PARAMETER(registryPath);
  driverObject->DriverUnload = VarnholtUnload;
  DbgPrint("QVR: loaded\n");
  return STATUS_SUCCESS;
}
