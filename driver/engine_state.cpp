// Driver-wide references, set once at start-up.
#include "engine.h"
#include "engine_state.h"

PDRIVER_OBJECT EngineDriverObject = nullptr;
PDEVICE_OBJECT EngineControlDevice = nullptr;
PDEVICE_OBJECT EngineRawDiskFilter = nullptr;
PDEVICE_OBJECT EnginePrimaryVolume = nullptr;
NPAGED_LOOKASIDE_LIST EngineLookaside;

void ResetEngineGlobals() {
  EngineDriverObject = nullptr;
  EngineControlDevice = nullptr;
  EngineRawDiskFilter = nullptr;
  EnginePrimaryVolume = nullptr;
}
