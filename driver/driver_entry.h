// Start-up: the entry routine, the boot reinitialisation, AddDevice, and the
// teardown a host calls when it switches the machine off.
#pragma once

#include "engine.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
void EngineUnload(PDRIVER_OBJECT driverObject);
void EngineBootReinit(PDRIVER_OBJECT driverObject, PVOID context, ULONG count);
NTSTATUS EngineAddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDevice);
NTSTATUS PinSystemFiles(PDEVICE_OBJECT volume);
// What the boot reinitialisation does for the primary protected volume: its
// system files pinned (a failure is logged), then its writes intercepted;
// once, under the engine lock.
void ProtectPrimaryVolume(PDEVICE_OBJECT volume);
NTSTATUS AttachRawDiskFilter();
// Gives back what start-up took (guard thread, control device, link, pool).
// The system never calls it: the unload routine does nothing. A host that
// switches the machine off calls it after shutdown and PnP removal.
void EngineTeardown(PDRIVER_OBJECT driverObject);
// Ends the space-file guard and waits for it (closes its handles).
void StopSpaceFileGuard();
