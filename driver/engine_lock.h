// The engine lock and the worker pause handshake.
#pragma once

#include "engine.h"

// Lock and worker handshake. Lock order: EngineLock, then PauseVolumeWorker;
// resume before unlock.
void EngineLock();
// The lock if it comes within `timeout`; STATUS_TIMEOUT otherwise.
NTSTATUS EngineLockWithin(PLARGE_INTEGER timeout);
void EngineUnlock();
// Whether the calling thread holds the engine lock (any level).
bool EngineLockHeldHere();
NTSTATUS PauseVolumeWorker(PVolumeFilterExtension volume, UCHAR pause);

// The engine lock held and the volume's worker parked for one scope, taken
// and given back in the lock order. For changes to the header and the maps
// that the worker must not see half done.
class EngineLockedWorkerPaused {
 public:
  explicit EngineLockedWorkerPaused(PVolumeFilterExtension volume) : volume_(volume) {
    EngineLock();
    PauseVolumeWorker(volume_, 1);
  }
  ~EngineLockedWorkerPaused() {
    PauseVolumeWorker(volume_, 0);
    EngineUnlock();
  }
  EngineLockedWorkerPaused(const EngineLockedWorkerPaused&) = delete;
  EngineLockedWorkerPaused& operator=(const EngineLockedWorkerPaused&) = delete;

 private:
  PVolumeFilterExtension volume_;
};
NTSTATUS GetDriverExtension(DriverExtension** extension);
