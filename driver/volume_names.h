// Volumes by device or drive-letter name, a volume's own names and partition,
// the mount manager's points and links.
#pragma once

#include "engine.h"

NTSTATUS FindVolumeByDeviceName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS FindVolumeByDosName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS QueryTargetDeviceName(PVolumeFilterExtension volume);
NTSTATUS QueryVolumeDeviceName(PVolumeFilterExtension volume);
NTSTATUS GetPartitionInfo(PDEVICE_OBJECT device, PARTITION_INFORMATION* info);

// The mount manager and the snapshot drives' names.
NTSTATUS SendMountManagerIoctl(ULONG code, PVOID input, ULONG inputLength, PVOID output,
                               ULONG outputLength);
NTSTATUS NotifyVolumeArrival(PVolumeFilterExtension volume);
NTSTATUS CreateMountPoint(PVolumeFilterExtension volume);
NTSTATUS DeleteMountPoints(PVolumeFilterExtension volume);
NTSTATUS CreateDosLink(PVolumeFilterExtension volume);
