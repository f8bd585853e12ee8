// The engine's dispatch routines: one per major function, each routing by
// the kind of device the request arrived on (control device, volume filter,
// snapshot drive, raw-disk filter). Read and write run at up to
// DISPATCH_LEVEL; device control, PnP, shutdown and power at PASSIVE_LEVEL.
#include "control.h"
#include "copy_on_write.h"
#include "device_security.h"
#include "dispatch.h"
#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "passthrough.h"
#include "rollback.h"
#include "run_table.h"
#include "snapshot_delete.h"
#include "snapshot_drive.h"
#include "temporary_mode.h"
#include "volume.h"
#include "volume_names.h"

namespace {

enum class Route { None, Control, Volume, Mount, RawDisk };

Route RouteOf(PDEVICE_OBJECT device) {
  if (device == EngineControlDevice) return Route::Control;
  if (device->DeviceExtension == nullptr) return Route::None;
  if (device == EngineRawDiskFilter) return Route::RawDisk;
  return VolumeOf(device)->Kind == KindMount ? Route::Mount : Route::Volume;
}

// Passes a request down and gives back the remove lock taken for it.
NTSTATUS PassDownReleasing(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = EngineDispatchPassThrough(device, irp);
  IoReleaseRemoveLock(&volume->RemoveLock, irp);
  return status;
}

// The worker is told to stop and waited for: it may still hold queued
// writes and touches the extension until it has returned. Its thread object
// stays referenced until the filter goes, so a pause after this returns at
// once (the ended thread is signalled) instead of waiting for ever.
void StopVolumeWorker(PVolumeFilterExtension volume) {
  WriteShared(volume->StopFlag, static_cast<UCHAR>(StopKeep));
  KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
  if (volume->WorkerThread != nullptr) {
    // PASSIVE_LEVEL; the thread object is signalled when the worker returns.
    KeWaitForSingleObject(volume->WorkerThread, Executive, KernelMode, FALSE, nullptr);
  }
}

NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = ForwardIrpAndWait(device, irp);
  if (NT_SUCCESS(status)) {
    WriteShared(volume->PnpState, static_cast<ULONG>(PnpStarted));
    constexpr ULONG Taken = FILE_REMOVABLE_MEDIA | FILE_READ_ONLY_DEVICE | FILE_FLOPPY_DISKETTE;
    device->Characteristics |= volume->LowerDevice->Characteristics & Taken;
    if (volume->DeviceName.Length == 0 && !NT_SUCCESS(QueryVolumeDeviceName(volume))) {
      QueryTargetDeviceName(volume);
    }
  }
  CompleteRequest(irp, status);
  IoReleaseRemoveLock(&volume->RemoveLock, irp);
  return status;
}

NTSTATUS RemoveDevice(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  WriteShared(volume->PnpState, static_cast<ULONG>(PnpRemoved));
  // Every request that holds the remove lock has finished after this:
  // control requests hold it from their lookup to their answer, snapshot
  // drive requests from their dispatch to their answer, so none of them
  // meets a stopped worker or a freed extension.
  IoReleaseRemoveLockAndWait(&volume->RemoveLock, irp);
  // Rewrites sent down directly complete in the filter's completion
  // routine: none is left when the filter goes.
  CloseDirectRewrites(volume);
  // The worker ends before the stack below goes away, so the writes it
  // still holds reach a live device, and before the filter is deleted.
  StopVolumeWorker(volume);
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoSkipCurrentIrpStackLocation(irp);
  NTSTATUS status = IoCallDriver(volume->LowerDevice, irp);
  // The engine lock keeps walkers of the device list (the space-file
  // guard) and the control requests off the filter while it goes; the
  // volume's snapshot drives go first, since each reads through it.
  EngineLock();
  DeleteVolumeDrives(device);
  ReleaseVolumeFilter(device);
  EngineUnlock();
  return status;
}

// The last paging file leaving makes the device pageable again; the first
// one arriving makes it non-pageable. Device in-rush power is never paged.
NTSTATUS DeviceUsageNotification(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->Parameters.UsageNotification.Type != DeviceUsageTypePaging)
    return PassDownReleasing(device, irp);
  const bool inPath = stack->Parameters.UsageNotification.InPath != FALSE;
  // PASSIVE_LEVEL; the previous paging notification sets it when done.
  KeWaitForSingleObject(&volume->PagingEvent, Executive, KernelMode, FALSE, nullptr);
  bool setPageable = false;
  if (!inPath && volume->PagingCount == 1 && (device->Flags & DO_POWER_INRUSH) == 0) {
    LogFailure("VOL F1\n");
    device->Flags |= DO_POWER_PAGABLE;
    setPageable = true;
  }
  NTSTATUS status = ForwardIrpAndWait(device, irp);
  if (NT_SUCCESS(status)) {
    LONG count = inPath ? InterlockedIncrement(&volume->PagingCount)
                        : InterlockedDecrement(&volume->PagingCount);
    if (inPath && count == 1) device->Flags &= ~static_cast<ULONG>(DO_POWER_PAGABLE);
  } else if (setPageable) {
    device->Flags &= ~static_cast<ULONG>(DO_POWER_PAGABLE);
  }
  KeSetEvent(&volume->PagingEvent, IO_NO_INCREMENT, FALSE);
  CompleteRequest(irp, status);
  IoReleaseRemoveLock(&volume->RemoveLock, irp);
  return status;
}

NTSTATUS VolumePnp(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = IoAcquireRemoveLock(&volume->RemoveLock, irp);
  if (!NT_SUCCESS(status)) return CompleteRequest(irp, status);
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
      return StartDevice(device, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      WriteShared(volume->PnpState, static_cast<ULONG>(PnpRemovePending));
      break;
    case IRP_MN_REMOVE_DEVICE:
      return RemoveDevice(device, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE: {
      const bool removal =
          IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_CANCEL_REMOVE_DEVICE;
      if (ReadShared(volume->PnpState) != (removal ? PnpRemovePending : PnpStopPending)) {
        CompleteRequest(irp, STATUS_SUCCESS);
        IoReleaseRemoveLock(&volume->RemoveLock, irp);
        return STATUS_SUCCESS;
      }
      WriteShared(volume->PnpState, static_cast<ULONG>(PnpStarted));
      break;
    }
    case IRP_MN_STOP_DEVICE:
      WriteShared(volume->PnpState, static_cast<ULONG>(PnpStopped));
      break;
    case IRP_MN_QUERY_STOP_DEVICE:
      WriteShared(volume->PnpState, static_cast<ULONG>(PnpStopPending));
      break;
    case IRP_MN_DEVICE_USAGE_NOTIFICATION:
      return DeviceUsageNotification(device, irp);
    case IRP_MN_SURPRISE_REMOVAL:
      WriteShared(volume->PnpState, static_cast<ULONG>(PnpSurpriseRemoved));
      break;
    default:
      break;
  }
  return PassDownReleasing(device, irp);
}

// The shutdown work of the engine volumes. It runs while the raw-disk
// filter is still attached: the boot-area check reads and rewrites disk 0
// through it.
void ShutdownVolumes() {
  for (PDEVICE_OBJECT device = EngineDriverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (RouteOf(device) != Route::Volume) continue;
    PVolumeFilterExtension volume = VolumeOf(device);
    if ((volume->Kind != KindPrimaryVolume && volume->Kind != KindOtherVolume) ||
        volume->Header == nullptr)
      continue;
    NTSTATUS status = STATUS_SUCCESS;
    if (volume->Header->RollbackPending) {
      status = RecheckBootRestorer(device);
    } else if (volume->Header->ReclaimPending == 1) {
      status = FreeReleasedBlocks(device);
    }
    if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  }
}

// Parks every volume worker, or lets them go on; the engine lock is held.
void PauseEveryWorker(UCHAR pause) {
  for (PDEVICE_OBJECT device = EngineDriverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (RouteOf(device) != Route::Volume) continue;
    PVolumeFilterExtension volume = VolumeOf(device);
    if (volume->WorkerThread != nullptr) PauseVolumeWorker(volume, pause);
  }
}

void DetachRawDiskFilter(PDEVICE_OBJECT raw) {
  if (raw == nullptr) return;
  PVolumeFilterExtension filter = VolumeOf(raw);
  // Power requests in flight hold the remove lock; they finish first.
  if (NT_SUCCESS(IoAcquireRemoveLock(&filter->RemoveLock, raw)))
    IoReleaseRemoveLockAndWait(&filter->RemoveLock, raw);
  IoDetachDevice(filter->LowerDevice);
  IoDeleteDevice(raw);
}

}  // namespace

NTSTATUS EngineDispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  // The control device's codes ask for no access rights, and a drive's raw
  // sectors are an old snapshot's: only an administrator opens either,
  // whatever the descriptor let through.
  const Route route = RouteOf(device);
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE &&
      (route == Route::Control || route == Route::Mount) && !OpenAllowed(irp)) {
    LogFailure("VOL %08x\n", STATUS_ACCESS_DENIED);
    return CompleteRequest(irp, STATUS_ACCESS_DENIED);
  }
  return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS EngineDispatchRead(PDEVICE_OBJECT device, PIRP irp) {
  switch (RouteOf(device)) {
    case Route::Control:
      return CompleteRequest(irp, STATUS_SUCCESS);
    case Route::Mount:
      return MountDeviceDispatch(device, irp);
    case Route::Volume:
      if (ReadShared(VolumeOf(device)->EngineMode) == EngineModeTemporary)
        return SplitRedirectedIo(device, irp);
      return EngineDispatchPassThrough(device, irp);
    default:
      return EngineDispatchPassThrough(device, irp);
  }
}

NTSTATUS EngineDispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
  switch (RouteOf(device)) {
    case Route::Control:
      return CompleteRequest(irp, STATUS_SUCCESS);
    case Route::Mount:
      return MountDeviceDispatch(device, irp);
    case Route::Volume:
      break;
    default:
      return EngineDispatchPassThrough(device, irp);
  }
  PVolumeFilterExtension volume = VolumeOf(device);
  const UCHAR stop = ReadShared(volume->StopFlag);
  // A volume that is leaving keeps its snapshots: an unprotected write
  // would break them, and a removed volume takes no more writes anyway.
  const UCHAR protection = ReadShared(volume->ProtectionActive);
  if (stop == StopKeep && protection) return CompleteRequest(irp, STATUS_NO_SUCH_DEVICE);
  if (stop != StopNone || !protection) return EngineDispatchPassThrough(device, irp);
  const ULONG mode = ReadShared(volume->EngineMode);
  if (mode == EngineModeTracking) {
    // A rewrite of saved blocks needs no copy and goes down at once.
    NTSTATUS status;
    if (SendRewriteDown(device, irp, &status)) return status;
    // The worker finishes it; the queue's spin lock is taken alone.
    IoMarkIrpPending(irp);
    QueueForWorker(volume, irp);
    return STATUS_PENDING;
  }
  if (mode == EngineModeTemporary && !IsPassThroughWrite(device, irp)) {
    return SplitRedirectedIo(device, irp);
  }
  return EngineDispatchPassThrough(device, irp);
}

NTSTATUS EngineDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  switch (RouteOf(device)) {
    case Route::Control:
      return EngineControlIoctl(device, irp);
    case Route::None:
      return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    case Route::Mount:
      return MountDeviceDispatch(device, irp);
    case Route::RawDisk:
      return EngineDispatchPassThrough(device, irp);
    case Route::Volume:
      break;
  }
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = IoAcquireRemoveLock(&volume->RemoveLock, irp);
  if (!NT_SUCCESS(status)) return CompleteRequest(irp, status);
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode !=
      IOCTL_VOLUME_ONLINE) {
    return PassDownReleasing(device, irp);
  }
  // The volume is online once the drivers below have completed the request.
  // Its arrival work blocks on I/O of its own, so it runs here, at
  // PASSIVE_LEVEL after that completion, never in the completion routine.
  status = ForwardIrpAndWait(device, irp);
  if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
    VolumeOnlineCompletion(device);
  } else {
    LogFailure("VOL %08x\n", STATUS_INVALID_DEVICE_REQUEST);
  }
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  IoReleaseRemoveLock(&volume->RemoveLock, irp);
  return status;
}

NTSTATUS EngineDispatchShutdown(PDEVICE_OBJECT device, PIRP irp) {
  switch (RouteOf(device)) {
    case Route::Control:
      break;
    case Route::Mount:
      return MountDeviceDispatch(device, irp);
    default:
      return EngineDispatchPassThrough(device, irp);
  }
  // A worker may be mid-request: a stop's reset with a rollback pending
  // writes the boot sectors back through the raw-disk filter. The volumes'
  // last steps and the filter's release wait until every worker is parked.
  EngineLock();
  PauseEveryWorker(1);
  ShutdownVolumes();
  PDEVICE_OBJECT raw = EngineRawDiskFilter;
  EngineRawDiskFilter = nullptr;
  PauseEveryWorker(0);
  EngineUnlock();
  DetachRawDiskFilter(raw);
  return CompleteRequest(irp, STATUS_SUCCESS);
}

NTSTATUS EngineDispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  Route route = RouteOf(device);
  if (route != Route::Volume && route != Route::RawDisk) {
    PoStartNextPowerIrp(irp);
    return CompleteRequest(irp, route == Route::None ? STATUS_INVALID_PARAMETER : STATUS_SUCCESS);
  }
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = IoAcquireRemoveLock(&volume->RemoveLock, irp);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    PoStartNextPowerIrp(irp);
    return CompleteRequest(irp, status);
  }
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  status = PoCallDriver(volume->LowerDevice, irp);
  IoReleaseRemoveLock(&volume->RemoveLock, irp);
  return status;
}

NTSTATUS EngineDispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  switch (RouteOf(device)) {
    case Route::Volume:
      return VolumePnp(device, irp);
    case Route::RawDisk:
      return EngineDispatchPassThrough(device, irp);
    case Route::None:
      return CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    default:
      return CompleteRequest(irp, STATUS_SUCCESS);
  }
}

void ReleaseVolumeFilter(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  // Writes queued after the worker's last round are not left unanswered.
  for (PLIST_ENTRY entry =
           ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock);
       entry != nullptr;
       entry = ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock)) {
    EngineDispatchPassThrough(device, IrpOfQueueEntry(entry));
  }
  // The reference would dangle once the device is gone.
  if (EnginePrimaryVolume == device) EnginePrimaryVolume = nullptr;
  FreeVolumeEngineState(volume);
  FreePassThroughList(&volume->PassThroughList);
  FreeTemporaryTables(volume);
  if (volume->ExcludedRuns != nullptr) FreeRunTable(&volume->ExcludedRuns);
  if (volume->FreeRuns != nullptr) FreeRunTable(&volume->FreeRuns);
  if (volume->WorkerThread != nullptr) {
    ObDereferenceObject(volume->WorkerThread);
    volume->WorkerThread = nullptr;
  }
  IoDetachDevice(volume->LowerDevice);
  volume->LowerDevice = nullptr;
  IoDeleteDevice(device);
}
