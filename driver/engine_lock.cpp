// The engine lock and the pause handshake with a volume's worker. Both
// block at PASSIVE_LEVEL; lock order: the engine lock, then the pause.
#include "copy_on_write.h"
#include "engine.h"
#include "engine_lock.h"
#include "engine_state.h"

NTSTATUS GetDriverExtension(DriverExtension** extension) {
  *extension = nullptr;
  if (EngineDriverObject == nullptr) return STATUS_UNSUCCESSFUL;
  auto* found = static_cast<DriverExtension*>(
      IoGetDriverObjectExtension(EngineDriverObject, EngineDriverObject));
  if (found == nullptr) return STATUS_UNSUCCESSFUL;
  *extension = found;
  return STATUS_SUCCESS;
}

namespace {

// The holder notes itself after each wait that gave it the lock and
// forgets itself before the last release.
void NoteTaken(DriverExtension* driver) {
  PKTHREAD self = KeGetCurrentThread();
  if (ReadShared(driver->EngineLockOwner) == self) {
    ++driver->EngineLockDepth;
    return;
  }
  WriteShared(driver->EngineLockOwner, self);
  driver->EngineLockDepth = 1;
}

}  // namespace

void EngineLock() {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return;
  }
  // PASSIVE_LEVEL, caller's thread; released by EngineUnlock of the holder.
  KeWaitForSingleObject(&driver->EngineLock, Executive, KernelMode, FALSE, nullptr);
  NoteTaken(driver);
}

NTSTATUS EngineLockWithin(PLARGE_INTEGER timeout) {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) return status;
  // PASSIVE_LEVEL, caller's thread; released by EngineUnlock of the holder.
  status = KeWaitForSingleObject(&driver->EngineLock, Executive, KernelMode, FALSE, timeout);
  if (status == STATUS_SUCCESS) NoteTaken(driver);
  return status;
}

void EngineUnlock() {
  DriverExtension* driver;
  // Without an extension EngineLock took nothing, so there is nothing to give back.
  if (!NT_SUCCESS(GetDriverExtension(&driver))) return;
  if (ReadShared(driver->EngineLockOwner) == KeGetCurrentThread() && --driver->EngineLockDepth == 0)
    WriteShared(driver->EngineLockOwner, static_cast<PKTHREAD>(nullptr));
  KeReleaseMutex(&driver->EngineLock, FALSE);
}

bool EngineLockHeldHere() {
  DriverExtension* driver;
  return NT_SUCCESS(GetDriverExtension(&driver)) &&
         ReadShared(driver->EngineLockOwner) == KeGetCurrentThread();
}

NTSTATUS PauseVolumeWorker(PVolumeFilterExtension volume, UCHAR pause) {
  if (pause == 0) {
    WriteShared(volume->PauseFlag, static_cast<UCHAR>(0));
    KeSetEvent(&volume->ResumeEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_SUCCESS;
  }
  WriteShared(volume->PauseFlag, pause);
  // An idle worker parks at once rather than at its tick.
  KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
  // PASSIVE_LEVEL, with the engine lock held; the worker sets PausedEvent
  // between two requests or at its one-second tick. A worker that has ended
  // parks no more: its thread object ends the wait (status 1) instead of a
  // wait for ever.
  NTSTATUS status;
  if (volume->WorkerThread != nullptr) {
    PVOID objects[2] = {&volume->PausedEvent, volume->WorkerThread};
    status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr,
                                      nullptr);
  } else {
    status = KeWaitForSingleObject(&volume->PausedEvent, Executive, KernelMode, FALSE, nullptr);
  }
  KeClearEvent(&volume->PausedEvent);
  // The caller changes what the direct rewrites rely on (the maps, the
  // bitmaps, the mode): none goes down meanwhile. Closed only once the
  // worker is parked, since the worker reopens the path after a write.
  CloseDirectRewrites(volume);
  return status;
}
