// The engine's shared records: the on-disk engine header and its snapshot
// slots, the "Parameter" registry record, and the control-request records
// exchanged between the 64-bit engine and the 32-bit manager. All are
// byte-packed and little-endian; references to kernel objects are stored as
// u64 so the bytes are the same on both word sizes. Every size and offset is
// checked below its declaration.
//
// Only fixed-width types: this header compiles in kernel mode (freestanding),
// on the host and in the 32-bit manager.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vh/layout.h"

namespace vh {

// Wide characters as the code around them has WCHAR: wchar_t in the kernel-mode
// driver (the DDK's), char16_t in the host kernel layer and in the manager's
// portable code (wchar_t is 4 bytes on Linux).
#if defined(VH_KERNEL_MODE)
using RecordWChar = wchar_t;
#else
using RecordWChar = char16_t;
#endif
static_assert(sizeof(RecordWChar) == 2, "records carry UTF-16 text");

// ---- Units and marks ------------------------------------------------------

inline constexpr uint32_t kSectorBytes = 512;
inline constexpr uint32_t kBlockSectors = 64;  // one engine block, 32 KB
inline constexpr uint32_t kBlockBytes = kSectorBytes * kBlockSectors;
inline constexpr uint32_t kMapPageEntries = 8192;  // u32 entries per 32 KB map page
inline constexpr uint32_t kMapPageSectors = 64;

inline constexpr uint32_t kEngineMagic = 0x4B454C4D;  // "KELM", most significant byte first
inline constexpr uint32_t kEngineVersion = 0x10000;
inline constexpr uint16_t kRecordSignature = 0xAA55;
inline constexpr uint8_t kFreedSlotNumber = 0x21;
inline constexpr uint32_t kMapEntryFree = 0x80000000u;  // block was free at the newest snapshot

inline constexpr uint32_t kEngineHeaderBytes = 65536;
inline constexpr uint32_t kEngineHeaderSectors = kEngineHeaderBytes / kSectorBytes;
inline constexpr uint32_t kSlotCount = 31;
inline constexpr uint32_t kAreaExtentCount = 8;
inline constexpr uint32_t kHeaderLocationCount = 4;
inline constexpr uint32_t kBootImageBytes = 2560;  // boot image, loader image and backup
inline constexpr uint32_t kBootImageSectors = kBootImageBytes / kSectorBytes;

// The space bitmap covers the space in whole units of 4,096 blocks.
inline constexpr uint64_t kSpaceSectorsPerBitmapSector = 262144;
inline constexpr uint32_t kSpaceBitmapMinBytes = 1024;
inline constexpr uint32_t kSpaceBitmapMaxBytes = 4193792;

inline constexpr uint8_t kFileSystemNtfs = 7;
inline constexpr uint8_t kFileSystemFat32 = 0x0B;

inline constexpr uint32_t kParametersBytes = 1024;
inline constexpr uint32_t kRequestBytes = 1024;
inline constexpr uint32_t kStatusBytes = 512;
inline constexpr uint32_t kHeaderWriteBytes = kRequestBytes + kEngineHeaderBytes;

// ---- Control codes of the engine's control device --------------------------

constexpr uint32_t EngineControlCode(uint32_t function) {
  // CTL_CODE(0x8000, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
  return (0x8000u << 16) | (function << 2);
}

inline constexpr uint32_t IOCTL_ENGINE_QUERY_STATUS = EngineControlCode(0x800);
inline constexpr uint32_t IOCTL_ENGINE_START_TEMPORARY = EngineControlCode(0x801);
inline constexpr uint32_t IOCTL_ENGINE_CREATE_SNAPSHOT = EngineControlCode(0x802);
inline constexpr uint32_t IOCTL_ENGINE_DELETE_SNAPSHOT = EngineControlCode(0x803);
inline constexpr uint32_t IOCTL_ENGINE_SET_ROLLBACK = EngineControlCode(0x804);
inline constexpr uint32_t IOCTL_ENGINE_READ_HEADER = EngineControlCode(0x805);
inline constexpr uint32_t IOCTL_ENGINE_WRITE_HEADER = EngineControlCode(0x806);
inline constexpr uint32_t IOCTL_ENGINE_MOUNT_SNAPSHOT = EngineControlCode(0x807);
inline constexpr uint32_t IOCTL_ENGINE_UNMOUNT_SNAPSHOT = EngineControlCode(0x808);
inline constexpr uint32_t IOCTL_ENGINE_GET_MOUNT_TABLE = EngineControlCode(0x80E);
inline constexpr uint32_t IOCTL_ENGINE_RECLAIM_SPACE = EngineControlCode(0x80F);
inline constexpr uint32_t IOCTL_ENGINE_SYSTEM_CONTROL = EngineControlCode(0x810);
inline constexpr uint32_t IOCTL_ENGINE_PROBE_FILE = EngineControlCode(0x811);
inline constexpr uint32_t IOCTL_ENGINE_STOP_VOLUME = EngineControlCode(0x812);
inline constexpr uint32_t IOCTL_ENGINE_ADD_EXCLUDED_FILE = EngineControlCode(0x813);
static_assert(IOCTL_ENGINE_QUERY_STATUS == 0x80002000u, "first engine code");
static_assert(IOCTL_ENGINE_ADD_EXCLUDED_FILE == 0x8000204Cu, "last engine code");

inline constexpr uint32_t kVolumeNameIsDriveLetter = 1;  // VolumeNameKind
inline constexpr uint32_t kStatusInterfaceVersion = 0x831;

enum EngineModeValue : uint32_t { kEngineOff = 0, kEngineTracking = 1, kEngineTemporary = 2 };

#pragma pack(push, 1)

// ---- Small parts ------------------------------------------------------------

// Windows SYSTEMTIME: eight u16.
struct RecordTime {
  uint16_t Year;
  uint16_t Month;
  uint16_t DayOfWeek;
  uint16_t Day;
  uint16_t Hour;
  uint16_t Minute;
  uint16_t Second;
  uint16_t Milliseconds;
};
VH_CHECK_SIZE(RecordTime, 16);
VH_CHECK_OFFSET(RecordTime, Milliseconds, 14);

// Windows GUID.
struct RecordGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
VH_CHECK_SIZE(RecordGuid, 16);
VH_CHECK_OFFSET(RecordGuid, Data4, 8);

struct AreaExtent {
  uint64_t StartSector;  // volume sector
  uint32_t SectorCount;  // 0 = unused
};
VH_CHECK_SIZE(AreaExtent, 12);
VH_CHECK_OFFSET(AreaExtent, SectorCount, 8);

// ---- SnapshotSlot -------------------------------------------------------------

struct SnapshotSlot {
  uint8_t ClientTag[4];
  uint8_t Number;  // kFreedSlotNumber in a freed slot
  uint8_t Used;
  uint16_t Signature;  // kRecordSignature while valid, 0 when freed
  RecordTime CreateTime;
  uint64_t SavedMapSector;
  uint64_t SavedMapLastSector;
  char Name[24];
  RecordGuid Guid;
  char Remark[48];
};
VH_CHECK_SIZE(SnapshotSlot, 128);
VH_CHECK_OFFSET(SnapshotSlot, Number, 0x04);
VH_CHECK_OFFSET(SnapshotSlot, Used, 0x05);
VH_CHECK_OFFSET(SnapshotSlot, Signature, 0x06);
VH_CHECK_OFFSET(SnapshotSlot, CreateTime, 0x08);
VH_CHECK_OFFSET(SnapshotSlot, SavedMapSector, 0x18);
VH_CHECK_OFFSET(SnapshotSlot, SavedMapLastSector, 0x20);
VH_CHECK_OFFSET(SnapshotSlot, Name, 0x28);
VH_CHECK_OFFSET(SnapshotSlot, Guid, 0x40);
VH_CHECK_OFFSET(SnapshotSlot, Remark, 0x50);

// ---- EngineHeader (64 KB) -------------------------------------------------------

struct EngineHeader {
  uint32_t Magic;
  uint8_t Unused004[4];
  uint32_t Version;
  uint32_t VolumeId;
  uint32_t ManagerWord010;  // read by the manager, never by the engine
  uint8_t Unused014[4];
  uint64_t VolumeBytes;
  uint8_t Unused020[4];
  uint32_t SectorsPerCluster;
  uint64_t DataStartSector;
  uint32_t LowWaterSectors;
  uint32_t VolumeSectors;
  uint8_t Unused038[9];
  uint8_t RollbackPending;
  uint8_t RollbackTarget;
  uint8_t MaxSnapshots;
  uint8_t OldestNumber;
  uint8_t SnapshotCount;
  uint8_t CountCopy;
  uint8_t Unused047[9];
  uint8_t ReclaimPending;
  uint8_t SpareFlag;
  uint8_t Unused052;
  uint8_t HourlySchedule;
  uint8_t Unused054[44];
  // Regions: {first, last} engine sectors, both inclusive.
  uint64_t AreaBaseSector;  // 0 = the area is described by AreaExtents
  uint64_t AreaLastSector;
  uint64_t HeaderSector;
  uint64_t HeaderLastSector;
  uint64_t BootImageSector;
  uint64_t BootImageLastSector;
  uint64_t BootBackupSector;
  uint64_t BootBackupLastSector;
  uint64_t LoaderImageSector;
  uint64_t LoaderImageLastSector;
  uint8_t Unused0D0[16];
  uint64_t SpaceBitmapSector;
  uint64_t SpaceBitmapLastSector;
  uint64_t BlockMapFirst;
  uint64_t BlockMapLast;
  SnapshotSlot NewestSnapshot;
  uint64_t SpaceFirst;
  uint64_t SpaceLast;
  AreaExtent AreaExtents[kAreaExtentCount];
  uint8_t Unused1F0[14];
  uint16_t Signature;
  SnapshotSlot Slots[kSlotCount];
  uint8_t Unused1180[5];
  uint8_t ReinitPending;
  uint8_t Unused1186[18];
  uint64_t ReleaseListSector;
  uint8_t Preserved[kEngineHeaderBytes - 0x11A0];  // kept through whole-header writes
};
VH_CHECK_SIZE(EngineHeader, 65536);
VH_CHECK_OFFSET(EngineHeader, Magic, 0x000);
VH_CHECK_OFFSET(EngineHeader, Version, 0x008);
VH_CHECK_OFFSET(EngineHeader, VolumeId, 0x00C);
VH_CHECK_OFFSET(EngineHeader, ManagerWord010, 0x010);
VH_CHECK_OFFSET(EngineHeader, VolumeBytes, 0x018);
VH_CHECK_OFFSET(EngineHeader, SectorsPerCluster, 0x024);
VH_CHECK_OFFSET(EngineHeader, DataStartSector, 0x028);
VH_CHECK_OFFSET(EngineHeader, LowWaterSectors, 0x030);
VH_CHECK_OFFSET(EngineHeader, VolumeSectors, 0x034);
VH_CHECK_OFFSET(EngineHeader, RollbackPending, 0x041);
VH_CHECK_OFFSET(EngineHeader, RollbackTarget, 0x042);
VH_CHECK_OFFSET(EngineHeader, MaxSnapshots, 0x043);
VH_CHECK_OFFSET(EngineHeader, OldestNumber, 0x044);
VH_CHECK_OFFSET(EngineHeader, SnapshotCount, 0x045);
VH_CHECK_OFFSET(EngineHeader, CountCopy, 0x046);
VH_CHECK_OFFSET(EngineHeader, ReclaimPending, 0x050);
VH_CHECK_OFFSET(EngineHeader, SpareFlag, 0x051);
VH_CHECK_OFFSET(EngineHeader, HourlySchedule, 0x053);
VH_CHECK_OFFSET(EngineHeader, AreaBaseSector, 0x080);
VH_CHECK_OFFSET(EngineHeader, AreaLastSector, 0x088);
VH_CHECK_OFFSET(EngineHeader, HeaderSector, 0x090);
VH_CHECK_OFFSET(EngineHeader, HeaderLastSector, 0x098);
VH_CHECK_OFFSET(EngineHeader, BootImageSector, 0x0A0);
VH_CHECK_OFFSET(EngineHeader, BootImageLastSector, 0x0A8);
VH_CHECK_OFFSET(EngineHeader, BootBackupSector, 0x0B0);
VH_CHECK_OFFSET(EngineHeader, BootBackupLastSector, 0x0B8);
VH_CHECK_OFFSET(EngineHeader, LoaderImageSector, 0x0C0);
VH_CHECK_OFFSET(EngineHeader, LoaderImageLastSector, 0x0C8);
VH_CHECK_OFFSET(EngineHeader, SpaceBitmapSector, 0x0E0);
VH_CHECK_OFFSET(EngineHeader, SpaceBitmapLastSector, 0x0E8);
VH_CHECK_OFFSET(EngineHeader, BlockMapFirst, 0x0F0);
VH_CHECK_OFFSET(EngineHeader, BlockMapLast, 0x0F8);
VH_CHECK_OFFSET(EngineHeader, NewestSnapshot, 0x100);
VH_CHECK_OFFSET(EngineHeader, SpaceFirst, 0x180);
VH_CHECK_OFFSET(EngineHeader, SpaceLast, 0x188);
VH_CHECK_OFFSET(EngineHeader, AreaExtents, 0x190);
VH_CHECK_OFFSET(EngineHeader, Signature, 0x1FE);
VH_CHECK_OFFSET(EngineHeader, Slots, 0x200);
VH_CHECK_OFFSET(EngineHeader, ReinitPending, 0x1185);
VH_CHECK_OFFSET(EngineHeader, ReleaseListSector, 0x1198);
VH_CHECK_OFFSET(EngineHeader, Preserved, 0x11A0);

// ---- EngineParameters: the "Parameter" registry record (1 KB) ---------------------

struct HeaderLocation {
  uint64_t Sector;  // volume sector of an EngineHeader
  uint32_t Valid;   // nonzero = in use
  uint32_t VolumeId;
};
VH_CHECK_SIZE(HeaderLocation, 16);
VH_CHECK_OFFSET(HeaderLocation, Valid, 8);
VH_CHECK_OFFSET(HeaderLocation, VolumeId, 12);

struct EngineParameters {
  uint32_t Magic;
  uint32_t Word004;  // nonzero: some readers test it as the record's second word
  uint32_t Word008;  // must be nonzero
  RecordWChar ProtectedDrive;
  uint8_t Unused00E[0x32];
  RecordWChar PinnedPath1[192];
  RecordWChar HeaderFileName[64];
  RecordWChar PinnedPath2[64];
  HeaderLocation HeaderLocations[kHeaderLocationCount];
  uint8_t Unused300[0xFE];
  uint16_t Signature;
};
VH_CHECK_SIZE(EngineParameters, 1024);
VH_CHECK_OFFSET(EngineParameters, Word004, 0x004);
VH_CHECK_OFFSET(EngineParameters, Word008, 0x008);
VH_CHECK_OFFSET(EngineParameters, ProtectedDrive, 0x00C);
VH_CHECK_OFFSET(EngineParameters, PinnedPath1, 0x040);
VH_CHECK_OFFSET(EngineParameters, HeaderFileName, 0x1C0);
VH_CHECK_OFFSET(EngineParameters, PinnedPath2, 0x240);
VH_CHECK_OFFSET(EngineParameters, HeaderLocations, 0x2C0);
VH_CHECK_OFFSET(EngineParameters, Signature, 0x3FE);

// ---- Control-request records ---------------------------------------------------------

struct VolumeRequest {
  uint8_t ClientTag[4];
  RecordTime CreateTime;
  uint8_t Reserved014[5];
  uint32_t VolumeNameKind;  // kVolumeNameIsDriveLetter or a device name
  RecordWChar VolumeName[260];
  uint32_t SnapshotNumber;
  uint32_t MountDriveIndex;  // 0 = "A"
  char SnapshotName[24];
  RecordGuid SnapshotGuid;
  char SnapshotRemark[48];
  uint32_t MountCurrentState;
  uint32_t MountNoLetter;
  RecordWChar ExcludePath[185];
  uint8_t Tail3FF;
};
VH_CHECK_SIZE(VolumeRequest, 1024);
VH_CHECK_OFFSET(VolumeRequest, CreateTime, 0x004);
VH_CHECK_OFFSET(VolumeRequest, Reserved014, 0x014);
VH_CHECK_OFFSET(VolumeRequest, VolumeNameKind, 0x019);
VH_CHECK_OFFSET(VolumeRequest, VolumeName, 0x01D);
VH_CHECK_OFFSET(VolumeRequest, SnapshotNumber, 0x225);
VH_CHECK_OFFSET(VolumeRequest, MountDriveIndex, 0x229);
VH_CHECK_OFFSET(VolumeRequest, SnapshotName, 0x22D);
VH_CHECK_OFFSET(VolumeRequest, SnapshotGuid, 0x245);
VH_CHECK_OFFSET(VolumeRequest, SnapshotRemark, 0x255);
VH_CHECK_OFFSET(VolumeRequest, MountCurrentState, 0x285);
VH_CHECK_OFFSET(VolumeRequest, MountNoLetter, 0x289);
VH_CHECK_OFFSET(VolumeRequest, ExcludePath, 0x28D);
VH_CHECK_OFFSET(VolumeRequest, Tail3FF, 0x3FF);
// The name, GUID and remark sit where a SnapshotSlot keeps them when the slot
// is laid over the request at 0x205.
static_assert(offsetof(VolumeRequest, SnapshotName) - offsetof(SnapshotSlot, Name) == 0x205,
              "request name lines up with a slot at 0x205");
static_assert(offsetof(VolumeRequest, SnapshotRemark) - offsetof(SnapshotSlot, Remark) == 0x205,
              "request remark lines up with a slot at 0x205");

struct RollbackRequest {
  uint8_t Schedule;  // nonzero = schedule, 0 = cancel
  uint8_t TargetNumber;
  uint8_t ReclaimFlag;
  uint8_t SpareFlag;
  uint8_t Reserved004[4];
  uint32_t VolumeNameKind;
  RecordWChar VolumeName[260];
  // Optional: the target's identity. When the GUID is not all zero the
  // engine schedules the snapshot with this GUID and creation time, whatever
  // number it has by then (an oldest-drop renumbers); else TargetNumber.
  RecordGuid TargetGuid;
  RecordTime TargetCreateTime;
  uint8_t Reserved234[kRequestBytes - 0x234];
};
VH_CHECK_SIZE(RollbackRequest, 1024);
VH_CHECK_OFFSET(RollbackRequest, TargetNumber, 0x01);
VH_CHECK_OFFSET(RollbackRequest, ReclaimFlag, 0x02);
VH_CHECK_OFFSET(RollbackRequest, SpareFlag, 0x03);
VH_CHECK_OFFSET(RollbackRequest, VolumeNameKind, 0x08);
VH_CHECK_OFFSET(RollbackRequest, VolumeName, 0x0C);
VH_CHECK_OFFSET(RollbackRequest, TargetGuid, 0x214);
VH_CHECK_OFFSET(RollbackRequest, TargetCreateTime, 0x224);
VH_CHECK_OFFSET(RollbackRequest, Reserved234, 0x234);

struct EngineStatus {
  uint32_t InterfaceVersion;  // kStatusInterfaceVersion
  uint32_t EngineMode;        // EngineModeValue
  uint32_t PnpState;          // 1 = started
  uint32_t FreeSectors;
  uint32_t TotalSectors;
  RecordWChar DriveLetter;
  uint8_t Reserved016[kStatusBytes - 0x16];
};
VH_CHECK_SIZE(EngineStatus, 512);
VH_CHECK_OFFSET(EngineStatus, EngineMode, 0x04);
VH_CHECK_OFFSET(EngineStatus, PnpState, 0x08);
VH_CHECK_OFFSET(EngineStatus, FreeSectors, 0x0C);
VH_CHECK_OFFSET(EngineStatus, TotalSectors, 0x10);
VH_CHECK_OFFSET(EngineStatus, DriveLetter, 0x14);
VH_CHECK_OFFSET(EngineStatus, Reserved016, 0x16);

struct MountEntry {
  uint8_t InUse;
  uint64_t VolumeDevice;  // kernel address; only a nonzero marker to callers
  uint64_t MountDevice;
  RecordWChar DeviceName[47];
};
VH_CHECK_SIZE(MountEntry, 111);
VH_CHECK_OFFSET(MountEntry, VolumeDevice, 0x01);
VH_CHECK_OFFSET(MountEntry, MountDevice, 0x09);
VH_CHECK_OFFSET(MountEntry, DeviceName, 0x11);

inline constexpr uint32_t kMountEntryCount = 33;
inline constexpr uint32_t kCurrentStateEntry = 32;  // entries 0..31 are snapshots 1..32

struct MountTable {
  MountEntry Entries[kMountEntryCount];
};
VH_CHECK_SIZE(MountTable, 3663);
static_assert(offsetof(MountTable, Entries) + kCurrentStateEntry * sizeof(MountEntry) == 3552,
              "the current-state entry sits at byte 3552");

#pragma pack(pop)

// ---- Sizes derived from a header's regions ---------------------------------------

// Bytes of the SpaceBitmap for a space of first..last engine sectors; whole
// units of 4,096 blocks, a remainder rounded down. Valid only when it lies in
// kSpaceBitmapMinBytes..kSpaceBitmapMaxBytes.
constexpr uint64_t SpaceBitmapBytes(uint64_t spaceFirst, uint64_t spaceLast) {
  return spaceLast < spaceFirst
             ? 0
             : (spaceLast - spaceFirst + 1) / kSpaceSectorsPerBitmapSector * kSectorBytes;
}
static_assert(SpaceBitmapBytes(0, 4096ull * 64 * 2 - 1) == 1024, "two bitmap sectors");
static_assert(SpaceBitmapBytes(0, 4096ull * 64 * 2 - 2) == 512, "a remainder rounds down");

}  // namespace vh
