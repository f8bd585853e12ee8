// The engine's driver-wide state, its device extensions and the I/O and lock
// utilities every other part of the engine builds on.
//
// The extensions carry the fields the utilities use; the parts that own the
// other fields add them here as they arrive.
#pragma once

#include "vh_kernel.h"
#include "vh/records.h"

// One pool tag for all of the engine's memory and remove locks: "qvrl".
constexpr ULONG EnginePoolTag = 0x6C727671;
// Every failure line reads "ERROR:QVR (<line>): <module> ...".
#define EngineLogTag "QVR"

// Device kinds, the first field of every extension.
enum EngineDeviceKind : ULONG {
  KindVolumeUnset = 0,
  KindControl = 1,
  KindMount = 3,
  KindPrimaryVolume = 4,
  KindOtherVolume = 6,
  KindRawDisk = 7,
};

// Counted wide strings with room for 260 bytes inside the extension.
constexpr USHORT EngineNameBytes = 260;

struct DriverExtension {
  WCHAR RegistryPath[128];
  vh::EngineParameters EngineParameters;
  KMUTEX EngineLock;  // level 1; the one engine lock
};

struct VolumeFilterExtension {
  ULONG Kind;
  UCHAR Hotplug;
  PDEVICE_OBJECT LowerDevice;   // the device this filter is attached to
  PDEVICE_OBJECT TargetDevice;  // the physical device handed to AddDevice
  UNICODE_STRING DeviceName;    // upper case
  WCHAR DeviceNameBuffer[EngineNameBytes / sizeof(WCHAR)];
  UNICODE_STRING DosName;       // "\??\X:"
  WCHAR DosNameBuffer[EngineNameBytes / sizeof(WCHAR)];
  WCHAR DriveLetter;
  vh::EngineHeader* Header;     // the live 64 KB header, or none
  // Boot-sector geometry (ReadBootSectorGeometry).
  ULONG FileSystemKind;         // vh::kFileSystemNtfs or vh::kFileSystemFat32
  ULONG BytesPerSector;
  ULONG SectorsPerCluster;
  ULONG DataStartSector;        // volume sector of cluster 0
  ULONGLONG TotalVolumeSectors;
  // Space bitmap (one bit per space block) and the block bitmaps built from
  // the live map (one bit per volume block); each buffer with its bytes.
  PULONG SpaceBitmapBuffer;
  ULONG SpaceBitmapBytes;
  RTL_BITMAP SpaceBitmap;
  PULONG MarkedBlocksBuffer;
  ULONG MarkedBlocksBytes;
  RTL_BITMAP MarkedBlocks;
  PULONG SavedBlocksBuffer;
  ULONG SavedBlocksBytes;
  RTL_BITMAP SavedBlocks;
  ULONG FreeSectors;            // space sectors, in whole blocks
  ULONG TotalSectors;
  // Worker handshake (the worker parks between requests while PauseFlag is
  // set; both events are notification events, each cleared by its waiter).
  PKTHREAD WorkerThread;        // referenced thread object
  UCHAR StopFlag;
  UCHAR PauseFlag;
  KEVENT ResumeEvent;
  KEVENT PausedEvent;
};
using PVolumeFilterExtension = VolumeFilterExtension*;

// Driver-wide references (set by start-up and the raw-disk attachment).
extern PDRIVER_OBJECT EngineDriverObject;
extern PDEVICE_OBJECT EngineControlDevice;
extern PDEVICE_OBJECT EngineRawDiskFilter;

// Lock and worker handshake. Lock order: EngineLock, then PauseVolumeWorker;
// resume before unlock.
void EngineLock();
void EngineUnlock();
NTSTATUS PauseVolumeWorker(PVolumeFilterExtension volume, UCHAR pause);
NTSTATUS GetDriverExtension(DriverExtension** extension);

// Requests to other drivers, all synchronous, all at PASSIVE_LEVEL.
NTSTATUS SendDeviceIoctl(PDEVICE_OBJECT device, ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength, ULONG_PTR* bytesReturned = nullptr);
NTSTATUS EngineDispatchPassThrough(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);
NTSTATUS ReadWriteDiskSectors(UCHAR read, PDEVICE_OBJECT device, ULONGLONG byteOffset, ULONG length,
                              PVOID buffer, PIO_STATUS_BLOCK ioStatus);
NTSTATUS ReadWriteVolumeSectors(UCHAR read, PDEVICE_OBJECT volume, LONGLONG engineByteOffset, ULONG length,
                                PVOID buffer, PIO_STATUS_BLOCK ioStatus);
NTSTATUS GetPartitionInfo(PDEVICE_OBJECT device, PARTITION_INFORMATION* info);
NTSTATUS SendFileSystemControl(PFILE_OBJECT file, ULONG code);
NTSTATUS OpenAndReferenceFile(PUNICODE_STRING path, PHANDLE handle, PFILE_OBJECT* file);

// The engine header, the "Parameter" record and the bitmaps loaded from the
// engine area.
NTSTATUS ReadRegistryValue(PUNICODE_STRING registryPath, vh::EngineParameters* destination);
NTSTATUS ReadBootSectorGeometry(PDEVICE_OBJECT volume);
BOOLEAN ValidateEngineHeader(const vh::EngineHeader* header);
NTSTATUS LocateEngineHeader(PDEVICE_OBJECT volume, vh::EngineHeader* buffer);
NTSTATUS LoadEngineHeader(PDEVICE_OBJECT volume);
NTSTATUS LoadSpaceBitmap(PDEVICE_OBJECT volume);
NTSTATUS BuildRedirectBitmaps(PDEVICE_OBJECT volume);
BOOLEAN IsValidMapEntry(PVolumeFilterExtension volume, ULONG entry);
// Engine sectors in either form of the area: at AreaBaseSector + n on the
// lower device, or through the header's extents when the base is 0.
NTSTATUS ReadWriteEngineSectors(UCHAR read, PDEVICE_OBJECT volume, ULONGLONG engineSector, ULONG length,
                                PVOID buffer);
// Frees the header and every bitmap of the volume (no engine afterwards).
void FreeVolumeEngineState(PVolumeFilterExtension volume);

// Finding volumes.
NTSTATUS FindVolumeByDeviceName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS FindVolumeByDosName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS QueryTargetDeviceName(PVolumeFilterExtension volume);
NTSTATUS QueryVolumeDeviceName(PVolumeFilterExtension volume);

// Checked bitmaps.
NTSTATUS SetBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS ClearBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS TestBitmapBitsSet(PRTL_BITMAP bitmap, ULONG first, ULONG count, UCHAR* allSet);

// The mount manager and the snapshot drives' names.
NTSTATUS SendMountManagerIoctl(ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength);
NTSTATUS NotifyVolumeArrival(PVolumeFilterExtension volume);
NTSTATUS CreateMountPoint(PVolumeFilterExtension volume);
NTSTATUS DeleteMountPoints(PVolumeFilterExtension volume);
NTSTATUS CreateDosLink(PVolumeFilterExtension volume);
