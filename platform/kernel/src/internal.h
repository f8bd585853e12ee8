// Shared state of the host kernel layer's units.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "hostkernel/control.h"

namespace hk::detail {

// One lock for every dispatcher object, as the kernel's dispatcher database
// lock. A signal wakes the waits blocked on that object only; they re-check
// their objects under the lock.
std::mutex& DispatcherLock();
struct WaitBlock {
  std::condition_variable wake;
};
std::unordered_multimap<const DISPATCHER_HEADER*, WaitBlock*>& Waiters();
void SignalObject(const DISPATCHER_HEADER* object);  // dispatcher lock held

struct ThreadState {
  KIRQL irql = PASSIVE_LEVEL;
  int spinLocksHeld = 0;
  int mutexesOwned = 0;
  KTHREAD* self = nullptr;
};
ThreadState& CurrentThreadState();

// Objects of the object manager carry this header in front of their body.
enum class ObKind : std::uint32_t { Device = 1, Driver, File, Thread, Key };
struct ObjectHeader {
  std::uint32_t magic;
  ObKind kind;
  std::atomic<long> refs;
  void (*destroy)(void* body);
  bool ignoreAtTeardown;
};
void* ObAllocate(ObKind kind, std::size_t bodyBytes, void (*destroy)(void* body));
ObjectHeader* HeaderOf(const void* body);  // faults on a pointer that is no object
void ObFree(void* body);                   // releases the memory only
std::string LiveObjectsReport();
void ForgetObjects();

// Handles.
HANDLE CreateHandle(void* object, ObKind kind, bool kernel);
void* LookupHandle(HANDLE handle, ObKind* kind);
bool RemoveHandle(HANDLE handle, void** object, ObKind* kind);
std::size_t OpenHandleCount();

void RequireIrqlAtMost(KIRQL level, const char* what);
void RecordThreadFault(const std::string& message);
std::string ThreadReport();
std::string IoReport();
double TimeScale();

// Names: upper-cased, "\DosDevices\" folded into "\??\".
std::u16string CanonicalName(const std::u16string& name);
std::u16string ToU16(PCUNICODE_STRING s);
struct Resolved {
  PDEVICE_OBJECT device = nullptr;
  std::string hostPath;
  std::u16string remainder;
};
bool ResolveName(const std::u16string& name, Resolved* out);
bool DescriptorAllowsUser(const std::u16string& sddl, bool administrator, ACCESS_MASK desired);
bool UserMayOpen(PDEVICE_OBJECT device, const std::u16string& remainder, ACCESS_MASK desired);
// `mode` and `desired` go into the create request's security context (the
// subject's token: the system's for kernel mode, the user's for user mode).
NTSTATUS OpenDevice(PDEVICE_OBJECT device, const std::u16string& remainder, ULONG fileFlags,
                    ULONG disposition, ULONG options, ULONG share, ULONG attributes,
                    PFILE_OBJECT* out, KPROCESSOR_MODE mode = KernelMode, ACCESS_MASK desired = 0);
void CleanupFile(PFILE_OBJECT file);
NTSTATUS SendFileControl(PFILE_OBJECT file, UCHAR major, ULONG code, PVOID input, ULONG inputLength,
                         PVOID output, ULONG outputLength, PIO_STATUS_BLOCK iosb,
                         KPROCESSOR_MODE requestorMode = KernelMode);
NTSTATUS SendFileTransfer(PFILE_OBJECT file, UCHAR major, PVOID buffer, ULONG length,
                          PLARGE_INTEGER offset, PIO_STATUS_BLOCK iosb);
bool MdlMappingFails();
NTSTATUS SendFileQuery(PFILE_OBJECT file, PVOID buffer, ULONG length,
                       FILE_INFORMATION_CLASS informationClass, PIO_STATUS_BLOCK iosb);
void ResetIo();
void ResetZw();
void ResetPool();
void ResetKe();

}  // namespace hk::detail
