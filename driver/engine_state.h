// Driver-wide references set at start-up (the driver object, the control
// device, the raw-disk filter, the primary volume, the lookaside list) and
// their reset for a host that boots another machine.
#pragma once

#include "engine.h"

// Driver-wide references (set by start-up and the raw-disk attachment).
extern PDRIVER_OBJECT EngineDriverObject;
extern PDEVICE_OBJECT EngineControlDevice;
extern PDEVICE_OBJECT EngineRawDiskFilter;
extern PDEVICE_OBJECT
    EnginePrimaryVolume;  // set once at volume arrival; cleared only when its filter is removed
extern NPAGED_LOOKASIDE_LIST EngineLookaside;  // EngineLookasideEntryBytes each
// Forgets the driver-wide references, for a host that boots another machine.
void ResetEngineGlobals();
