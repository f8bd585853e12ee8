// Driver-wide references, set once at start-up.
#include "engine.h"

PDRIVER_OBJECT EngineDriverObject = nullptr;
PDEVICE_OBJECT EngineControlDevice = nullptr;
PDEVICE_OBJECT EngineRawDiskFilter = nullptr;

void ResetEngineGlobals() {
  EngineDriverObject = nullptr;
  EngineControlDevice = nullptr;
  EngineRawDiskFilter = nullptr;
  EnginePrimaryVolume = nullptr;
}
