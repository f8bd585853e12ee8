// The I/O manager: driver and device objects, device stacks, IRPs with their
// stack locations, completion, MDLs, file objects, remove locks and the
// object manager calls the engine makes.
#pragma once

#include "hostkernel/nt_ex.h"
#include "hostkernel/nt_rtl.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
#define POINTER_ALIGNMENT alignas(8)
#else
#define POINTER_ALIGNMENT
#endif

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CREATE_NAMED_PIPE 0x01
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_QUERY_INFORMATION 0x05
#define IRP_MJ_SET_INFORMATION 0x06
#define IRP_MJ_FLUSH_BUFFERS 0x09
#define IRP_MJ_QUERY_VOLUME_INFORMATION 0x0A
#define IRP_MJ_DIRECTORY_CONTROL 0x0C
#define IRP_MJ_FILE_SYSTEM_CONTROL 0x0D
#define IRP_MJ_DEVICE_CONTROL 0x0E
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0F
#define IRP_MJ_SHUTDOWN 0x10
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_PNP 0x1B
#define IRP_MJ_MAXIMUM_FUNCTION 0x1B

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_DEVICE_USAGE_NOTIFICATION 0x16
#define IRP_MN_SURPRISE_REMOVAL 0x17
#define IRP_MN_USER_FS_REQUEST 0x00

#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

#define DO_VERIFY_VOLUME 0x00000002
#define DO_BUFFERED_IO 0x00000004
#define DO_EXCLUSIVE 0x00000008
#define DO_DIRECT_IO 0x00000010
#define DO_DEVICE_INITIALIZING 0x00000080
#define DO_POWER_PAGABLE 0x00002000
#define DO_POWER_INRUSH 0x00004000

#define FILE_REMOVABLE_MEDIA 0x00000001
#define FILE_READ_ONLY_DEVICE 0x00000002
#define FILE_FLOPPY_DISKETTE 0x00000004
#define FILE_WRITE_ONCE_MEDIA 0x00000008
#define FILE_DEVICE_SECURE_OPEN 0x00000100

using DEVICE_TYPE = ULONG;
#define FILE_DEVICE_CD_ROM 0x00000002
#define FILE_DEVICE_DISK 0x00000007
#define FILE_DEVICE_DISK_FILE_SYSTEM 0x00000008
#define FILE_DEVICE_FILE_SYSTEM 0x00000009
#define FILE_DEVICE_MASS_STORAGE 0x0000002D
#define FILE_DEVICE_NETWORK_FILE_SYSTEM 0x00000014
#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_VIRTUAL_DISK 0x00000024

#define VPB_MOUNTED 0x0001

#define IRP_BUFFERED_IO 0x00000010
#define IRP_DEALLOCATE_BUFFER 0x00000020
#define IRP_INPUT_OPERATION 0x00000040
#define IRP_SYNCHRONOUS_API 0x00000004

#define FO_SYNCHRONOUS_IO 0x00000002
#define FO_ALERTABLE_IO 0x00000004
#define FO_NO_INTERMEDIATE_BUFFERING 0x00000008
#define FO_WRITE_THROUGH 0x00000010
#define FO_RANDOM_ACCESS 0x00100000

#define IO_TYPE_DEVICE 3
#define IO_TYPE_DRIVER 4
#define IO_TYPE_FILE 5
#define IO_TYPE_IRP 6
#define IO_TYPE_VPB 10

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct IRP;
struct FILE_OBJECT;
struct IO_STACK_LOCATION;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PIRP = IRP*;
using PFILE_OBJECT = FILE_OBJECT*;
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

using DRIVER_DISPATCH = NTSTATUS(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_DISPATCH = DRIVER_DISPATCH*;
using DRIVER_ADD_DEVICE = NTSTATUS(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDevice);
using PDRIVER_ADD_DEVICE = DRIVER_ADD_DEVICE*;
using DRIVER_UNLOAD = void(PDRIVER_OBJECT driverObject);
using PDRIVER_UNLOAD = DRIVER_UNLOAD*;
using DRIVER_INITIALIZE = NTSTATUS(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
using PDRIVER_INITIALIZE = DRIVER_INITIALIZE*;
using DRIVER_REINITIALIZE = void(PDRIVER_OBJECT driverObject, PVOID context, ULONG count);
using PDRIVER_REINITIALIZE = DRIVER_REINITIALIZE*;
using IO_COMPLETION_ROUTINE = NTSTATUS(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
using PIO_COMPLETION_ROUTINE = IO_COMPLETION_ROUTINE*;
using DRIVER_CANCEL = void(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_CANCEL = DRIVER_CANCEL*;

struct IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

struct MDL {
  MDL* Next;
  CSHORT Size;
  CSHORT MdlFlags;
  PVOID Process;
  PVOID MappedSystemVa;
  PVOID StartVa;
  ULONG ByteCount;
  ULONG ByteOffset;
};
using PMDL = MDL*;
#define MDL_PAGES_LOCKED 0x0002
#define MDL_SOURCE_IS_NONPAGED_POOL 0x0004
#define MDL_PARTIAL 0x0010
#define MDL_MAPPING_CAN_FAIL 0x2000

enum LOCK_OPERATION { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 };
enum MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 };

struct DRIVER_EXTENSION {
  DRIVER_OBJECT* DriverObject;
  PDRIVER_ADD_DEVICE AddDevice;
  ULONG Count;
  UNICODE_STRING ServiceKeyName;
};
using PDRIVER_EXTENSION = DRIVER_EXTENSION*;

struct DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;  // newest device first
  ULONG Flags;
  PVOID DriverStart;
  ULONG DriverSize;
  PVOID DriverSection;
  PDRIVER_EXTENSION DriverExtension;
  UNICODE_STRING DriverName;
  PUNICODE_STRING HardwareDatabase;
  PVOID FastIoDispatch;
  PDRIVER_INITIALIZE DriverInit;
  PVOID DriverStartIo;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct VPB {
  CSHORT Type;
  CSHORT Size;
  USHORT Flags;
  USHORT VolumeLabelLength;
  PDEVICE_OBJECT DeviceObject;  // the mounted file system's device
  PDEVICE_OBJECT RealDevice;
  ULONG SerialNumber;
  ULONG ReferenceCount;
  WCHAR VolumeLabel[32];
};
using PVPB = VPB*;

struct DEVOBJ_EXTENSION {
  CSHORT Type;
  USHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PDEVICE_OBJECT AttachedTo;  // the device this one sits on
};

struct DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;  // open file objects
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT NextDevice;
  PDEVICE_OBJECT AttachedDevice;
  PIRP CurrentIrp;
  PVOID Timer;
  ULONG Flags;
  ULONG Characteristics;
  PVPB Vpb;
  PVOID DeviceExtension;
  DEVICE_TYPE DeviceType;
  CCHAR StackSize;
  ULONG AlignmentRequirement;
  USHORT SectorSize;
  DEVOBJ_EXTENSION* DeviceObjectExtension;
};

struct SECTION_OBJECT_POINTERS;
struct FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PVPB Vpb;
  PVOID FsContext;
  PVOID FsContext2;
  SECTION_OBJECT_POINTERS* SectionObjectPointer;
  PVOID PrivateCacheMap;
  NTSTATUS FinalStatus;
  FILE_OBJECT* RelatedFileObject;
  BOOLEAN LockOperation;
  BOOLEAN DeletePending;
  BOOLEAN ReadAccess;
  BOOLEAN WriteAccess;
  BOOLEAN DeleteAccess;
  BOOLEAN SharedRead;
  BOOLEAN SharedWrite;
  BOOLEAN SharedDelete;
  ULONG Flags;
  UNICODE_STRING FileName;
  LARGE_INTEGER CurrentByteOffset;
  ULONG Waiters;
  ULONG Busy;
  PVOID LastLock;
  KEVENT Lock;
  KEVENT Event;
};

enum FILE_INFORMATION_CLASS {
  FileBasicInformation = 4,
  FileStandardInformation = 5,
  FilePositionInformation = 14,
  FileEndOfFileInformation = 20,
};
enum FS_INFORMATION_CLASS { FileFsVolumeInformation = 1, FileFsSizeInformation = 3 };
enum DEVICE_USAGE_NOTIFICATION_TYPE {
  DeviceUsageTypeUndefined = 0,
  DeviceUsageTypePaging = 1,
  DeviceUsageTypeHibernation = 2,
  DeviceUsageTypeDumpFile = 3,
};
enum POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState = 1 };
union POWER_STATE {
  ULONG SystemState;
  ULONG DeviceState;
};

// Who opens: the create request's security context. The access state keeps
// only its leading fields, up to the subject's context (the engine reads
// the subject's token); privileges and names are left out.
using PACCESS_TOKEN = PVOID;
enum SECURITY_IMPERSONATION_LEVEL {
  SecurityAnonymous = 0,
  SecurityIdentification = 1,
  SecurityImpersonation = 2,
  SecurityDelegation = 3,
};
struct SECURITY_SUBJECT_CONTEXT {
  PACCESS_TOKEN ClientToken;
  SECURITY_IMPERSONATION_LEVEL ImpersonationLevel;
  PACCESS_TOKEN PrimaryToken;
  PVOID ProcessAuditId;
};
using PSECURITY_SUBJECT_CONTEXT = SECURITY_SUBJECT_CONTEXT*;
struct LUID {
  ULONG LowPart;
  LONG HighPart;
};
struct ACCESS_STATE {
  LUID OperationID;
  BOOLEAN SecurityEvaluated;
  BOOLEAN GenerateAudit;
  BOOLEAN GenerateOnClose;
  BOOLEAN PrivilegesAllocated;
  ULONG Flags;
  ACCESS_MASK RemainingDesiredAccess;
  ACCESS_MASK PreviouslyGrantedAccess;
  ACCESS_MASK OriginalDesiredAccess;
  SECURITY_SUBJECT_CONTEXT SubjectSecurityContext;
  PVOID SecurityDescriptor;
};
using PACCESS_STATE = ACCESS_STATE*;
struct IO_SECURITY_CONTEXT {
  PVOID SecurityQos;
  PACCESS_STATE AccessState;
  ACCESS_MASK DesiredAccess;
  ULONG FullCreateOptions;
};
using PIO_SECURITY_CONTEXT = IO_SECURITY_CONTEXT*;
// The token a subject acts with: the impersonated client's, else the
// process's own.
inline PACCESS_TOKEN SeQuerySubjectContextToken(PSECURITY_SUBJECT_CONTEXT context) {
  return context->ClientToken != nullptr ? context->ClientToken : context->PrimaryToken;
}
// Whether the token's user belongs to the administrators (enabled group).
BOOLEAN SeTokenIsAdmin(PACCESS_TOKEN token);

// The parameter union overlays exactly as the kernel's does: a device
// control request can be turned into a file-system control request by
// changing only the major and minor function.
struct IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      PIO_SECURITY_CONTEXT SecurityContext;
      POINTER_ALIGNMENT ULONG Options;
      POINTER_ALIGNMENT USHORT FileAttributes;
      USHORT ShareAccess;
      POINTER_ALIGNMENT ULONG EaLength;
    } Create;
    struct {
      ULONG Length;
      POINTER_ALIGNMENT ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      POINTER_ALIGNMENT ULONG Key;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG Length;
      POINTER_ALIGNMENT FILE_INFORMATION_CLASS FileInformationClass;
    } QueryFile;
    struct {
      ULONG Length;
      POINTER_ALIGNMENT FS_INFORMATION_CLASS FsInformationClass;
    } QueryVolume;
    struct {
      ULONG OutputBufferLength;
      POINTER_ALIGNMENT ULONG InputBufferLength;
      POINTER_ALIGNMENT ULONG FsControlCode;
      PVOID Type3InputBuffer;
    } FileSystemControl;
    struct {
      ULONG OutputBufferLength;
      POINTER_ALIGNMENT ULONG InputBufferLength;
      POINTER_ALIGNMENT ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      BOOLEAN InPath;
      BOOLEAN Reserved[3];
      POINTER_ALIGNMENT DEVICE_USAGE_NOTIFICATION_TYPE Type;
    } UsageNotification;
    struct {
      ULONG SystemContext;
      POINTER_ALIGNMENT POWER_STATE_TYPE Type;
      POINTER_ALIGNMENT POWER_STATE State;
      POINTER_ALIGNMENT ULONG ShutdownType;
    } Power;
    struct {
      PVOID Argument1;
      PVOID Argument2;
      PVOID Argument3;
      PVOID Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
  // Layer bookkeeping, never copied to the next location: the dispatch
  // routine that owns this location answered STATUS_PENDING.
  UCHAR HostReturnedPending;
};

struct IRP {
  CSHORT Type;
  USHORT Size;
  PMDL MdlAddress;
  ULONG Flags;
  union {
    IRP* MasterIrp;
    LONG IrpCount;
    PVOID SystemBuffer;
  } AssociatedIrp;
  LIST_ENTRY ThreadListEntry;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CHAR StackCount;
  CHAR CurrentLocation;
  BOOLEAN Cancel;
  KIRQL CancelIrql;
  CCHAR ApcEnvironment;
  UCHAR AllocationFlags;
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  PDRIVER_CANCEL CancelRoutine;
  PVOID UserBuffer;
  struct {
    struct {
      PVOID DriverContext[4];
      PETHREAD Thread;
      PCHAR AuxiliaryBuffer;
      LIST_ENTRY ListEntry;
      IO_STACK_LOCATION* CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
  } Tail;
  // Layer bookkeeping.
  ULONG HostKind;          // how the IRP was made (see io.cpp)
  ULONG HostOutputLength;  // caller's output buffer length for copy-back
  ULONG HostSystemBufferLength;
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation - 1;
}
inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoSetNextIrpStackLocation(PIRP irp) {
  irp->CurrentLocation--;
  irp->Tail.Overlay.CurrentStackLocation--;
}
inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  std::memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                                   BOOLEAN onSuccess, BOOLEAN onError, BOOLEAN onCancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->CompletionRoutine = routine;
  next->Context = context;
  next->Control = 0;
  if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (onError) next->Control |= SL_INVOKE_ON_ERROR;
  if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
void IoMarkIrpPending(PIRP irp);

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp);
void IoCompleteRequest(PIRP irp, CCHAR priorityBoost);
#define IofCompleteRequest IoCompleteRequest
#define IofCallDriver IoCallDriver
NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp);
void PoStartNextPowerIrp(PIRP irp);
BOOLEAN IoCancelIrp(PIRP irp);

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN chargeQuota);
void IoFreeIrp(PIRP irp);
PIRP IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT device, PVOID buffer,
                                  ULONG length, PLARGE_INTEGER startingOffset, PKEVENT event,
                                  PIO_STATUS_BLOCK ioStatus);
PIRP IoBuildAsynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT device, PVOID buffer,
                                   ULONG length, PLARGE_INTEGER startingOffset,
                                   PIO_STATUS_BLOCK ioStatus);
PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT device, PVOID inputBuffer,
                                   ULONG inputLength, PVOID outputBuffer, ULONG outputLength,
                                   BOOLEAN internalDeviceIoControl, PKEVENT event,
                                   PIO_STATUS_BLOCK ioStatus);

PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN chargeQuota,
                   PIRP irp);
void IoFreeMdl(PMDL mdl);
void IoBuildPartialMdl(PMDL sourceMdl, PMDL targetMdl, PVOID virtualAddress, ULONG length);
void MmBuildMdlForNonPagedPool(PMDL mdl);
void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE mode, LOCK_OPERATION operation);
void MmUnlockPages(PMDL mdl);
PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority);
inline PVOID MmGetMdlVirtualAddress(PMDL mdl) {
  return static_cast<PUCHAR>(mdl->StartVa) + mdl->ByteOffset;
}
inline ULONG MmGetMdlByteCount(PMDL mdl) { return mdl->ByteCount; }

// Devices and stacks.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* device);
// The WDM library's secure variant: the device's DACL given in SDDL (the
// layer keeps the string; hk::DeviceSecurity answers it), the class GUID
// for overrides (recorded nowhere).
NTSTATUS IoCreateDeviceSecure(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PCUNICODE_STRING sddl, const GUID* classGuid, PDEVICE_OBJECT* device);
void IoDeleteDevice(PDEVICE_OBJECT device);
PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
NTSTATUS IoAttachDevice(PDEVICE_OBJECT source, PUNICODE_STRING targetName,
                        PDEVICE_OBJECT* attachedDevice);
void IoDetachDevice(PDEVICE_OBJECT target);
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT device);
PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT device);
PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT fileObject);
NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK access,
                                  PFILE_OBJECT* fileObject, PDEVICE_OBJECT* device);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING linkName, PUNICODE_STRING deviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING linkName);
NTSTATUS IoVolumeDeviceToDosName(PVOID volumeDevice, PUNICODE_STRING dosName);

NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driver, PVOID clientIdentification,
                                         ULONG size, PVOID* extension);
PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driver, PVOID clientIdentification);
void IoRegisterDriverReinitialization(PDRIVER_OBJECT driver, PDRIVER_REINITIALIZE routine,
                                      PVOID context);
void IoRegisterBootDriverReinitialization(PDRIVER_OBJECT driver, PDRIVER_REINITIALIZE routine,
                                          PVOID context);
NTSTATUS IoRegisterShutdownNotification(PDEVICE_OBJECT device);
NTSTATUS IoRegisterLastChanceShutdownNotification(PDEVICE_OBJECT device);
void IoUnregisterShutdownNotification(PDEVICE_OBJECT device);

// Remove locks.
struct IO_REMOVE_LOCK {
  ULONG HostMagic;
  ULONG Tag;
  LONG Removed;
  LONG IoCount;
  ULONG MaxLockedMinutes;
  ULONG HighWatermark;
  KEVENT RemoveEvent;
};
using PIO_REMOVE_LOCK = IO_REMOVE_LOCK*;
void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG maxLockedMinutes,
                            ULONG highWatermark);
NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag);
void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag);

// Object manager.
struct OBJECT_TYPE;
using POBJECT_TYPE = OBJECT_TYPE*;
extern POBJECT_TYPE* IoFileObjectType;
extern POBJECT_TYPE* PsThreadType;
extern POBJECT_TYPE* IoDeviceObjectType;
extern POBJECT_TYPE* ExEventObjectType;
struct OBJECT_HANDLE_INFORMATION {
  ULONG HandleAttributes;
  ACCESS_MASK GrantedAccess;
};
NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type,
                                   KPROCESSOR_MODE mode, PVOID* object,
                                   OBJECT_HANDLE_INFORMATION* info);
LONG_PTR ObfReferenceObject(PVOID object);
LONG_PTR ObfDereferenceObject(PVOID object);
#define ObReferenceObject(o) ObfReferenceObject(o)
#define ObDereferenceObject(o) ObfDereferenceObject(o)

struct OBJECT_NAME_INFORMATION {
  UNICODE_STRING Name;
};
using POBJECT_NAME_INFORMATION = OBJECT_NAME_INFORMATION*;
NTSTATUS ObQueryNameString(PVOID object, POBJECT_NAME_INFORMATION info, ULONG length,
                           PULONG returnLength);
