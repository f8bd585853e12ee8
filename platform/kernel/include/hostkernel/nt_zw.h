// Object attributes and the Zw file and registry calls.
#pragma once

#include "hostkernel/nt_io.h"

#define OBJ_INHERIT 0x00000002
#define OBJ_CASE_INSENSITIVE 0x00000040
#define OBJ_KERNEL_HANDLE 0x00000200

struct OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;
inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES p, PUNICODE_STRING name, ULONG attributes,
                                       HANDLE root, PVOID security) {
  p->Length = sizeof(OBJECT_ATTRIBUTES);
  p->RootDirectory = root;
  p->Attributes = attributes;
  p->ObjectName = name;
  p->SecurityDescriptor = security;
  p->SecurityQualityOfService = nullptr;
}

#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define WRITE_DAC 0x00040000
#define SYNCHRONIZE 0x00100000
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_ANY_ACCESS 0
#define THREAD_ALL_ACCESS 0x001FFFFF
#define KEY_QUERY_VALUE 0x0001
#define KEY_READ 0x20019

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define FILE_SUPERSEDE 0
#define FILE_OPEN 1
#define FILE_CREATE 2
#define FILE_OPEN_IF 3
#define FILE_OVERWRITE 4
#define FILE_OVERWRITE_IF 5

#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_WRITE_THROUGH 0x00000002
#define FILE_SEQUENTIAL_ONLY 0x00000004
#define FILE_NO_INTERMEDIATE_BUFFERING 0x00000008
#define FILE_SYNCHRONOUS_IO_ALERT 0x00000010
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_RANDOM_ACCESS 0x00000800

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800

#define FILE_OPENED 1

#define IO_NO_PARAMETER_CHECKING 0x0100
#define IO_OPEN_PAGING_FILE 0x0002
enum CREATE_FILE_TYPE { CreateFileTypeNone = 0 };

struct FILE_BASIC_INFORMATION {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  ULONG FileAttributes;
};
struct FILE_STANDARD_INFORMATION {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
};

using PIO_APC_ROUTINE = void (*)(PVOID, PIO_STATUS_BLOCK, ULONG);

NTSTATUS ZwCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER allocationSize,
                      ULONG fileAttributes, ULONG shareAccess, ULONG createDisposition,
                      ULONG createOptions, PVOID eaBuffer, ULONG eaLength);
NTSTATUS ZwOpenFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                    PIO_STATUS_BLOCK ioStatus, ULONG shareAccess, ULONG openOptions);
NTSTATUS IoCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER allocationSize,
                      ULONG fileAttributes, ULONG shareAccess, ULONG disposition,
                      ULONG createOptions, PVOID eaBuffer, ULONG eaLength, CREATE_FILE_TYPE type,
                      PVOID internalParameters, ULONG options);
NTSTATUS ZwClose(HANDLE handle);
NTSTATUS ZwReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apcContext,
                    PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                    PLARGE_INTEGER byteOffset, PULONG key);
NTSTATUS ZwWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apcContext,
                     PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                     PLARGE_INTEGER byteOffset, PULONG key);
NTSTATUS ZwQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK ioStatus, PVOID information,
                                ULONG length, FILE_INFORMATION_CLASS informationClass);
NTSTATUS ZwFsControlFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apcContext,
                         PIO_STATUS_BLOCK ioStatus, ULONG fsControlCode, PVOID inputBuffer,
                         ULONG inputLength, PVOID outputBuffer, ULONG outputLength);
NTSTATUS ZwDeviceIoControlFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID apcContext,
                               PIO_STATUS_BLOCK ioStatus, ULONG ioControlCode, PVOID inputBuffer,
                               ULONG inputLength, PVOID outputBuffer, ULONG outputLength);

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
enum KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation = 0,
  KeyValueFullInformation = 1,
  KeyValuePartialInformation = 2
};
struct KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
};
using PKEY_VALUE_PARTIAL_INFORMATION = KEY_VALUE_PARTIAL_INFORMATION*;
NTSTATUS ZwOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS informationClass, PVOID information,
                         ULONG length, PULONG resultLength);
