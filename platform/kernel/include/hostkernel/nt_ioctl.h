// Control codes and the disk, storage, volume and mount-manager records that
// travel in control requests. Layouts follow the platform's natural
// alignment; sizes are checked below for both word sizes.
#pragma once

#include "hostkernel/nt_io.h"

#define CTL_CODE(type, function, method, access) \
  (((ULONG)(type) << 16) | ((ULONG)(access) << 14) | ((ULONG)(function) << 2) | (ULONG)(method))
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define METHOD_FROM_CTL_CODE(code) ((ULONG)((code)&3))
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002

#define IOCTL_DISK_GET_DRIVE_GEOMETRY 0x00070000u
#define IOCTL_DISK_VERIFY 0x00070014u
#define IOCTL_DISK_IS_WRITABLE 0x00070024u
#define IOCTL_DISK_GET_PARTITION_INFO_EX 0x00070048u
#define IOCTL_DISK_GET_DRIVE_LAYOUT_EX 0x00070050u
#define IOCTL_DISK_GET_MEDIA_TYPES 0x00070C00u
#define IOCTL_DISK_GET_LENGTH_INFO 0x0007405Cu
#define IOCTL_DISK_GET_PARTITION_INFO 0x00074004u
#define IOCTL_DISK_GET_DRIVE_LAYOUT 0x0007400Cu
#define IOCTL_STORAGE_GET_HOTPLUG_INFO 0x002D0C14u
#define IOCTL_STORAGE_GET_DEVICE_NUMBER 0x002D1080u
#define IOCTL_VOLUME_ONLINE 0x0056C008u
#define IOCTL_MOUNTDEV_QUERY_UNIQUE_ID 0x004D0000u
#define IOCTL_MOUNTDEV_QUERY_DEVICE_NAME 0x004D0008u
#define IOCTL_MOUNTDEV_QUERY_SUGGESTED_LINK_NAME 0x004D000Cu
#define IOCTL_MOUNTMGR_CREATE_POINT 0x006DC000u
#define IOCTL_MOUNTMGR_DELETE_POINTS 0x006DC004u
#define IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION 0x006D402Cu
#define FSCTL_LOCK_VOLUME 0x00090018u
#define FSCTL_DISMOUNT_VOLUME 0x00090020u
#define FSCTL_GET_VOLUME_BITMAP 0x0009006Fu
#define FSCTL_GET_RETRIEVAL_POINTERS 0x00090073u
#define FSCTL_MARK_HANDLE 0x000900FCu

#define MOUNTMGR_DEVICE_NAME u"\\Device\\MountPointManager"

enum MEDIA_TYPE { Unknown = 0, RemovableMedia = 11, FixedMedia = 12 };
enum PARTITION_STYLE { PARTITION_STYLE_MBR = 0, PARTITION_STYLE_GPT = 1, PARTITION_STYLE_RAW = 2 };

struct DISK_GEOMETRY {
  LARGE_INTEGER Cylinders;
  MEDIA_TYPE MediaType;
  ULONG TracksPerCylinder;
  ULONG SectorsPerTrack;
  ULONG BytesPerSector;
};
struct PARTITION_INFORMATION {
  LARGE_INTEGER StartingOffset;
  LARGE_INTEGER PartitionLength;
  ULONG HiddenSectors;
  ULONG PartitionNumber;
  UCHAR PartitionType;
  BOOLEAN BootIndicator;
  BOOLEAN RecognizedPartition;
  BOOLEAN RewritePartition;
};
using PPARTITION_INFORMATION = PARTITION_INFORMATION*;
struct PARTITION_INFORMATION_MBR {
  UCHAR PartitionType;
  BOOLEAN BootIndicator;
  BOOLEAN RecognizedPartition;
  ULONG HiddenSectors;
};
struct PARTITION_INFORMATION_GPT {
  GUID PartitionType;
  GUID PartitionId;
  ULONG64 Attributes;
  WCHAR Name[36];
};
struct PARTITION_INFORMATION_EX {
  PARTITION_STYLE PartitionStyle;
  LARGE_INTEGER StartingOffset;
  LARGE_INTEGER PartitionLength;
  ULONG PartitionNumber;
  BOOLEAN RewritePartition;
  union {
    PARTITION_INFORMATION_MBR Mbr;
    PARTITION_INFORMATION_GPT Gpt;
  };
};
struct DRIVE_LAYOUT_INFORMATION {
  ULONG PartitionCount;
  ULONG Signature;
  PARTITION_INFORMATION PartitionEntry[1];
};
struct DRIVE_LAYOUT_INFORMATION_MBR {
  ULONG Signature;
};
struct DRIVE_LAYOUT_INFORMATION_GPT {
  GUID DiskId;
  LARGE_INTEGER StartingUsableOffset;
  LARGE_INTEGER UsableLength;
  ULONG MaxPartitionCount;
};
struct DRIVE_LAYOUT_INFORMATION_EX {
  ULONG PartitionStyle;
  ULONG PartitionCount;
  union {
    DRIVE_LAYOUT_INFORMATION_MBR Mbr;
    DRIVE_LAYOUT_INFORMATION_GPT Gpt;
  };
  PARTITION_INFORMATION_EX PartitionEntry[1];
};
struct GET_LENGTH_INFORMATION {
  LARGE_INTEGER Length;
};
struct VERIFY_INFORMATION {
  LARGE_INTEGER StartingOffset;
  ULONG Length;
};
struct STORAGE_HOTPLUG_INFO {
  ULONG Size;
  BOOLEAN MediaRemovable;
  BOOLEAN MediaHotplug;
  BOOLEAN DeviceHotplug;
  BOOLEAN WriteCacheEnableOverride;
};
struct STORAGE_DEVICE_NUMBER {
  DEVICE_TYPE DeviceType;
  ULONG DeviceNumber;
  ULONG PartitionNumber;
};
struct MOUNTDEV_NAME {
  USHORT NameLength;
  WCHAR Name[1];
};
using PMOUNTDEV_NAME = MOUNTDEV_NAME*;
struct MOUNTDEV_UNIQUE_ID {
  USHORT UniqueIdLength;
  UCHAR UniqueId[1];
};
struct MOUNTDEV_SUGGESTED_LINK_NAME {
  BOOLEAN UseOnlyIfThereAreNoOtherLinks;
  USHORT NameLength;
  WCHAR Name[1];
};
struct MOUNTMGR_TARGET_NAME {
  USHORT DeviceNameLength;
  WCHAR DeviceName[1];
};
using PMOUNTMGR_TARGET_NAME = MOUNTMGR_TARGET_NAME*;
struct MOUNTMGR_CREATE_POINT_INPUT {
  USHORT SymbolicLinkNameOffset;
  USHORT SymbolicLinkNameLength;
  USHORT DeviceNameOffset;
  USHORT DeviceNameLength;
};
using PMOUNTMGR_CREATE_POINT_INPUT = MOUNTMGR_CREATE_POINT_INPUT*;
struct MOUNTMGR_MOUNT_POINT {
  ULONG SymbolicLinkNameOffset;
  USHORT SymbolicLinkNameLength;
  ULONG UniqueIdOffset;
  USHORT UniqueIdLength;
  ULONG DeviceNameOffset;
  USHORT DeviceNameLength;
};
using PMOUNTMGR_MOUNT_POINT = MOUNTMGR_MOUNT_POINT*;
struct MOUNTMGR_MOUNT_POINTS {
  ULONG Size;
  ULONG NumberOfMountPoints;
  MOUNTMGR_MOUNT_POINT MountPoints[1];
};

static_assert(sizeof(DISK_GEOMETRY) == 24 && offsetof(DISK_GEOMETRY, BytesPerSector) == 20, "");
static_assert(sizeof(PARTITION_INFORMATION) == 32 &&
                  offsetof(PARTITION_INFORMATION, PartitionType) == 24,
              "");
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144 &&
                  offsetof(PARTITION_INFORMATION_EX, StartingOffset) == 8 &&
                  offsetof(PARTITION_INFORMATION_EX, Mbr) == 32,
              "");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION) == 40, "");
static_assert(sizeof(DRIVE_LAYOUT_INFORMATION_EX) == 192 &&
                  offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48,
              "");
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8 && sizeof(VERIFY_INFORMATION) == 16, "");
static_assert(sizeof(STORAGE_HOTPLUG_INFO) == 8 &&
                  offsetof(STORAGE_HOTPLUG_INFO, DeviceHotplug) == 6,
              "");
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12, "");
static_assert(sizeof(MOUNTDEV_NAME) == 4 && offsetof(MOUNTDEV_NAME, Name) == 2, "");
static_assert(sizeof(MOUNTDEV_SUGGESTED_LINK_NAME) == 6 &&
                  offsetof(MOUNTDEV_SUGGESTED_LINK_NAME, Name) == 4,
              "");
static_assert(sizeof(MOUNTMGR_TARGET_NAME) == 4, "");
static_assert(sizeof(MOUNTMGR_CREATE_POINT_INPUT) == 8 && sizeof(MOUNTMGR_MOUNT_POINT) == 24 &&
                  sizeof(MOUNTMGR_MOUNT_POINTS) == 32,
              "");
#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(UNICODE_STRING) == 16 && offsetof(UNICODE_STRING, Buffer) == 8, "");
static_assert(sizeof(OBJECT_NAME_INFORMATION) == 16 && sizeof(RTL_BITMAP) == 16, "");
#endif
