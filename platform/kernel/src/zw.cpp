// Zw file calls (on device stacks, or on host files under a mapped prefix)
// and the in-memory registry.
#include <cstdio>
#include <map>
#include <sys/stat.h>

#include "internal.h"

namespace hk::detail {
namespace {
// A host file behind a handle, kept as a key object's sibling: the handle
// table holds a pointer to this record.
struct HostFile {
  std::FILE* stream;
  bool directory;
  bool noBuffering;
  std::string path;
};
struct RegistryKey {
  std::u16string path;
};
struct RegistryValue {
  ULONG type;
  std::vector<unsigned char> data;
};
std::mutex g_zwLock;
std::map<std::u16string, std::map<std::u16string, RegistryValue>> g_registry;
std::map<HostFile*, bool> g_hostFiles;

void DestroyKey(void* body) { static_cast<RegistryKey*>(body)->~RegistryKey(); }

ULONG FileFlagsFor(ULONG options) {
  ULONG flags = 0;
  if (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT))
    flags |= FO_SYNCHRONOUS_IO;
  if (options & FILE_SYNCHRONOUS_IO_ALERT) flags |= FO_ALERTABLE_IO;
  if (options & FILE_NO_INTERMEDIATE_BUFFERING) flags |= FO_NO_INTERMEDIATE_BUFFERING;
  if (options & FILE_WRITE_THROUGH) flags |= FO_WRITE_THROUGH;
  if (options & FILE_RANDOM_ACCESS) flags |= FO_RANDOM_ACCESS;
  return flags;
}

// Handles to host files use their own kind tag in the handle table: the
// record is no kernel object.
constexpr ObKind kHostFileKind = static_cast<ObKind>(100);

NTSTATUS OpenHostFile(const std::string& path, ACCESS_MASK access, ULONG disposition, ULONG options,
                      PHANDLE handle) {
  struct stat info {};
  bool exists = ::stat(path.c_str(), &info) == 0;
  bool isDirectory = exists && S_ISDIR(info.st_mode);
  if (!exists && disposition == FILE_OPEN) return STATUS_OBJECT_NAME_NOT_FOUND;
  if ((options & FILE_DIRECTORY_FILE) && !isDirectory) return STATUS_OBJECT_NAME_INVALID;
  auto* file =
      new HostFile{nullptr, isDirectory, (options & FILE_NO_INTERMEDIATE_BUFFERING) != 0, path};
  if (!isDirectory) {
    bool write = (access & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    file->stream = std::fopen(path.c_str(), exists ? (write ? "r+b" : "rb") : "w+b");
    if (file->stream == nullptr) {
      delete file;
      return STATUS_ACCESS_DENIED;
    }
  }
  {
    std::lock_guard<std::mutex> guard(g_zwLock);
    g_hostFiles[file] = true;
  }
  *handle = CreateHandle(file, kHostFileKind, true);
  return STATUS_SUCCESS;
}

NTSTATUS CreateCommon(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatus, ULONG fileAttributes, ULONG share,
                      ULONG disposition, ULONG options) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwCreateFile");
  *handle = nullptr;
  if (attributes == nullptr || attributes->ObjectName == nullptr) return STATUS_OBJECT_NAME_INVALID;
  Resolved resolved;
  if (!ResolveName(ToU16(attributes->ObjectName), &resolved)) {
    ioStatus->Status = STATUS_OBJECT_NAME_NOT_FOUND;
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  NTSTATUS status;
  if (resolved.device == nullptr) {
    status = OpenHostFile(resolved.hostPath, access, disposition, options, handle);
  } else {
    PFILE_OBJECT file;
    status = OpenDevice(resolved.device, resolved.remainder, FileFlagsFor(options), disposition,
                        options, share, fileAttributes, &file);
    if (NT_SUCCESS(status)) *handle = CreateHandle(file, ObKind::File, true);
  }
  ioStatus->Status = status;
  ioStatus->Information = NT_SUCCESS(status) ? FILE_OPENED : 0;
  return status;
}

HostFile* HostFileOf(HANDLE handle) {
  ObKind kind;
  void* object = LookupHandle(handle, &kind);
  return object && kind == kHostFileKind ? static_cast<HostFile*>(object) : nullptr;
}

PFILE_OBJECT FileOf(HANDLE handle) {
  ObKind kind;
  void* object = LookupHandle(handle, &kind);
  return object && kind == ObKind::File ? static_cast<PFILE_OBJECT>(object) : nullptr;
}

NTSTATUS HostTransfer(HostFile* file, bool write, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                      PIO_STATUS_BLOCK ioStatus) {
  ioStatus->Information = 0;
  if (file->directory) return ioStatus->Status = STATUS_INVALID_DEVICE_REQUEST;
  LONGLONG position = offset ? offset->QuadPart : 0;
  if (file->noBuffering && (position % 512 != 0 || length % 512 != 0)) {
    return ioStatus->Status = STATUS_INVALID_PARAMETER;
  }
  if (std::fseek(file->stream, static_cast<long>(position), SEEK_SET) != 0) {
    return ioStatus->Status = STATUS_INVALID_PARAMETER;
  }
  std::size_t done;
  if (write) {
    done = std::fwrite(buffer, 1, length, file->stream);
    std::fflush(file->stream);
  } else {
    done = std::fread(buffer, 1, length, file->stream);
    if (done == 0 && length != 0) return ioStatus->Status = STATUS_END_OF_FILE;
  }
  ioStatus->Information = done;
  return ioStatus->Status = STATUS_SUCCESS;
}
}  // namespace

void ResetZw() {
  std::lock_guard<std::mutex> guard(g_zwLock);
  g_registry.clear();
  for (auto& entry : g_hostFiles) {
    if (entry.first->stream) std::fclose(entry.first->stream);
    delete entry.first;
  }
  g_hostFiles.clear();
}

}  // namespace hk::detail

using namespace hk::detail;

namespace hk {
void SetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName, ULONG type,
                      const void* data, std::size_t bytes) {
  std::lock_guard<std::mutex> guard(g_zwLock);
  auto* begin = static_cast<const unsigned char*>(data);
  g_registry[CanonicalName(keyPath)][CanonicalName(valueName)] = {type, {begin, begin + bytes}};
}
}  // namespace hk

NTSTATUS ZwCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER, ULONG fileAttributes, ULONG share,
                      ULONG disposition, ULONG options, PVOID, ULONG) {
  return CreateCommon(handle, access, attributes, ioStatus, fileAttributes, share, disposition,
                      options);
}

NTSTATUS ZwOpenFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                    PIO_STATUS_BLOCK ioStatus, ULONG share, ULONG options) {
  return CreateCommon(handle, access, attributes, ioStatus, 0, share, FILE_OPEN, options);
}

NTSTATUS IoCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK ioStatus, PLARGE_INTEGER, ULONG fileAttributes, ULONG share,
                      ULONG disposition, ULONG options, PVOID, ULONG, CREATE_FILE_TYPE, PVOID,
                      ULONG) {
  return CreateCommon(handle, access, attributes, ioStatus, fileAttributes, share, disposition,
                      options);
}

NTSTATUS ZwClose(HANDLE handle) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwClose");
  void* object;
  ObKind kind;
  if (!RemoveHandle(handle, &object, &kind)) return STATUS_INVALID_HANDLE;
  if (kind == static_cast<ObKind>(100)) {
    auto* file = static_cast<HostFile*>(object);
    std::lock_guard<std::mutex> guard(g_zwLock);
    if (file->stream) std::fclose(file->stream);
    g_hostFiles.erase(file);
    delete file;
    return STATUS_SUCCESS;
  }
  if (kind == ObKind::File) CleanupFile(static_cast<PFILE_OBJECT>(object));
  ObfDereferenceObject(object);
  return STATUS_SUCCESS;
}

namespace {
NTSTATUS Transfer(HANDLE handle, bool write, PIO_STATUS_BLOCK ioStatus, PVOID buffer, ULONG length,
                  PLARGE_INTEGER offset) {
  RequireIrqlAtMost(PASSIVE_LEVEL, write ? "ZwWriteFile" : "ZwReadFile");
  if (HostFile* host = HostFileOf(handle))
    return HostTransfer(host, write, buffer, length, offset, ioStatus);
  PFILE_OBJECT file = FileOf(handle);
  if (file == nullptr) return STATUS_INVALID_HANDLE;
  return SendFileTransfer(file, write ? IRP_MJ_WRITE : IRP_MJ_READ, buffer, length, offset,
                          ioStatus);
}
}  // namespace

NTSTATUS ZwReadFile(HANDLE handle, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK ioStatus,
                    PVOID buffer, ULONG length, PLARGE_INTEGER offset, PULONG) {
  return Transfer(handle, false, ioStatus, buffer, length, offset);
}

NTSTATUS ZwWriteFile(HANDLE handle, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK ioStatus,
                     PVOID buffer, ULONG length, PLARGE_INTEGER offset, PULONG) {
  return Transfer(handle, true, ioStatus, buffer, length, offset);
}

NTSTATUS ZwQueryInformationFile(HANDLE handle, PIO_STATUS_BLOCK ioStatus, PVOID information,
                                ULONG length, FILE_INFORMATION_CLASS informationClass) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryInformationFile");
  HostFile* host = HostFileOf(handle);
  if (host == nullptr) {
    // Device-backed files answer through their stack (the file-system
    // model handles IRP_MJ_QUERY_INFORMATION).
    PFILE_OBJECT file = FileOf(handle);
    if (file == nullptr) return STATUS_INVALID_HANDLE;
    return SendFileQuery(file, information, length, informationClass, ioStatus);
  }
  struct stat info {};
  if (::stat(host->path.c_str(), &info) != 0)
    return ioStatus->Status = STATUS_OBJECT_NAME_NOT_FOUND;
  if (informationClass == FileBasicInformation) {
    if (length < sizeof(FILE_BASIC_INFORMATION))
      return ioStatus->Status = STATUS_INFO_LENGTH_MISMATCH;
    auto* basic = static_cast<FILE_BASIC_INFORMATION*>(information);
    std::memset(basic, 0, sizeof *basic);
    basic->FileAttributes = host->directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    ioStatus->Information = sizeof *basic;
  } else if (informationClass == FileStandardInformation) {
    if (length < sizeof(FILE_STANDARD_INFORMATION))
      return ioStatus->Status = STATUS_INFO_LENGTH_MISMATCH;
    auto* standard = static_cast<FILE_STANDARD_INFORMATION*>(information);
    std::memset(standard, 0, sizeof *standard);
    standard->EndOfFile.QuadPart = info.st_size;
    standard->AllocationSize.QuadPart = (info.st_size + 4095) / 4096 * 4096;
    standard->NumberOfLinks = 1;
    standard->Directory = host->directory;
    ioStatus->Information = sizeof *standard;
  } else {
    return ioStatus->Status = STATUS_INVALID_PARAMETER;
  }
  return ioStatus->Status = STATUS_SUCCESS;
}

NTSTATUS ZwFsControlFile(HANDLE handle, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK ioStatus,
                         ULONG code, PVOID input, ULONG inputLength, PVOID output,
                         ULONG outputLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwFsControlFile");
  PFILE_OBJECT file = FileOf(handle);
  if (file == nullptr)
    return HostFileOf(handle) ? STATUS_INVALID_DEVICE_REQUEST : STATUS_INVALID_HANDLE;
  return SendFileControl(file, IRP_MJ_FILE_SYSTEM_CONTROL, code, input, inputLength, output,
                         outputLength, ioStatus);
}

NTSTATUS ZwDeviceIoControlFile(HANDLE handle, HANDLE, PIO_APC_ROUTINE, PVOID,
                               PIO_STATUS_BLOCK ioStatus, ULONG code, PVOID input,
                               ULONG inputLength, PVOID output, ULONG outputLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwDeviceIoControlFile");
  PFILE_OBJECT file = FileOf(handle);
  if (file == nullptr)
    return HostFileOf(handle) ? STATUS_INVALID_DEVICE_REQUEST : STATUS_INVALID_HANDLE;
  return SendFileControl(file, IRP_MJ_DEVICE_CONTROL, code, input, inputLength, output,
                         outputLength, ioStatus);
}

NTSTATUS ZwOpenKey(PHANDLE key, ACCESS_MASK, POBJECT_ATTRIBUTES attributes) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwOpenKey");
  *key = nullptr;
  if (attributes == nullptr || attributes->ObjectName == nullptr) return STATUS_OBJECT_NAME_INVALID;
  std::u16string path = CanonicalName(ToU16(attributes->ObjectName));
  {
    std::lock_guard<std::mutex> guard(g_zwLock);
    if (!g_registry.count(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto* object =
      static_cast<RegistryKey*>(ObAllocate(ObKind::Key, sizeof(RegistryKey), DestroyKey));
  new (object) RegistryKey{path};
  *key = CreateHandle(object, ObKind::Key, (attributes->Attributes & OBJ_KERNEL_HANDLE) != 0);
  return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS informationClass, PVOID information,
                         ULONG length, PULONG resultLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ZwQueryValueKey");
  ObKind kind;
  auto* object = static_cast<RegistryKey*>(LookupHandle(key, &kind));
  if (object == nullptr || kind != ObKind::Key) return STATUS_INVALID_HANDLE;
  if (informationClass != KeyValuePartialInformation) return STATUS_INVALID_PARAMETER;
  RegistryValue value;
  {
    std::lock_guard<std::mutex> guard(g_zwLock);
    auto& values = g_registry[object->path];
    auto it = values.find(CanonicalName(ToU16(valueName)));
    if (it == values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    value = it->second;
  }
  constexpr ULONG kHead = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
  ULONG needed = kHead + static_cast<ULONG>(value.data.size());
  if (resultLength) *resultLength = needed;
  if (length < kHead) return STATUS_BUFFER_TOO_SMALL;
  auto* partial = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(information);
  partial->TitleIndex = 0;
  partial->Type = value.type;
  partial->DataLength = static_cast<ULONG>(value.data.size());
  if (length < needed) return STATUS_BUFFER_OVERFLOW;
  std::memcpy(partial->Data, value.data.data(), value.data.size());
  return STATUS_SUCCESS;
}
