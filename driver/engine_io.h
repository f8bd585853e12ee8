// Synchronous requests to other drivers, request completion, the worker's
// queue and sector transfers on the lower devices.
#pragma once

#include "engine.h"

// The control device, the raw-disk filter and snapshot drives are never
// volumes for the look-ups and the engine transfers.
bool IsEngineVolume(PDEVICE_OBJECT device);

// Completes a request: its status, the bytes it moved, and the priority
// boost its waiter gets. Returns the status, for `return CompleteRequest(...)`.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0,
                         CCHAR boost = IO_NO_INCREMENT);

// A queued IRP waits on its Tail.Overlay.ListEntry.
inline PIRP IrpOfQueueEntry(PLIST_ENTRY entry) {
  return reinterpret_cast<PIRP>(reinterpret_cast<PUCHAR>(entry) -
                                offsetof(IRP, Tail.Overlay.ListEntry));
}
// Hands `irp` to the volume's worker and wakes it; the queue's spin lock is
// taken alone. The caller has marked it pending (or owns it).
void QueueForWorker(PVolumeFilterExtension volume, PIRP irp);

// Requests to other drivers, all synchronous, all at PASSIVE_LEVEL.
// Sends `irp`, built with `event` and `ioStatus` as its completion event and
// status block, and waits for it when it pends. A null `irp` (a failed
// build) answers STATUS_INSUFFICIENT_RESOURCES. The host-side twin is
// hk::CallDriverAndWait: engine sources also build against the DDK.
NTSTATUS CallDriverAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event,
                           PIO_STATUS_BLOCK ioStatus);
NTSTATUS SendDeviceIoctl(PDEVICE_OBJECT device, ULONG code, PVOID input, ULONG inputLength,
                         PVOID output, ULONG outputLength, ULONG_PTR* bytesReturned = nullptr);
NTSTATUS EngineDispatchPassThrough(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);
NTSTATUS ReadWriteDiskSectors(UCHAR read, PDEVICE_OBJECT device, ULONGLONG byteOffset, ULONG length,
                              PVOID buffer, PIO_STATUS_BLOCK ioStatus);
NTSTATUS ReadWriteVolumeSectors(UCHAR read, PDEVICE_OBJECT volume, LONGLONG engineByteOffset,
                                ULONG length, PVOID buffer, PIO_STATUS_BLOCK ioStatus);
// Puts every write the volume's lower device completed so far on stable
// storage (a disk with a write cache may otherwise persist them in any
// order, or not at all): the engine's ordering points.
// One flush request to `target`, waited for; `file` (may be null) is the
// open a file system flushes through.
NTSTATUS SendFlushAndWait(PDEVICE_OBJECT target, PFILE_OBJECT file);
NTSTATUS FlushLowerDevice(PDEVICE_OBJECT device);
NTSTATUS SendFileSystemControl(PFILE_OBJECT file, ULONG code);
NTSTATUS OpenAndReferenceFile(PUNICODE_STRING path, PHANDLE handle, PFILE_OBJECT* file);
