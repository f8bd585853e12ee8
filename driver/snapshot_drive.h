// Read-only snapshot drives, their workers and the MountTable entries.
#pragma once

#include "engine.h"

NTSTATUS MountDeviceDispatch(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS DeleteMountDevice(PDEVICE_OBJECT mountDevice);

// Snapshot drives. The control protocol builds a MountRequest from the
// VolumeRequest and calls MountSnapshot / UnmountSnapshot with the volume
// filter; entry k-1 of the MountTable belongs to snapshot k, the last to
// the current state (ViewKind nonzero).
struct MountRequest {
  ULONG Result;          // out: 1 when the drive index is refused
  ULONG DriveIndex;      // 0 = "A"
  ULONG ReadOnly;        // always 1 from the protocol
  ULONG NoLetter;        // no letter, no mount point, no mount-manager answers
  ULONG SnapshotNumber;  // view kind 0
  ULONG ViewKind;        // 0 snapshot, 1 current state, 2 the volume unfiltered
};
NTSTATUS MountSnapshot(PDEVICE_OBJECT volume, MountRequest* request);
NTSTATUS UnmountSnapshot(PDEVICE_OBJECT volume, MountRequest* request);
NTSTATUS MountQueueIrp(PDEVICE_OBJECT mountDevice, PIRP irp);
// What a drive's removal waits on for the reads served in their senders'
// threads (a notification event, set while none runs).
PKEVENT InlineReadsDrained(PDEVICE_OBJECT mountDevice);
// Brings the MountTable entries of `volume`'s snapshot drives in line with
// the header (under EngineLock, the worker parked): each drive is its
// snapshot's identity, so after a delete or an oldest-drop (the worker's
// too) its entry moves to the number that snapshot has now, and the drive
// of a snapshot no longer listed is deleted.
void SyncSnapshotDrives(PDEVICE_OBJECT volume);
// Deletes every snapshot drive of `volume` and empties their MountTable
// entries (under EngineLock): the volume is leaving.
void DeleteVolumeDrives(PDEVICE_OBJECT volume);

// Clearing an unmounted drive's entry zeroes the first 76 bytes of its
// 94-byte name: every name the engine writes (29 characters and the
// terminator) lies within them, and the rest of the field is always zero.
constexpr ULONG MountNameClearBytes = 76;
