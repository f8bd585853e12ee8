// The I/O manager: names, drivers, devices and stacks, IRPs and their
// completion, MDLs, file objects, remove locks.
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "hostkernel/call_and_wait.h"
#include "internal.h"

namespace hk::detail {
namespace {

constexpr ULONG kSystemTag = 0x20206F49;  // 'Io  '
constexpr std::size_t kSystemBufferGuard = 16;
constexpr unsigned char kGuardByte = 0xFD;

enum IrpKind : ULONG { kIrpAllocated = 1, kIrpSynchronous, kIrpAsynchronous, kIrpThreadedFile };

struct NameEntry {
  enum Kind { kDevice, kLink, kHostDirectory } kind;
  PDEVICE_OBJECT device;
  std::u16string target;
};

struct DriverExtensionRecord {
  PDRIVER_OBJECT driver;
  PVOID id;
  void* memory;
};

struct ReinitRecord {
  PDRIVER_OBJECT driver;
  PDRIVER_REINITIALIZE routine;
  PVOID context;
};

// A dispatch call in progress, for the pending-return checks. It belongs to
// the IRP of its generation: once that IRP is freed, a new one may take its
// address (and stack locations) while the old dispatch routine is still on
// its way out, and its marks and completions are none of this frame's.
struct Frame {
  unsigned long long generation = 0;
  bool markedDuring = false;
  bool premarked = false;
  bool passed = false;
  bool markedWhenPassed = false;
};

std::recursive_mutex g_ioLock;
std::map<std::u16string, NameEntry> g_names;
std::map<PDEVICE_OBJECT, std::u16string> g_deviceNames;
std::map<PDEVICE_OBJECT, std::u16string> g_dosNames;
std::map<PDEVICE_OBJECT, std::u16string> g_deviceSecurity;  // SDDL of secure devices
bool g_userIsAdministrator = true;
std::function<void(PDEVICE_OBJECT)> g_deviceCreated;  // a test's hook
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::vector<PDRIVER_OBJECT>& g_drivers = *new std::vector<PDRIVER_OBJECT>;
std::vector<DriverExtensionRecord> g_driverExtensions;
std::vector<ReinitRecord> g_reinit;
std::map<PDRIVER_OBJECT, ULONG> g_reinitCounts;
std::vector<PDEVICE_OBJECT> g_shutdown;
std::vector<PDEVICE_OBJECT> g_lastChance;
std::multimap<PIO_STACK_LOCATION, Frame*> g_frames;
std::vector<std::u16string*> g_registryPaths;
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::set<PIRP>& g_liveIrps = *new std::set<PIRP>;  // kept reachable even when abandoned by a fault
// Each live IRP's generation, unique for the run: what ties a frame to it.
// Never destroyed, like the sets around it.
std::map<PIRP, unsigned long long>& g_irpGenerations = *new std::map<PIRP, unsigned long long>;
unsigned long long g_lastIrpGeneration = 0;
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::set<PMDL>& g_liveMdls = *new std::set<PMDL>;
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::vector<void*>& g_abandonedIo = *new std::vector<void*>;
unsigned g_irpFailCountdown = 0;
unsigned g_powerStarts = 0;

bool TakeIrpFailure() {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  return g_irpFailCountdown != 0 && --g_irpFailCountdown == 0;
}

DEVOBJ_EXTENSION* Ext(PDEVICE_OBJECT device) { return device->DeviceObjectExtension; }

// Host bookkeeping kept beside each device.
struct DeviceHostState {
  LONG openFiles = 0;
  bool deletePending = false;
};
std::map<PDEVICE_OBJECT, DeviceHostState> g_deviceState;

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

void DestroyDevice(void* body) {
  auto* device = static_cast<PDEVICE_OBJECT>(body);
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    g_deviceState.erase(device);
    g_deviceNames.erase(device);
    g_dosNames.erase(device);
    g_deviceSecurity.erase(device);
  }
  // Poisoned, so a worker that outlives its device reads garbage at once.
  std::memset(device, 0xDD, sizeof(DEVICE_OBJECT));
}

std::u16string Upcase(const std::u16string& s) {
  std::u16string out = s;
  for (auto& c : out) c = RtlUpcaseUnicodeChar(c);
  return out;
}

}  // namespace

std::u16string ToU16(PCUNICODE_STRING s) {
  if (s == nullptr || s->Buffer == nullptr) return {};
  return std::u16string(s->Buffer, s->Length / 2);
}

std::u16string CanonicalName(const std::u16string& name) {
  std::u16string upper = Upcase(name);
  static const std::u16string dos = u"\\DOSDEVICES\\";
  static const std::u16string global = u"\\GLOBAL??\\";
  if (upper.compare(0, dos.size(), dos) == 0) return u"\\??\\" + upper.substr(dos.size());
  if (upper.compare(0, global.size(), global) == 0) return u"\\??\\" + upper.substr(global.size());
  return upper;
}

// Resolves a name through symbolic links to a device (or a host directory)
// and the rest of the path after it.

bool ResolveName(const std::u16string& name, Resolved* out) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  std::u16string path = name;
  for (int depth = 0; depth < 32; ++depth) {
    std::u16string canonical = CanonicalName(path);
    // Longest name that is the whole path or ends at a separator.
    const NameEntry* best = nullptr;
    std::size_t bestLength = 0;
    for (std::size_t cut = canonical.size(); cut > 0; --cut) {
      if (cut != canonical.size() && canonical[cut] != u'\\') continue;
      auto it = g_names.find(canonical.substr(0, cut));
      if (it != g_names.end()) {
        best = &it->second;
        bestLength = cut;
        break;
      }
    }
    if (best == nullptr) return false;
    // The rest keeps the caller's case; only the prefix was folded.
    std::u16string rest = path.substr(path.size() - (canonical.size() - bestLength));
    if (best->kind == NameEntry::kLink) {
      path = best->target + rest;
      continue;
    }
    if (best->kind == NameEntry::kHostDirectory) {
      out->hostPath = Narrow(best->target);
      for (char16_t c : rest) out->hostPath += c == u'\\' ? '/' : static_cast<char>(c);
      out->remainder = rest;
      return true;
    }
    out->device = best->device;
    out->remainder = rest;
    return true;
  }
  return false;
}

void ResetIo() {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_names.clear();
  g_deviceNames.clear();
  g_dosNames.clear();
  g_deviceSecurity.clear();
  g_userIsAdministrator = true;
  g_deviceCreated = nullptr;
  g_deviceState.clear();
  g_drivers.clear();
  for (auto& record : g_driverExtensions) ::operator delete(record.memory);
  g_driverExtensions.clear();
  g_reinit.clear();
  g_reinitCounts.clear();
  g_shutdown.clear();
  g_lastChance.clear();
  g_frames.clear();
  for (PIRP irp : g_liveIrps) g_abandonedIo.push_back(irp);
  for (PMDL mdl : g_liveMdls) g_abandonedIo.push_back(mdl);
  g_liveIrps.clear();
  g_irpGenerations.clear();
  g_liveMdls.clear();
  g_irpFailCountdown = 0;
  g_powerStarts = 0;
}

std::string IoReport() {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  std::string report;
  if (!g_liveIrps.empty())
    report += "IRPs never freed: " + std::to_string(g_liveIrps.size()) + "\n";
  if (!g_liveMdls.empty())
    report += "MDLs never freed: " + std::to_string(g_liveMdls.size()) + "\n";
  return report;
}

// Descriptors in SDDL, evaluated as the kernel's access check does for the
// rights the open asks. Rights: two-letter generic and file rights or a hex
// mask. Trustees: two-letter aliases of well-known groups.
namespace {
constexpr ACCESS_MASK kFileAllAccess = 0x001F01FF;
constexpr ACCESS_MASK kFileGenericRead = 0x00120089;
constexpr ACCESS_MASK kFileGenericWrite = 0x00120116;
constexpr ACCESS_MASK kFileGenericExecute = 0x001200A0;
constexpr ACCESS_MASK kGenericExecute = 0x20000000;

ACCESS_MASK MapGeneric(ACCESS_MASK mask) {
  ACCESS_MASK out = mask & 0x0FFFFFFF;
  if (mask & GENERIC_ALL) out |= kFileAllAccess;
  if (mask & GENERIC_READ) out |= kFileGenericRead;
  if (mask & GENERIC_WRITE) out |= kFileGenericWrite;
  if (mask & kGenericExecute) out |= kFileGenericExecute;
  return out;
}

bool RightsOf(const std::u16string& text, ACCESS_MASK* mask) {
  *mask = 0;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    for (size_t i = 2; i < text.size(); ++i) {
      const char16_t c = text[i];
      const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                        : c >= u'a' && c <= u'f' ? c - u'a' + 10
                        : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                 : -1;
      if (digit < 0) return false;
      *mask = *mask << 4 | static_cast<ACCESS_MASK>(digit);
    }
    return true;
  }
  if (text.size() % 2 != 0) return false;
  static const struct {
    const char16_t* code;
    ACCESS_MASK mask;
  } kRights[] = {{u"GA", GENERIC_ALL},
                 {u"GR", GENERIC_READ},
                 {u"GW", GENERIC_WRITE},
                 {u"GX", kGenericExecute},
                 {u"FA", kFileAllAccess},
                 {u"FR", kFileGenericRead},
                 {u"FW", kFileGenericWrite},
                 {u"FX", kFileGenericExecute},
                 {u"RC", READ_CONTROL},
                 {u"WD", WRITE_DAC},
                 {u"SD", DELETE}};
  for (size_t i = 0; i < text.size(); i += 2) {
    bool known = false;
    for (const auto& right : kRights) {
      if (text.compare(i, 2, right.code) == 0) {
        *mask |= right.mask;
        known = true;
      }
    }
    if (!known) return false;
  }
  return true;
}

bool UserHasTrustee(const std::u16string& trustee, bool administrator) {
  for (const char16_t* everyone : {u"WD", u"AU", u"IU", u"BU"}) {
    if (trustee == everyone) return true;
  }
  return administrator && trustee == u"BA";
}

std::vector<std::u16string> Fields(const std::u16string& ace) {
  std::vector<std::u16string> out(1);
  for (char16_t c : ace) {
    if (c == u';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}
}  // namespace

bool DescriptorAllowsUser(const std::u16string& sddl, bool administrator, ACCESS_MASK desired) {
  desired = MapGeneric(desired);
  const size_t dacl = sddl.find(u"D:");
  if (dacl == std::u16string::npos) return true;  // no DACL: no check
  size_t at = dacl + 2;
  while (at < sddl.size() && sddl[at] != u'(' && sddl[at] != u':') ++at;
  if (sddl.compare(dacl + 2, 17, u"NO_ACCESS_CONTROL") == 0) return true;
  ACCESS_MASK granted = 0;
  while (at < sddl.size() && sddl[at] == u'(') {
    const size_t close = sddl.find(u')', at);
    if (close == std::u16string::npos) return false;  // a torn descriptor grants nothing
    const std::vector<std::u16string> f = Fields(sddl.substr(at + 1, close - at - 1));
    at = close + 1;
    ACCESS_MASK mask = 0;
    if (f.size() != 6 || !RightsOf(f[2], &mask)) return false;
    if (f[1].find(u"IO") != std::u16string::npos) continue;  // inherit-only: not this object's
    if (!UserHasTrustee(f[5], administrator)) continue;
    mask = MapGeneric(mask);
    if (f[0] == u"D") {
      if (mask & desired & ~granted) return false;
    } else if (f[0] == u"A") {
      granted |= mask & desired;
    }
    if (desired != 0 && (granted & desired) == desired) return true;
  }
  return (granted & desired) == desired && desired != 0;
}

// Whether a user-mode caller may open `device` asking for `desired`: a
// device without a descriptor is open to everyone; one with a descriptor
// only as its ACEs allow. A name beyond the device's own is checked only
// under FILE_DEVICE_SECURE_OPEN.
bool UserMayOpen(PDEVICE_OBJECT device, const std::u16string& remainder, ACCESS_MASK desired) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  auto found = g_deviceSecurity.find(device);
  if (found == g_deviceSecurity.end()) return true;
  if (!remainder.empty() && (device->Characteristics & FILE_DEVICE_SECURE_OPEN) == 0) return true;
  return DescriptorAllowsUser(found->second, g_userIsAdministrator, desired);
}

// The tokens opens act with: the system's for kernel-mode opens, the
// user's (an administrator's or a standard user's) for user-mode ones.
struct HostToken {
  bool administrator;
};
const HostToken kSystemToken{true};
const HostToken kAdministratorToken{true};
const HostToken kStandardUserToken{false};

PACCESS_TOKEN TokenFor(KPROCESSOR_MODE mode) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  const HostToken* token = mode == KernelMode      ? &kSystemToken
                           : g_userIsAdministrator ? &kAdministratorToken
                                                   : &kStandardUserToken;
  return const_cast<HostToken*>(token);
}

}  // namespace hk::detail

using namespace hk::detail;

// ---------------------------------------------------------------- drivers

namespace {
PDRIVER_OBJECT NewDriver(const std::u16string& name) {
  std::size_t nameBytes = name.size() * 2;
  auto* driver = static_cast<PDRIVER_OBJECT>(ObAllocate(
      ObKind::Driver, sizeof(DRIVER_OBJECT) + sizeof(DRIVER_EXTENSION) + nameBytes + 2, nullptr));
  HeaderOf(driver)->ignoreAtTeardown = true;  // drivers live until the kernel is reset
  driver->Type = IO_TYPE_DRIVER;
  driver->Size = sizeof(DRIVER_OBJECT);
  driver->DriverExtension = reinterpret_cast<PDRIVER_EXTENSION>(driver + 1);
  driver->DriverExtension->DriverObject = driver;
  auto* nameBuffer = reinterpret_cast<PWSTR>(driver->DriverExtension + 1);
  std::memcpy(nameBuffer, name.data(), nameBytes);
  driver->DriverName = {static_cast<USHORT>(nameBytes), static_cast<USHORT>(nameBytes + 2),
                        nameBuffer};
  for (auto& routine : driver->MajorFunction) routine = InvalidDeviceRequest;
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_drivers.push_back(driver);
  return driver;
}
}  // namespace

namespace hk {
PDRIVER_OBJECT CreateTestDriver(const std::u16string& name) { return NewDriver(name); }

void OnDeviceCreated(std::function<void(PDEVICE_OBJECT)> hook) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_deviceCreated = std::move(hook);
}

PDRIVER_OBJECT LoadDriver(const std::u16string& name, PDRIVER_INITIALIZE entry,
                          const std::u16string& registryPath, NTSTATUS* entryStatus) {
  PDRIVER_OBJECT driver = NewDriver(name);
  driver->DriverInit = entry;
  std::u16string* path;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    path = new std::u16string(registryPath);
    g_registryPaths.push_back(path);
  }
  UNICODE_STRING registry{static_cast<USHORT>(path->size() * 2),
                          static_cast<USHORT>(path->size() * 2), &(*path)[0]};
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) Fault("LoadDriver at raised IRQL");
  NTSTATUS status = entry(driver, &registry);
  if (entryStatus) *entryStatus = status;
  return driver;
}

void RunReinitialization() {
  std::vector<ReinitRecord> records;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    records.swap(g_reinit);
  }
  for (const ReinitRecord& r : records) {
    ULONG count;
    {
      std::lock_guard<std::recursive_mutex> guard(g_ioLock);
      count = ++g_reinitCounts[r.driver];
    }
    r.routine(r.driver, r.context, count);
  }
}

void SetVolumeDosName(PDEVICE_OBJECT volume, const std::u16string& dosName) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  if (dosName.empty()) {
    g_dosNames.erase(volume);
  } else {
    g_dosNames[volume] = dosName;
  }
}

void MountFileSystem(PDEVICE_OBJECT volume, PDEVICE_OBJECT fileSystemDevice) {
  if (volume->Vpb == nullptr) Fault("MountFileSystem on a device without a VPB");
  volume->Vpb->DeviceObject = fileSystemDevice;
  volume->Vpb->Flags |= VPB_MOUNTED;
}

void MapHostPath(const std::u16string& ntPrefix, const std::string& hostDirectory) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_names[CanonicalName(ntPrefix)] = {NameEntry::kHostDirectory, nullptr,
                                      std::u16string(hostDirectory.begin(), hostDirectory.end())};
}

void FailIrpAllocation(unsigned nth) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_irpFailCountdown = nth;
}

unsigned PoStartNextPowerIrpCount() {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  return g_powerStarts;
}

std::vector<PDEVICE_OBJECT> ShutdownDevices(bool lastChance) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  return lastChance ? g_lastChance : g_shutdown;
}

NTSTATUS CallDriverAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event,
                           PIO_STATUS_BLOCK ioStatus) {
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = IoCallDriver(device, irp);
  if (status == STATUS_PENDING) {
    // Set by the request's final completion, on whatever thread ends it.
    KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus->Status;
  }
  return status;
}
}  // namespace hk

NTSTATUS IoAllocateDriverObjectExtension(PDRIVER_OBJECT driver, PVOID id, ULONG size,
                                         PVOID* extension) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  *extension = nullptr;
  for (const auto& record : g_driverExtensions) {
    if (record.driver == driver && record.id == id) return STATUS_OBJECT_NAME_COLLISION;
  }
  void* memory = ::operator new(size, std::nothrow);
  if (memory == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  std::memset(memory, 0, size);  // the I/O manager zeroes it
  g_driverExtensions.push_back({driver, id, memory});
  *extension = memory;
  return STATUS_SUCCESS;
}

PVOID IoGetDriverObjectExtension(PDRIVER_OBJECT driver, PVOID id) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  for (const auto& record : g_driverExtensions) {
    if (record.driver == driver && record.id == id) return record.memory;
  }
  return nullptr;
}

void IoRegisterDriverReinitialization(PDRIVER_OBJECT driver, PDRIVER_REINITIALIZE routine,
                                      PVOID context) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_reinit.push_back({driver, routine, context});
}

void IoRegisterBootDriverReinitialization(PDRIVER_OBJECT driver, PDRIVER_REINITIALIZE routine,
                                          PVOID context) {
  IoRegisterDriverReinitialization(driver, routine, context);
}

NTSTATUS IoRegisterShutdownNotification(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_shutdown.push_back(device);
  return STATUS_SUCCESS;
}

NTSTATUS IoRegisterLastChanceShutdownNotification(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_lastChance.push_back(device);
  return STATUS_SUCCESS;
}

void IoUnregisterShutdownNotification(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  for (auto* list : {&g_shutdown, &g_lastChance}) {
    for (auto it = list->begin(); it != list->end();) it = *it == device ? list->erase(it) : it + 1;
  }
}

// ---------------------------------------------------------------- devices

namespace {

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                      DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                      PDEVICE_OBJECT* device) {
  *device = nullptr;
  std::u16string canonical = name ? CanonicalName(ToU16(name)) : std::u16string();
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  if (!canonical.empty() && g_names.count(canonical)) return STATUS_OBJECT_NAME_COLLISION;
  bool hasVpb =
      type == FILE_DEVICE_DISK || type == FILE_DEVICE_CD_ROM || type == FILE_DEVICE_VIRTUAL_DISK;
  std::size_t head =
      (sizeof(DEVICE_OBJECT) + sizeof(DEVOBJ_EXTENSION) + sizeof(VPB) + 15) & ~std::size_t{15};
  auto* raw =
      static_cast<unsigned char*>(ObAllocate(ObKind::Device, head + extensionSize, DestroyDevice));
  auto* dev = reinterpret_cast<PDEVICE_OBJECT>(raw);
  dev->Type = IO_TYPE_DEVICE;
  dev->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extensionSize);
  dev->DriverObject = driver;
  dev->Flags = DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0);
  dev->Characteristics = characteristics;
  dev->DeviceType = type;
  dev->StackSize = 1;
  dev->SectorSize = hasVpb ? 512 : 0;
  dev->DeviceExtension = extensionSize ? raw + head : nullptr;  // zeroed, as the I/O manager does
  dev->DeviceObjectExtension = reinterpret_cast<DEVOBJ_EXTENSION*>(dev + 1);
  dev->DeviceObjectExtension->DeviceObject = dev;
  if (hasVpb) {
    dev->Vpb = reinterpret_cast<PVPB>(dev->DeviceObjectExtension + 1);
    dev->Vpb->Type = IO_TYPE_VPB;
    dev->Vpb->Size = sizeof(VPB);
    dev->Vpb->RealDevice = dev;
  }
  // New devices go to the head of the driver's list.
  dev->NextDevice = driver->DeviceObject;
  driver->DeviceObject = dev;
  g_deviceState[dev] = {};
  if (!canonical.empty()) {
    g_names[canonical] = {NameEntry::kDevice, dev, {}};
    g_deviceNames[dev] = ToU16(name);
  }
  *device = dev;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
  const NTSTATUS status =
      CreateDevice(driver, extensionSize, name, type, characteristics, exclusive, device);
  std::function<void(PDEVICE_OBJECT)> hook;
  if (NT_SUCCESS(status)) {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    hook = g_deviceCreated;
  }
  // Outside the I/O lock: the hook may start threads that create devices.
  if (hook) hook(*device);
  return status;
}

NTSTATUS IoCreateDeviceSecure(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                              DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                              PCUNICODE_STRING sddl, const GUID*, PDEVICE_OBJECT* device) {
  if (sddl == nullptr || sddl->Buffer == nullptr || sddl->Length == 0) {
    *device = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status =
      IoCreateDevice(driver, extensionSize, name, type, characteristics, exclusive, device);
  if (!NT_SUCCESS(status)) return status;
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_deviceSecurity[*device] = ToU16(sddl);
  return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    DeviceHostState& state = g_deviceState[device];
    if (state.deletePending)
      hk::Fault("IoDeleteDevice on device %p twice", static_cast<void*>(device));
    if (device->ReferenceCount != state.openFiles) {
      hk::Fault(
          "IoDeleteDevice: ReferenceCount of %p is %d but %d file object(s) are open (count "
          "forced)",
          static_cast<void*>(device), device->ReferenceCount, state.openFiles);
    }
    if (Ext(device)->AttachedTo != nullptr) {
      hk::Fault("IoDeleteDevice on %p while it is still attached to %p", static_cast<void*>(device),
                static_cast<void*>(Ext(device)->AttachedTo));
    }
    state.deletePending = true;
    for (PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject; *link;
         link = &(*link)->NextDevice) {
      if (*link == device) {
        *link = device->NextDevice;
        break;
      }
    }
    for (auto it = g_names.begin(); it != g_names.end();) {
      it = it->second.kind == NameEntry::kDevice && it->second.device == device ? g_names.erase(it)
                                                                                : std::next(it);
    }
  }
  // Memory goes when the last file object or attachment lets go of it.
  ObfDereferenceObject(device);
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  while (device->AttachedDevice) device = device->AttachedDevice;
  return device;
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  device = IoGetAttachedDevice(device);
  ObfReferenceObject(device);
  return device;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoAttachDeviceToDeviceStack");
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  PDEVICE_OBJECT top = IoGetAttachedDevice(target);
  if (g_deviceState[top].deletePending) return nullptr;
  top->AttachedDevice = source;
  Ext(source)->AttachedTo = top;
  source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  source->AlignmentRequirement = top->AlignmentRequirement;
  source->SectorSize = top->SectorSize;
  ObfReferenceObject(top);  // held by the attachment
  return top;
}

void IoDetachDevice(PDEVICE_OBJECT target) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDetachDevice");
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    PDEVICE_OBJECT upper = target->AttachedDevice;
    if (upper == nullptr)
      hk::Fault("IoDetachDevice on %p, which has nothing attached", static_cast<void*>(target));
    target->AttachedDevice = nullptr;
    Ext(upper)->AttachedTo = nullptr;
  }
  ObfDereferenceObject(target);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING linkName, PUNICODE_STRING deviceName) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoCreateSymbolicLink");
  std::u16string link = CanonicalName(ToU16(linkName));
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  if (g_names.count(link)) return STATUS_OBJECT_NAME_COLLISION;
  g_names[link] = {NameEntry::kLink, nullptr, ToU16(deviceName)};
  return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING linkName) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoDeleteSymbolicLink");
  std::u16string link = CanonicalName(ToU16(linkName));
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  auto it = g_names.find(link);
  if (it == g_names.end() || it->second.kind != NameEntry::kLink)
    return STATUS_OBJECT_NAME_NOT_FOUND;
  g_names.erase(it);
  return STATUS_SUCCESS;
}

NTSTATUS IoVolumeDeviceToDosName(PVOID volumeDevice, PUNICODE_STRING dosName) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoVolumeDeviceToDosName");
  std::u16string name;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    auto it = g_dosNames.find(static_cast<PDEVICE_OBJECT>(volumeDevice));
    if (it == g_dosNames.end()) return STATUS_UNSUCCESSFUL;
    name = it->second;
  }
  std::size_t bytes = name.size() * 2;
  auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + 2, kSystemTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  std::memcpy(buffer, name.data(), bytes);
  buffer[name.size()] = 0;
  dosName->Buffer = buffer;
  dosName->Length = static_cast<USHORT>(bytes);
  dosName->MaximumLength = static_cast<USHORT>(bytes + 2);
  return STATUS_SUCCESS;
}

NTSTATUS ObQueryNameString(PVOID object, POBJECT_NAME_INFORMATION info, ULONG length,
                           PULONG returnLength) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "ObQueryNameString");
  std::u16string name;
  ObjectHeader* header = HeaderOf(object);
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    if (header->kind == ObKind::Device) {
      auto it = g_deviceNames.find(static_cast<PDEVICE_OBJECT>(object));
      if (it != g_deviceNames.end()) name = it->second;
    } else if (header->kind == ObKind::File) {
      auto* file = static_cast<PFILE_OBJECT>(object);
      auto it = g_deviceNames.find(file->DeviceObject);
      if (it != g_deviceNames.end()) name = it->second;
      name += ToU16(&file->FileName);
    }
  }
  ULONG needed = static_cast<ULONG>(sizeof(OBJECT_NAME_INFORMATION) +
                                    (name.empty() ? 0 : name.size() * 2 + 2));
  if (returnLength) *returnLength = needed;
  if (length < needed) return STATUS_INFO_LENGTH_MISMATCH;
  auto* text = reinterpret_cast<PWSTR>(info + 1);
  if (name.empty()) {
    info->Name = {0, 0, nullptr};
    return STATUS_SUCCESS;
  }
  std::memcpy(text, name.data(), name.size() * 2);
  text[name.size()] = 0;
  info->Name = {static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2 + 2),
                text};
  return STATUS_SUCCESS;
}

// ------------------------------------------------------------------- IRPs

namespace {
PIRP NewIrp(CCHAR stackSize, ULONG kind) {
  if (stackSize < 1) hk::Fault("IRP with %d stack locations", stackSize);
  if (TakeIrpFailure()) return nullptr;
  std::size_t bytes = sizeof(IRP) + static_cast<std::size_t>(stackSize) * sizeof(IO_STACK_LOCATION);
  auto* irp = static_cast<PIRP>(::operator new(bytes));
  std::memset(irp, 0, bytes);
  irp->Type = IO_TYPE_IRP;
  irp->Size = static_cast<USHORT>(bytes);
  irp->StackCount = stackSize;
  irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
  irp->Tail.Overlay.CurrentStackLocation =
      reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
  irp->Tail.Overlay.Thread = KeGetCurrentThread();
  irp->HostKind = kind;
  InitializeListHead(&irp->ThreadListEntry);
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_liveIrps.insert(irp);
  g_irpGenerations[irp] = ++g_lastIrpGeneration;
  return irp;
}

void CheckIrp(PIRP irp, const char* what) {
  if (irp == nullptr || irp->Type != IO_TYPE_IRP)
    hk::Fault("%s on %p, which is no live IRP", what, static_cast<void*>(irp));
}

bool AllocateSystemBuffer(PIRP irp, ULONG bytes) {
  auto* buffer = static_cast<unsigned char*>(hk_ExAllocatePoolWithTag(
      NonPagedPool, bytes + kSystemBufferGuard, kSystemTag, "system buffer", 0));
  if (buffer == nullptr) return false;
  std::memset(buffer + bytes, kGuardByte, kSystemBufferGuard);
  irp->AssociatedIrp.SystemBuffer = buffer;
  irp->HostSystemBufferLength = bytes;
  irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
  return true;
}

void ReleaseSystemBuffer(PIRP irp) {
  if (!(irp->Flags & IRP_DEALLOCATE_BUFFER) || irp->AssociatedIrp.SystemBuffer == nullptr) return;
  auto* buffer = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
  for (std::size_t i = 0; i < kSystemBufferGuard; ++i) {
    if (buffer[irp->HostSystemBufferLength + i] != kGuardByte) {
      hk::Fault("a driver wrote past the %u-byte system buffer of an IRP",
                irp->HostSystemBufferLength);
    }
  }
  hk_ExFreePoolWithTag(buffer, kSystemTag, true);
  irp->AssociatedIrp.SystemBuffer = nullptr;
}

void FreeMdlChain(PIRP irp) {
  PMDL mdl = irp->MdlAddress;
  while (mdl) {
    PMDL next = mdl->Next;
    if (mdl->MdlFlags & MDL_PAGES_LOCKED) MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    mdl = next;
  }
  irp->MdlAddress = nullptr;
}

// What the I/O manager does once no driver holds the IRP any more.
void FinalCompletion(PIRP irp) {
  if (irp->HostKind == kIrpAllocated || irp->HostKind == kIrpAsynchronous) {
    hk::Fault(
        "an IRP its owner allocated reached final completion: the owner's completion routine must "
        "free it and return STATUS_MORE_PROCESSING_REQUIRED");
  }
  NTSTATUS status = irp->IoStatus.Status;
  if ((irp->Flags & IRP_BUFFERED_IO) && (irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(status) &&
      irp->HostOutputLength != 0) {
    // The kernel copies Information bytes unclamped; beyond the caller's
    // buffer that is an overrun of the caller's memory.
    if (irp->IoStatus.Information > irp->HostOutputLength) {
      hk::Fault(
          "IRP completed with Information %llu beyond its %u-byte output buffer (status 0x%08x)",
          static_cast<unsigned long long>(irp->IoStatus.Information), irp->HostOutputLength,
          static_cast<unsigned>(status));
    }
    std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, irp->IoStatus.Information);
  }
  ReleaseSystemBuffer(irp);
  FreeMdlChain(irp);
  if (irp->UserIosb) *irp->UserIosb = irp->IoStatus;
  if (irp->UserEvent) KeSetEvent(irp->UserEvent, IO_NO_INCREMENT, FALSE);
  IoFreeIrp(irp);
}

// Under g_ioLock: 0 for an IRP that is no longer live.
unsigned long long GenerationOf(PIRP irp) {
  auto it = g_irpGenerations.find(irp);
  return it == g_irpGenerations.end() ? 0 : it->second;
}

void NotePassed(PIRP irp, PIO_STACK_LOCATION stack, bool marked) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  const unsigned long long generation = GenerationOf(irp);
  auto range = g_frames.equal_range(stack);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->generation != generation) continue;
    it->second->passed = true;
    it->second->markedWhenPassed = marked;
  }
  if (stack->HostReturnedPending && !marked) {
    hk::Fault("a dispatch routine returned STATUS_PENDING without IoMarkIrpPending (major 0x%02x)",
              stack->MajorFunction);
  }
}
}  // namespace

void IoMarkIrpPending(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  stack->Control |= SL_PENDING_RETURNED;
  const unsigned long long generation = GenerationOf(irp);
  auto range = g_frames.equal_range(stack);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->generation == generation) it->second->markedDuring = true;
  }
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  CheckIrp(irp, "IoCallDriver");
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
  HeaderOf(device);
  if (irp->CurrentLocation <= 1) {
    hk::Fault("IoCallDriver to %p: the IRP has no stack location left (stack count %d)",
              static_cast<void*>(device), irp->StackCount);
  }
  IoSetNextIrpStackLocation(irp);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  stack->DeviceObject = device;
  stack->HostReturnedPending = 0;
  if ((device->Flags & DO_DIRECT_IO) &&
      (stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE) &&
      stack->Parameters.Read.Length != 0 && irp->MdlAddress == nullptr) {
    hk::Fault("a transfer of %u bytes reached direct-I/O device %p without an MDL",
              stack->Parameters.Read.Length, static_cast<void*>(device));
  }
  Frame frame;
  // Unregistered on every way out, a fault's unwinding included.
  struct Registration {
    std::multimap<PIO_STACK_LOCATION, Frame*>::iterator it;
    ~Registration() {
      std::lock_guard<std::recursive_mutex> guard(g_ioLock);
      g_frames.erase(it);
    }
  };
  std::unique_ptr<Registration> registration;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    frame.generation = GenerationOf(irp);
    frame.premarked = (stack->Control & SL_PENDING_RETURNED) != 0;
    registration.reset(new Registration{g_frames.emplace(stack, &frame)});
  }
  const UCHAR major = stack->MajorFunction;
  PDRIVER_DISPATCH routine = device->DriverObject->MajorFunction[major];
  NTSTATUS status = routine(device, irp);
  registration.reset();
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  // The IRP may be gone by now (its memory another IRP's): its stack is
  // read only while it is still the one this call was made with.
  const bool sameIrp = GenerationOf(irp) == frame.generation;
  if (status == STATUS_PENDING) {
    bool marked = frame.passed ? frame.markedWhenPassed
                               : (frame.premarked || frame.markedDuring ||
                                  (sameIrp && (stack->Control & SL_PENDING_RETURNED)));
    if (!marked) {
      if (frame.passed) {
        hk::Fault(
            "a dispatch routine returned STATUS_PENDING without IoMarkIrpPending (major 0x%02x)",
            major);
      }
      if (sameIrp) stack->HostReturnedPending = 1;  // checked when completion passes this location
    }
  } else if (frame.markedDuring) {
    hk::Fault("a dispatch routine marked the IRP pending but returned 0x%08x",
              static_cast<unsigned>(status));
  }
  return status;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT device, PIRP irp) { return IoCallDriver(device, irp); }

void PoStartNextPowerIrp(PIRP) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  ++g_powerStarts;
}

void IoCompleteRequest(PIRP irp, CCHAR) {
  CheckIrp(irp, "IoCompleteRequest");
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
  if (irp->IoStatus.Status == STATUS_PENDING) hk::Fault("IRP completed with STATUS_PENDING");
  if (irp->CurrentLocation > irp->StackCount)
    hk::Fault("IRP completed that no driver holds (completed twice?)");
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    IoSkipCurrentIrpStackLocation(irp);  // up one location
    bool marked = (stack->Control & SL_PENDING_RETURNED) != 0;
    irp->PendingReturned = marked;
    NotePassed(irp, stack, marked);
    bool top = irp->CurrentLocation > irp->StackCount;
    NTSTATUS status = irp->IoStatus.Status;
    bool invoke = stack->CompletionRoutine != nullptr &&
                  ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                   (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                   (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)));
    if (invoke) {
      PDEVICE_OBJECT owner = top ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
      bool pendingReturned = irp->PendingReturned;
      NTSTATUS answer = stack->CompletionRoutine(owner, irp, stack->Context);
      if (answer == STATUS_MORE_PROCESSING_REQUIRED) return;
      if (pendingReturned && !top &&
          !(IoGetCurrentIrpStackLocation(irp)->Control & SL_PENDING_RETURNED)) {
        hk::Fault(
            "a completion routine let completion continue with PendingReturned set but did not "
            "mark the IRP pending (major 0x%02x)",
            stack->MajorFunction);
      }
    } else if (irp->PendingReturned && !top) {
      IoMarkIrpPending(irp);
    }
  }
  FinalCompletion(irp);
}

BOOLEAN IoCancelIrp(PIRP irp) {
  CheckIrp(irp, "IoCancelIrp");
  irp->Cancel = TRUE;
  PDRIVER_CANCEL routine = irp->CancelRoutine;
  if (routine == nullptr) return FALSE;
  irp->CancelRoutine = nullptr;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  routine(stack->DeviceObject, irp);
  return TRUE;
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
  return NewIrp(stackSize, kIrpAllocated);
}

void IoFreeIrp(PIRP irp) {
  CheckIrp(irp, "IoFreeIrp");
  irp->Type = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    g_liveIrps.erase(irp);
    g_irpGenerations.erase(irp);
  }
  ::operator delete(irp);
}

namespace {
PIRP BuildFsdRequest(ULONG major, PDEVICE_OBJECT device, PVOID buffer, ULONG length,
                     PLARGE_INTEGER offset, PIO_STATUS_BLOCK ioStatus, ULONG kind) {
  PIRP irp = NewIrp(device->StackSize, kind);
  if (irp == nullptr) return nullptr;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = static_cast<UCHAR>(major);
  irp->UserIosb = ioStatus;
  irp->RequestorMode = KernelMode;
  if (major == IRP_MJ_READ || major == IRP_MJ_WRITE) {
    next->Parameters.Read.Length = length;
    next->Parameters.Read.ByteOffset.QuadPart = offset ? offset->QuadPart : 0;
    if (device->Flags & DO_BUFFERED_IO) {
      if (!AllocateSystemBuffer(irp, length)) {
        IoFreeIrp(irp);
        return nullptr;
      }
      if (major == IRP_MJ_WRITE) {
        std::memcpy(irp->AssociatedIrp.SystemBuffer, buffer, length);
      } else {
        irp->Flags |= IRP_INPUT_OPERATION;
        irp->HostOutputLength = length;
      }
      irp->UserBuffer = buffer;
    } else if (device->Flags & DO_DIRECT_IO) {
      if (IoAllocateMdl(buffer, length, FALSE, FALSE, irp) == nullptr) {
        IoFreeIrp(irp);
        return nullptr;
      }
      MmProbeAndLockPages(irp->MdlAddress, KernelMode,
                          major == IRP_MJ_READ ? IoWriteAccess : IoReadAccess);
    } else {
      irp->UserBuffer = buffer;
    }
  }
  return irp;
}
}  // namespace

PIRP IoBuildSynchronousFsdRequest(ULONG major, PDEVICE_OBJECT device, PVOID buffer, ULONG length,
                                  PLARGE_INTEGER offset, PKEVENT event, PIO_STATUS_BLOCK ioStatus) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoBuildSynchronousFsdRequest");
  PIRP irp = BuildFsdRequest(major, device, buffer, length, offset, ioStatus, kIrpSynchronous);
  if (irp) irp->UserEvent = event;
  return irp;
}

PIRP IoBuildAsynchronousFsdRequest(ULONG major, PDEVICE_OBJECT device, PVOID buffer, ULONG length,
                                   PLARGE_INTEGER offset, PIO_STATUS_BLOCK ioStatus) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoBuildAsynchronousFsdRequest");
  return BuildFsdRequest(major, device, buffer, length, offset, ioStatus, kIrpAsynchronous);
}

PIRP IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input,
                                   ULONG inputLength, PVOID output, ULONG outputLength,
                                   BOOLEAN internal, PKEVENT event, PIO_STATUS_BLOCK ioStatus) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoBuildDeviceIoControlRequest");
  PIRP irp = NewIrp(device->StackSize, kIrpSynchronous);
  if (irp == nullptr) return nullptr;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = code;
  next->Parameters.DeviceIoControl.InputBufferLength = inputLength;
  next->Parameters.DeviceIoControl.OutputBufferLength = outputLength;
  irp->UserIosb = ioStatus;
  irp->UserEvent = event;
  irp->RequestorMode = KernelMode;
  switch (code & 3) {
    case METHOD_BUFFERED: {
      ULONG bytes = inputLength > outputLength ? inputLength : outputLength;
      if (bytes != 0) {
        if (!AllocateSystemBuffer(irp, bytes)) {
          IoFreeIrp(irp);
          return nullptr;
        }
        if (inputLength) std::memcpy(irp->AssociatedIrp.SystemBuffer, input, inputLength);
        if (outputLength) {
          irp->Flags |= IRP_INPUT_OPERATION;
          irp->HostOutputLength = outputLength;
        }
      }
      irp->UserBuffer = output;
      break;
    }
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
      if (inputLength) {
        if (!AllocateSystemBuffer(irp, inputLength)) {
          IoFreeIrp(irp);
          return nullptr;
        }
        std::memcpy(irp->AssociatedIrp.SystemBuffer, input, inputLength);
      }
      if (outputLength) {
        if (IoAllocateMdl(output, outputLength, FALSE, FALSE, irp) == nullptr) {
          ReleaseSystemBuffer(irp);
          IoFreeIrp(irp);
          return nullptr;
        }
        MmProbeAndLockPages(irp->MdlAddress, KernelMode, IoWriteAccess);
      }
      break;
    default:  // METHOD_NEITHER: the caller's buffers as they are
      next->Parameters.DeviceIoControl.Type3InputBuffer = input;
      irp->UserBuffer = output;
      break;
  }
  return irp;
}

// ------------------------------------------------------------------- MDLs

PMDL IoAllocateMdl(PVOID va, ULONG length, BOOLEAN secondary, BOOLEAN, PIRP irp) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAllocateMdl");
  auto* mdl = new (std::nothrow) MDL{};
  if (mdl == nullptr) return nullptr;
  auto address = reinterpret_cast<ULONG_PTR>(va);
  mdl->Size = sizeof(MDL);
  mdl->StartVa = reinterpret_cast<PVOID>(address & ~ULONG_PTR{0xFFF});
  mdl->ByteOffset = static_cast<ULONG>(address & 0xFFF);
  mdl->ByteCount = length;
  if (irp) {
    if (secondary && irp->MdlAddress) {
      PMDL last = irp->MdlAddress;
      while (last->Next) last = last->Next;
      last->Next = mdl;
    } else {
      irp->MdlAddress = mdl;
    }
  }
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_liveMdls.insert(mdl);
  return mdl;
}

void IoFreeMdl(PMDL mdl) {
  if ((mdl->MdlFlags & MDL_PAGES_LOCKED) && !(mdl->MdlFlags & MDL_PARTIAL)) {
    hk::Fault("IoFreeMdl on an MDL whose pages are still locked");
  }
  mdl->Size = 0;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    g_liveMdls.erase(mdl);
  }
  delete mdl;
}

void MmBuildMdlForNonPagedPool(PMDL mdl) {
  mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
  mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
}

void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE, LOCK_OPERATION) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "MmProbeAndLockPages");
  mdl->MdlFlags |= MDL_PAGES_LOCKED;
  mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
}

void MmUnlockPages(PMDL mdl) {
  if (!(mdl->MdlFlags & MDL_PAGES_LOCKED)) hk::Fault("MmUnlockPages on an MDL that is not locked");
  mdl->MdlFlags &= ~MDL_PAGES_LOCKED;
}

PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG) {
  if (!(mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_PARTIAL))) {
    hk::Fault("MmGetSystemAddressForMdlSafe on an MDL that describes no locked pages");
  }
  if (MdlMappingFails()) return nullptr;
  return mdl->MappedSystemVa ? mdl->MappedSystemVa : MmGetMdlVirtualAddress(mdl);
}

void IoBuildPartialMdl(PMDL source, PMDL target, PVOID va, ULONG length) {
  auto begin = reinterpret_cast<ULONG_PTR>(MmGetMdlVirtualAddress(source));
  auto end = begin + source->ByteCount;
  auto address = reinterpret_cast<ULONG_PTR>(va);
  if (length == 0 && address >= begin && address <= end) length = static_cast<ULONG>(end - address);
  if (address < begin || address > end || length > end - address) {
    hk::Fault("IoBuildPartialMdl: %u bytes at %p lie outside the source MDL", length, va);
  }
  target->StartVa = reinterpret_cast<PVOID>(address & ~ULONG_PTR{0xFFF});
  target->ByteOffset = static_cast<ULONG>(address & 0xFFF);
  target->ByteCount = length;
  target->MdlFlags |= MDL_PARTIAL;
  target->MappedSystemVa = va;
}

// ------------------------------------------------------------ file objects

namespace hk::detail {
namespace {
struct FileHost {
  bool opened;
};
std::map<PFILE_OBJECT, FileHost> g_files;

// Sends a request about a file object and waits for it; setup fills the
// next stack location (and buffers) and answers false when out of memory.
using RequestSetup = bool (*)(PIRP irp, PIO_STACK_LOCATION next, void* context);
NTSTATUS SendFileRequest(PFILE_OBJECT file, UCHAR major, PIO_STATUS_BLOCK iosb, RequestSetup setup,
                         void* context) {
  PDEVICE_OBJECT target = IoGetRelatedDeviceObject(file);
  PIRP irp = NewIrp(target->StackSize, kIrpThreadedFile);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  irp->UserEvent = &event;
  irp->UserIosb = iosb;
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->FileObject = file;
  if (setup && !setup(irp, next, context)) {
    IoFreeIrp(irp);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = IoCallDriver(target, irp);
  if (status == STATUS_PENDING) {
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) return status;
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = iosb->Status;
  }
  return status;
}

void DestroyFile(void* body) {
  auto* file = static_cast<PFILE_OBJECT>(body);
  bool opened;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    opened = g_files[file].opened;
    g_files.erase(file);
  }
  if (opened) {
    IO_STATUS_BLOCK iosb{};
    SendFileRequest(file, IRP_MJ_CLOSE, &iosb, nullptr, nullptr);
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    InterlockedDecrement(&file->DeviceObject->ReferenceCount);
    --g_deviceState[file->DeviceObject].openFiles;
  }
  delete[] file->FileName.Buffer;
  ObfDereferenceObject(file->DeviceObject);
}

struct CreateParameters {
  ULONG options;
  USHORT share;
  ULONG attributes;
  KPROCESSOR_MODE mode;
  PIO_SECURITY_CONTEXT security;
};
bool SetupCreate(PIRP irp, PIO_STACK_LOCATION stack, void* context) {
  auto* p = static_cast<CreateParameters*>(context);
  irp->RequestorMode = p->mode;
  stack->Parameters.Create.SecurityContext = p->security;
  stack->Parameters.Create.Options = p->options;
  stack->Parameters.Create.ShareAccess = p->share;
  stack->Parameters.Create.FileAttributes = static_cast<USHORT>(p->attributes);
  return true;
}

struct QueryParameters {
  PVOID buffer;
  ULONG length;
  FILE_INFORMATION_CLASS informationClass;
};
bool SetupQuery(PIRP irp, PIO_STACK_LOCATION stack, void* context) {
  auto* p = static_cast<QueryParameters*>(context);
  if (p->length != 0 && !AllocateSystemBuffer(irp, p->length)) return false;
  irp->Flags |= IRP_INPUT_OPERATION;
  irp->HostOutputLength = p->length;
  irp->UserBuffer = p->buffer;
  stack->Parameters.QueryFile.Length = p->length;
  stack->Parameters.QueryFile.FileInformationClass = p->informationClass;
  return true;
}
}  // namespace

// Opens a file object on a device: IRP_MJ_CREATE down the right stack.
NTSTATUS OpenDevice(PDEVICE_OBJECT device, const std::u16string& remainder, ULONG fileFlags,
                    ULONG disposition, ULONG options, ULONG share, ULONG attributes,
                    PFILE_OBJECT* out, KPROCESSOR_MODE mode, ACCESS_MASK desired) {
  *out = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    if ((device->Flags & DO_DEVICE_INITIALIZING) || g_deviceState[device].deletePending) {
      return STATUS_NO_SUCH_DEVICE;
    }
  }
  auto* file =
      static_cast<PFILE_OBJECT>(ObAllocate(ObKind::File, sizeof(FILE_OBJECT), DestroyFile));
  file->Type = IO_TYPE_FILE;
  file->Size = sizeof(FILE_OBJECT);
  file->DeviceObject = device;
  ObfReferenceObject(device);
  if (device->Vpb && (device->Vpb->Flags & VPB_MOUNTED)) file->Vpb = device->Vpb;
  file->Flags = fileFlags;
  if (!remainder.empty()) {
    auto* name = new WCHAR[remainder.size() + 1];
    std::memcpy(name, remainder.data(), remainder.size() * 2);
    name[remainder.size()] = 0;
    file->FileName = {static_cast<USHORT>(remainder.size() * 2),
                      static_cast<USHORT>(remainder.size() * 2 + 2), name};
  }
  KeInitializeEvent(&file->Event, NotificationEvent, FALSE);
  KeInitializeEvent(&file->Lock, SynchronizationEvent, TRUE);
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    g_files[file] = {false};
  }
  IO_STATUS_BLOCK iosb{};
  ACCESS_STATE access{};
  access.RemainingDesiredAccess = desired;
  access.OriginalDesiredAccess = desired;
  access.SubjectSecurityContext.PrimaryToken = TokenFor(mode);
  access.SubjectSecurityContext.ImpersonationLevel = SecurityAnonymous;
  IO_SECURITY_CONTEXT security{};
  security.AccessState = &access;
  security.DesiredAccess = desired;
  security.FullCreateOptions = (disposition << 24) | (options & 0x00FFFFFF);
  CreateParameters parameters{(disposition << 24) | (options & 0x00FFFFFF),
                              static_cast<USHORT>(share), attributes, mode, &security};
  NTSTATUS status = SendFileRequest(file, IRP_MJ_CREATE, &iosb, SetupCreate, &parameters);
  if (!NT_SUCCESS(status)) {
    ObfDereferenceObject(file);
    return status;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(g_ioLock);
    g_files[file].opened = true;
    InterlockedIncrement(&device->ReferenceCount);
    ++g_deviceState[device].openFiles;
  }
  *out = file;
  return STATUS_SUCCESS;
}

// Closing the last handle: IRP_MJ_CLEANUP; the close follows with the last
// reference.
void CleanupFile(PFILE_OBJECT file) {
  IO_STATUS_BLOCK iosb{};
  SendFileRequest(file, IRP_MJ_CLEANUP, &iosb, nullptr, nullptr);
}

NTSTATUS SendFileControl(PFILE_OBJECT file, UCHAR major, ULONG code, PVOID input, ULONG inputLength,
                         PVOID output, ULONG outputLength, PIO_STATUS_BLOCK iosb,
                         KPROCESSOR_MODE requestorMode) {
  PDEVICE_OBJECT target = IoGetRelatedDeviceObject(file);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildDeviceIoControlRequest(code, target, input, inputLength, output, outputLength,
                                           FALSE, &event, iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  irp->HostKind = kIrpThreadedFile;
  irp->RequestorMode = requestorMode;
  irp->Tail.Overlay.OriginalFileObject = file;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->FileObject = file;
  return CallDriverAndWait(target, irp, &event, iosb);
}

NTSTATUS SendFileTransfer(PFILE_OBJECT file, UCHAR major, PVOID buffer, ULONG length,
                          PLARGE_INTEGER offset, PIO_STATUS_BLOCK iosb) {
  PDEVICE_OBJECT target = IoGetRelatedDeviceObject(file);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  PIRP irp = IoBuildSynchronousFsdRequest(major, target, buffer, length, offset, &event, iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  irp->Tail.Overlay.OriginalFileObject = file;
  IoGetNextIrpStackLocation(irp)->FileObject = file;
  return CallDriverAndWait(target, irp, &event, iosb);
}

NTSTATUS SendFileQuery(PFILE_OBJECT file, PVOID buffer, ULONG length,
                       FILE_INFORMATION_CLASS informationClass, PIO_STATUS_BLOCK iosb) {
  QueryParameters parameters{buffer, length, informationClass};
  return SendFileRequest(file, IRP_MJ_QUERY_INFORMATION, iosb, SetupQuery, &parameters);
}

}  // namespace hk::detail

PDEVICE_OBJECT IoGetRelatedDeviceObject(PFILE_OBJECT file) {
  if (file->Vpb && file->Vpb->DeviceObject) return IoGetAttachedDevice(file->Vpb->DeviceObject);
  return IoGetAttachedDevice(file->DeviceObject);
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING name, ACCESS_MASK, PFILE_OBJECT* fileObject,
                                  PDEVICE_OBJECT* device) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoGetDeviceObjectPointer");
  Resolved resolved;
  if (!ResolveName(ToU16(name), &resolved) || resolved.device == nullptr)
    return STATUS_OBJECT_NAME_NOT_FOUND;
  PFILE_OBJECT file;
  NTSTATUS status =
      OpenDevice(resolved.device, resolved.remainder, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE,
                 FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &file);
  if (!NT_SUCCESS(status)) return status;
  CleanupFile(file);  // the handle the kernel opened internally is closed again
  *fileObject = file;
  *device = IoGetRelatedDeviceObject(file);
  return STATUS_SUCCESS;
}

NTSTATUS IoAttachDevice(PDEVICE_OBJECT source, PUNICODE_STRING targetName,
                        PDEVICE_OBJECT* attachedDevice) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoAttachDevice");
  *attachedDevice = nullptr;
  Resolved resolved;
  if (!ResolveName(ToU16(targetName), &resolved) || resolved.device == nullptr)
    return STATUS_OBJECT_NAME_NOT_FOUND;
  PFILE_OBJECT file;
  NTSTATUS status = OpenDevice(resolved.device, resolved.remainder, 0, FILE_OPEN, 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &file);
  if (!NT_SUCCESS(status)) return status;
  CleanupFile(file);
  PDEVICE_OBJECT below = IoAttachDeviceToDeviceStack(source, resolved.device);
  ObfDereferenceObject(file);
  if (below == nullptr) return STATUS_NO_SUCH_DEVICE;
  *attachedDevice = below;
  return STATUS_SUCCESS;
}

// ------------------------------------------------------------ remove locks

namespace {
constexpr ULONG kRemoveLockMagic = 0x4B434C52;
void CheckRemoveLock(PIO_REMOVE_LOCK lock, const char* what) {
  if (lock->HostMagic != kRemoveLockMagic) hk::Fault("%s on an uninitialised remove lock", what);
}
}  // namespace

void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG tag, ULONG maxLockedMinutes,
                            ULONG highWatermark) {
  std::memset(lock, 0, sizeof *lock);
  lock->HostMagic = kRemoveLockMagic;
  lock->Tag = tag;
  lock->IoCount = 1;  // the bias that IoReleaseRemoveLockAndWait drops
  lock->MaxLockedMinutes = maxLockedMinutes;
  lock->HighWatermark = highWatermark;
  KeInitializeEvent(&lock->RemoveEvent, NotificationEvent, FALSE);
}

NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoAcquireRemoveLock");
  CheckRemoveLock(lock, "IoAcquireRemoveLock");
  LONG count = InterlockedIncrement(&lock->IoCount);
  if (lock->Removed) {
    if (InterlockedDecrement(&lock->IoCount) == 0)
      KeSetEvent(&lock->RemoveEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_DELETE_PENDING;
  }
  // The kernel checks the high-water mark only in its checking builds.
  if (lock->HighWatermark != 0 && static_cast<ULONG>(count - 1) > lock->HighWatermark) {
    hk::Fault("remove lock held %d times, above its high-water mark %u", count - 1,
              lock->HighWatermark);
  }
  return STATUS_SUCCESS;
}

void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID) {
  RequireIrqlAtMost(DISPATCH_LEVEL, "IoReleaseRemoveLock");
  CheckRemoveLock(lock, "IoReleaseRemoveLock");
  LONG count = InterlockedDecrement(&lock->IoCount);
  if (count < 0 || (count == 0 && !lock->Removed))
    hk::Fault("remove lock released more often than acquired");
  if (count == 0) KeSetEvent(&lock->RemoveEvent, IO_NO_INCREMENT, FALSE);
}

void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag) {
  RequireIrqlAtMost(PASSIVE_LEVEL, "IoReleaseRemoveLockAndWait");
  CheckRemoveLock(lock, "IoReleaseRemoveLockAndWait");
  lock->Removed = TRUE;
  // The caller's own acquisition, then the bias.
  InterlockedDecrement(&lock->IoCount);
  IoReleaseRemoveLock(lock, tag);
  KeWaitForSingleObject(&lock->RemoveEvent, Executive, KernelMode, FALSE, nullptr);
}

BOOLEAN SeTokenIsAdmin(PACCESS_TOKEN token) {
  if (token == nullptr) hk::Fault("SeTokenIsAdmin without a token");
  return static_cast<const HostToken*>(token)->administrator ? TRUE : FALSE;
}

namespace hk {
void SetDeviceSecurity(PDEVICE_OBJECT device, const std::u16string& sddl) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_deviceSecurity[device] = sddl;
}
bool DescriptorAllows(const std::u16string& sddl, bool administrator, ACCESS_MASK desired) {
  return DescriptorAllowsUser(sddl, administrator, desired);
}
std::u16string DeviceSecurity(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  auto found = g_deviceSecurity.find(device);
  return found == g_deviceSecurity.end() ? std::u16string() : found->second;
}
void SetUserIsAdministrator(bool administrator) {
  std::lock_guard<std::recursive_mutex> guard(g_ioLock);
  g_userIsAdministrator = administrator;
}
}  // namespace hk
