// Rollback scheduling: the pre-boot program in disk 0's first sectors, its
// backup in the engine area and the request recorded in the header.
#pragma once

#include "engine.h"

// Schedules (request->Schedule nonzero) or cancels the rollback of `volume`
// under EngineLock. Installs the pre-boot program only when none is pending
// yet, and puts the saved sectors back only when one is; then records the
// request in the header, the commit point.
NTSTATUS ScheduleRollback(PDEVICE_OBJECT volume, const vh::RollbackRequest* request);
// The boot-area check at shutdown.
NTSTATUS RecheckBootRestorer(PDEVICE_OBJECT volume);

// Byte offsets of the pre-boot images' parameter fields.
namespace rollback_layout {
constexpr ULONG BootStageWord = 42;          // u16 := 4
constexpr ULONG BootModeWord = 48;           // u32 := 1
constexpr ULONG BootZeroWord = 52;           // u32 := 0
constexpr ULONG BootLoaderSector = 100;      // u32 := the loader image's disk sector
constexpr ULONG LoaderAreaStart = 530;       // u32 := the engine area's first volume sector
constexpr ULONG LoaderPartitionStart = 534;  // u32 := the partition's first disk sector
// Disk signature, its two following bytes and the four partition entries of
// sector 0: what the pre-boot program's first sector must keep.
constexpr ULONG KeptFirst = 440;
constexpr ULONG KeptBytes = 70;  // bytes 440..509
}  // namespace rollback_layout
