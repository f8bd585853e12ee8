// The engine lock and the worker pause handshake.
#pragma once

#include "engine.h"

// Lock and worker handshake. Lock order: EngineLock, then PauseVolumeWorker;
// resume before unlock.
void EngineLock();
void EngineUnlock();
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
