// Test-side controls of the host kernel layer: loud faults, the debug log,
// pool accounting and failure injection, the registry, names, and the
// teardown check. Engine code never includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkernel/ntkernel.h"

namespace hk {

// Where the real kernel would stop the machine (wait at raised IRQL, bad
// pool free, stack overrun, ...), the layer calls the fault handler. The
// default prints the message and aborts; ThrowFaults() makes each fault a
// KernelFault exception that a test can catch and inspect.
struct KernelFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};
using FaultHandler = std::function<void(const std::string& message)>;
void SetFaultHandler(FaultHandler handler);  // empty: back to print-and-abort
void ThrowFaults();
#if defined(__MINGW32__)
#define HK_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define HK_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
[[noreturn]] void Fault(const char* format, ...) HK_PRINTF_FORMAT(1, 2);
// Faults raised on the layer's own system threads: such a thread ends and
// its message is kept here for the test to collect.
std::vector<std::string> TakeThreadFaults();
// For test helpers' own threads: keeps a fault for TakeThreadFaults.
void ReportThreadFault(const std::string& message);

// Debug log: every DbgPrint line, formatted.
std::vector<std::string> DbgLines();
void ClearDbgLog();
void SetDbgEcho(bool echo);  // also write lines to stderr

// Pool accounting and failure injection.
struct PoolBlockInfo {
  ULONG tag;
  std::size_t bytes;
  std::string site;  // file:line of the allocation
};
std::vector<PoolBlockInfo> LivePoolBlocks();
std::size_t LivePoolBytes(ULONG tag);
void FailPoolAllocation(unsigned nth);  // the nth allocation from now fails (1 = next)
// True while an armed FailPoolAllocation has not yet been reached: the code
// under test made fewer allocations than the armed number.
bool PoolAllocationFailurePending();
void FailPoolAllocationsOfSize(std::size_t bytes);
void FailPoolAllocationsAtDispatch(bool fail);
void FailLookasideAllocations(bool fail);
void FailMdlMapping(bool fail);        // MmGetSystemAddressForMdlSafe answers NULL
void FailIrpAllocation(unsigned nth);  // the nth IRP built or allocated from now is not
void ClearInjectedFailures();
unsigned PoStartNextPowerIrpCount();
// Devices registered for (last-chance) shutdown notification, oldest first.
std::vector<PDEVICE_OBJECT> ShutdownDevices(bool lastChance);

// Time: waits with time-outs run this much faster (order is kept).
void SetTimeScale(double factor);
// Races: true once at least `count` threads block in a wait on `object`
// (an event, mutex, semaphore or thread); false after `timeoutMs` without.
bool WaitForWaiters(const void* object, unsigned count, unsigned timeoutMs = 10000);

// Waits: how many are blocked on a dispatcher object now (a race test waits
// for a thread to park), and the wake-ups signals have delivered to blocked
// waits so far.
std::size_t WaitsBlockedOn(const void* object);
std::uint64_t WaitWakeUps();

// Registry: tests seed values that ZwOpenKey/ZwQueryValueKey then answer.
void SetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName, ULONG type,
                      const void* data, std::size_t bytes);

// Drivers: load runs the entry routine at PASSIVE_LEVEL with the registry
// path; the driver object lives until ResetKernel.
PDRIVER_OBJECT LoadDriver(const std::u16string& name, PDRIVER_INITIALIZE entry,
                          const std::u16string& registryPath, NTSTATUS* entryStatus);
// A driver object without an entry routine, for test devices (lower disks,
// the mount manager, ...). Dispatch routines default to "not supported".
PDRIVER_OBJECT CreateTestDriver(const std::u16string& name);
// Runs the registered reinitialisation routines once, in order.
void RunReinitialization();
// The mount-manager's letter table that IoVolumeDeviceToDosName answers from.
void SetVolumeDosName(PDEVICE_OBJECT volume, const std::u16string& dosName);
// Races: called in the creating thread after each IoCreateDevice that
// succeeded, with the new device, before the call returns (a test acts
// while a driver is between creating a device and recording it). Empty:
// none; reset with the kernel.
void OnDeviceCreated(std::function<void(PDEVICE_OBJECT)> hook);
// The security descriptor (SDDL) a device was created with through
// IoCreateDeviceSecure; empty for a device without one.
std::u16string DeviceSecurity(PDEVICE_OBJECT device);
// An administrator's override of a secure device's descriptor (NT keeps it
// under the device class): the SDDL evaluated from then on.
void SetDeviceSecurity(PDEVICE_OBJECT device, const std::u16string& sddl);
// Whether a descriptor in SDDL grants `desired` (generic rights mapped to
// file rights) to the user-mode caller: its groups are Everyone, the
// authenticated and interactive users and the users, and the
// administrators when it is one. Each ACE that names one of them is taken
// in order: a deny ACE refuses the rights it names that are not granted
// yet, an allow ACE grants the rights it names; inherit-only ACEs are
// passed over. No DACL ("D:NO_ACCESS_CONTROL") grants everything, an empty
// one nothing.
bool DescriptorAllows(const std::u16string& sddl, bool administrator, ACCESS_MASK desired);
// A binary descriptor's DACL in SDDL (rights as hex masks, well-known SIDs
// by their aliases), for DescriptorAllows.
std::u16string SddlOf(PSECURITY_DESCRIPTOR descriptor);
// Mounts a file-system device on a volume: opens of names on the volume go
// to the file system's stack from then on.
void MountFileSystem(PDEVICE_OBJECT volume, PDEVICE_OBJECT fileSystemDevice);
// Host directory behind an object-name prefix (e.g. u"\\SystemRoot").
void MapHostPath(const std::u16string& ntPrefix, const std::string& hostDirectory);

// What is left over: pool blocks, objects still referenced, open handles
// and thread faults. Empty when the kernel is clean.
std::string LeakReport();
// Deletes every driver, device, name, handle and registry value, and
// forgets pool accounting, logs and knobs. Call after LeakReport.
void ResetKernel();

// Wide-string helpers for tests.
std::u16string Wide(const char* ascii);
std::string Narrow(const std::u16string& wide);
std::string Narrow(PCUNICODE_STRING s);

}  // namespace hk
