// Sends arbitrary control requests, as a user-mode program could, to the
// control device of an engine booted on an installed machine.
//
// Input: byte 0 picks the code (0-14 the engine's codes, above that codes
// around them, other methods included); bytes 1-2 the output length; byte 3
// flags: 1 = output 64 KB longer, 2 = name drive C in the request, 4 = pad
// the input to a whole header write, 8 = a header write over the engine's
// own header, the input past the request laid over it from the offset in
// bytes 1-2 (so names, counts and slots change one at a time); the rest is
// the input buffer.
//
// Under libFuzzer the engine keeps its state between inputs, as a real one
// would; the machine boots again when a request stopped the engine or
// switched to temporary mode, and every few hundred inputs. The replay
// program boots it for each input. Every shutdown must leave the kernel
// clean (no pool, object, handle or thread left over).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "engine_state.h"
#include "hostkernel/control.h"
#include "hostkernel/user_io.h"
#include "snapshot_drive.h"
#include "vh/enginehost/engine_boot.h"
#include "vh/storage/installed_machine.h"

namespace {

using vh::storage::InstalledMachine;
using vh::storage::MachineOptions;

const ULONG kCodes[] = {
    vh::IOCTL_ENGINE_QUERY_STATUS,      vh::IOCTL_ENGINE_START_TEMPORARY,
    vh::IOCTL_ENGINE_CREATE_SNAPSHOT,   vh::IOCTL_ENGINE_DELETE_SNAPSHOT,
    vh::IOCTL_ENGINE_SET_ROLLBACK,      vh::IOCTL_ENGINE_READ_HEADER,
    vh::IOCTL_ENGINE_WRITE_HEADER,      vh::IOCTL_ENGINE_MOUNT_SNAPSHOT,
    vh::IOCTL_ENGINE_UNMOUNT_SNAPSHOT,  vh::IOCTL_ENGINE_GET_MOUNT_TABLE,
    vh::IOCTL_ENGINE_RECLAIM_SPACE,     vh::IOCTL_ENGINE_SYSTEM_CONTROL,
    vh::IOCTL_ENGINE_PROBE_FILE,        vh::IOCTL_ENGINE_STOP_VOLUME,
    vh::IOCTL_ENGINE_ADD_EXCLUDED_FILE,
};
constexpr unsigned kCodeCount = sizeof kCodes / sizeof kCodes[0];
constexpr unsigned kRebootEvery = 400;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "control_fuzz: %s\n", why.c_str());
  std::abort();
}

class Machine {
 public:
  void Boot() {
    hk::SetTimeScale(200);
    MachineOptions options;
    if (InstalledMachine::Build(options, &machine_) != STATUS_SUCCESS) Die("machine build failed");
    if (boot_.Boot(*machine_) != STATUS_SUCCESS) Die("boot failed");
    // One snapshot, so that the requests that need a header find one.
    std::vector<uint8_t> request(vh::kRequestBytes, 0);
    NameDriveC(request);
    const vh::RecordGuid guid = {0x5EED0001u, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::memcpy(&request[offsetof(vh::VolumeRequest, SnapshotGuid)], &guid, sizeof guid);
    hk::UserIoResult r =
        hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH", vh::IOCTL_ENGINE_CREATE_SNAPSHOT,
                                request.data(), vh::kRequestBytes, nullptr, 0);
    if (r.status != STATUS_SUCCESS) Die("first snapshot failed");
    sent_ = 0;
  }

  void Shutdown() {
    // Snapshot drives the inputs made live until someone removes them, as
    // on a real system; the machine going away removes them first.
    if (EngineControlDevice != nullptr) {
      auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
      for (vh::MountEntry& entry : control->MountTable->Entries) {
        const uint64_t device = entry.MountDevice;
        if (device != 0)
          DeleteMountDevice(reinterpret_cast<PDEVICE_OBJECT>(static_cast<uintptr_t>(device)));
        std::memset(&entry, 0, sizeof entry);
      }
    }
    boot_.TearDown(machine_.get());
    machine_.reset();
    std::string leaks = hk::LeakReport();
    if (!leaks.empty()) Die("the kernel is not clean after shutdown:\n" + leaks);
    hk::ResetKernel();
  }

  // A stopped engine or temporary mode would make every later input
  // answer the same; a fresh boot keeps the inputs meaningful.
  void AfterRequest() {
    ++sent_;
    PDEVICE_OBJECT filter = EnginePrimaryVolume;
    auto* volume = filter ? static_cast<PVolumeFilterExtension>(filter->DeviceExtension) : nullptr;
    if (sent_ >= kRebootEvery || volume == nullptr || volume->StopFlag ||
        volume->EngineMode == EngineModeTemporary) {
      Shutdown();
      Boot();
    }
  }

  static void NameDriveC(std::vector<uint8_t>& request) {
    if (request.size() < vh::kRequestBytes) return;
    const uint32_t kind = vh::kVolumeNameIsDriveLetter;
    const char16_t name[2] = {u'C', 0};
    std::memcpy(&request[offsetof(vh::VolumeRequest, VolumeNameKind)], &kind, sizeof kind);
    std::memcpy(&request[offsetof(vh::VolumeRequest, VolumeName)], name, sizeof name);
  }

 private:
  std::unique_ptr<InstalledMachine> machine_;
  vh::enginehost::EngineBoot boot_;
  unsigned sent_ = 0;
};

Machine* g_machine = nullptr;

// libFuzzer ends the process with exit() while the last machine still runs:
// its engine threads and pool would show as leaks at exit, failing a run at
// random. Handlers run in reverse order of registration: this one is
// registered once a boot and a request have built the kernel layer's
// function-local statics (it needs them), and the leak check registered at
// start-up runs after it.
void ShutDownLastMachine() {
  if (g_machine == nullptr) return;
  g_machine->Shutdown();
  delete g_machine;
  g_machine = nullptr;
}

Machine& TheMachine() {
  if (g_machine == nullptr) {
    g_machine = new Machine;
    g_machine->Boot();
  }
  return *g_machine;
}

}  // namespace

namespace {

// Under libFuzzer the machine lives across inputs and is shut down at exit.
// The replay program instead shuts it down after each input: at its exit no
// engine thread may still run while the process's static objects go away.
void AfterInput() {
#ifdef VH_LIBFUZZER
  static const bool registered = std::atexit(ShutDownLastMachine) == 0;
  if (!registered) Die("cannot register the shutdown at exit");
  g_machine->AfterRequest();
#else
  ShutDownLastMachine();
#endif
}

}  // namespace

namespace {

// A whole header write the engine can take: the request, then the engine's
// own header with the input's bytes past the request laid over it from
// `at` on (names, remarks, counts, slots: whatever the input reaches).
std::vector<uint8_t> WholeHeaderWrite(const std::vector<uint8_t>& input, size_t at) {
  std::vector<uint8_t> request(vh::kRequestBytes, 0);
  Machine::NameDriveC(request);
  std::vector<uint8_t> out(vh::kHeaderWriteBytes, 0);
  std::memcpy(out.data(), input.data(), std::min(input.size(), out.size()));
  Machine::NameDriveC(out);
  hk::UserIoResult r = hk::UserDeviceIoControl(
      u"\\\\.\\QuorvelVH", vh::IOCTL_ENGINE_READ_HEADER, request.data(), vh::kRequestBytes,
      out.data() + vh::kRequestBytes, vh::kEngineHeaderBytes);
  if (r.status != STATUS_SUCCESS) return out;
  for (size_t i = vh::kRequestBytes; i < input.size(); ++i) {
    const size_t to = vh::kRequestBytes + (at + i - vh::kRequestBytes) % vh::kEngineHeaderBytes;
    out[to] = input[i];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  TheMachine();
  const uint8_t pick = data[0];
  ULONG code;
  if (pick < kCodeCount) {
    code = kCodes[pick];
  } else {
    // Codes next to the engine's, every transfer method among them.
    code = 0x80002000u + ((pick - kCodeCount) & 0x3F) * 4 + (data[3] >> 6);
  }
  ULONG outLength = static_cast<ULONG>(data[1]) | static_cast<ULONG>(data[2]) << 8;
  const uint8_t flags = data[3];
  if (flags & 1) outLength += vh::kEngineHeaderBytes;
  std::vector<uint8_t> input(data + 4, data + size);
  if ((flags & 8) && code == vh::IOCTL_ENGINE_WRITE_HEADER) {
    input =
        WholeHeaderWrite(input, static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8);
    outLength = 0;
  }
  if ((flags & 4) && input.size() < vh::kHeaderWriteBytes) input.resize(vh::kHeaderWriteBytes, 0);
  if (flags & 2) {
    if (code == vh::IOCTL_ENGINE_SET_ROLLBACK && input.size() >= vh::kRequestBytes) {
      const uint32_t kind = vh::kVolumeNameIsDriveLetter;
      const char16_t name[2] = {u'C', 0};
      std::memcpy(&input[offsetof(vh::RollbackRequest, VolumeNameKind)], &kind, sizeof kind);
      std::memcpy(&input[offsetof(vh::RollbackRequest, VolumeName)], name, sizeof name);
    } else {
      Machine::NameDriveC(input);
    }
  }
  // Exactly the caller's lengths: anything written past them is an ASan error.
  std::unique_ptr<uint8_t[]> in(input.empty() ? nullptr : new uint8_t[input.size()]);
  if (!input.empty()) std::memcpy(in.get(), input.data(), input.size());
  std::unique_ptr<uint8_t[]> out(outLength ? new uint8_t[outLength] : nullptr);
  hk::UserIoResult r = hk::UserDeviceIoControl(
      u"\\\\.\\QuorvelVH", code, in.get(), static_cast<ULONG>(input.size()), out.get(), outLength);
  if (r.bytesReturned > outLength) Die("more bytes returned than the output buffer holds");
  AfterInput();
  return 0;
}
