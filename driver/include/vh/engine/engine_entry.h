// What a host that runs the engine on the host kernel layer may call: the
// entry routine, the teardown that gives back what start-up took, and the
// reset of the engine's driver-wide references between two machines. The
// engine's own structures stay private to it (driver/engine.h).
#pragma once

#include "hostkernel/ntkernel.h"

// The entry routine, as the boot loader calls it: at PASSIVE_LEVEL with the
// service key.
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
// Gives back what start-up took (guard thread, control device, link, pool),
// after shutdown and PnP removal; the system itself never calls it.
void EngineTeardown(PDRIVER_OBJECT driverObject);
// Forgets the driver object, control device, raw-disk filter and primary
// volume, so the next machine's engine starts from none.
void ResetEngineGlobals();
