// Rollback scheduling: the pre-boot program in disk 0's first sectors, its
// backup in the engine area and the request recorded in the header.
#pragma once

#include "engine.h"

// Schedules (request->Schedule nonzero) or cancels the rollback of `volume`
// under EngineLock. Installs the pre-boot program only when none is pending
// yet, and takes it off only when one is; a schedule records the request
// before the program's sector 0 goes on, a cancel after it came off.
NTSTATUS ScheduleRollback(PDEVICE_OBJECT volume, const vh::RollbackRequest* request);
// The boot-area check at shutdown.
NTSTATUS RecheckBootRestorer(PDEVICE_OBJECT volume);
// Takes the pre-boot program off disk 0 (the backup back over the sectors
// that hold it, sector 0 first); the header is the caller's to change.
NTSTATUS RemovePreBoot(PDEVICE_OBJECT volume);
// Start-up, once the raw-disk filter is attached, under EngineLock with the
// worker parked: a recorded rollback whose program is not in sector 0 is
// dropped (the program's sectors 1-4 go back too), and a program in sector
// 0 that nothing records goes when its backup holds the machine's sectors.
NTSTATUS SettleBootArea(PDEVICE_OBJECT volume);

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
