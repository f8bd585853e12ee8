// What temporary mode and snapshot drives cost, measured side by side in
// one run on one installed machine (sparse disk image, the engine booted as
// Windows boots it): 64 KB reads and writes of a 32 MB region through the
// volume's plain pass-through, then the same through temporary mode's
// redirection, and reads of the region's snapshot through a snapshot drive.
// Prints ratios; never a test.
#include <cstdio>
#include <vector>

#include "bench_machine.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "hostkernel/call_and_wait.h"
#include "snapshot_drive.h"
#include "temporary_mode.h"

namespace {

using vh::bench::Clock;
using vh::bench::Machine;

constexpr uint32_t kTransfer = 65536;
constexpr uint64_t kRegionBlocks = 1024;  // 32 MB
constexpr int kRounds = 3;

std::vector<uint64_t> RegionOffsets(uint64_t firstBlock) {
  std::vector<uint64_t> out;
  for (uint64_t at = firstBlock * vh::kBlockBytes;
       at < (firstBlock + kRegionBlocks) * vh::kBlockBytes; at += kTransfer) {
    out.push_back(at);
  }
  return out;
}

// Seconds for 64 KB reads over the region, or -1.
double Reads(PDEVICE_OBJECT target, uint64_t firstBlock) {
  std::vector<uint8_t> data(kTransfer);
  const auto start = Clock::now();
  for (uint64_t at : RegionOffsets(firstBlock)) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(at);
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_READ, target, data.data(), kTransfer, &offset,
                                            &event, &ioStatus);
    if (irp == nullptr) return -1;
    NTSTATUS status = hk::CallDriverAndWait(target, irp, &event, &ioStatus);
    if (status != STATUS_SUCCESS) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A drive of snapshot 1 without a letter; the caller deletes it.
PDEVICE_OBJECT MountFirstSnapshot(Machine& machine) {
  MountRequest mount{};
  mount.DriveIndex = 5;
  mount.ReadOnly = 1;
  mount.NoLetter = 1;
  mount.SnapshotNumber = 1;
  if (!NT_SUCCESS(MountSnapshot(machine.Filter(), &mount))) return nullptr;
  auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
  vh::MountEntry& entry = control->MountTable->Entries[0];
  auto* drive = reinterpret_cast<PDEVICE_OBJECT>(static_cast<ULONG_PTR>(entry.MountDevice));
  entry.MountDevice = 0;
  return drive;
}

bool StartTemporary(Machine& machine) {
  EngineLock();
  NTSTATUS status = StartTemporaryMode(machine.Filter());
  EngineUnlock();
  return NT_SUCCESS(status);
}

void Ratio(const char* what, double with, double without) {
  const double megabytes = kRegionBlocks * vh::kBlockBytes / 1048576.0;
  std::printf("%-48s %8.1f MB/s vs %8.1f MB/s pass-through   time ratio %6.2f\n", what,
              megabytes / with, megabytes / without, with / without);
}

}  // namespace

int main() {
  hk::SetDbgEcho(false);
  hk::SetTimeScale(200);
  constexpr uint64_t kFirst = 4096;  // a region in the volume's second eighth
  const std::vector<uint64_t> offsets = RegionOffsets(kFirst);
  double plainWrite = 0, plainRead = 0, driveRead = 0, tempFirstWrite = 0, tempRewrite = 0,
         tempRead = 0;
  for (int round = 0; round < kRounds; ++round) {
    Machine machine;
    if (!machine.Boot(1ull << 30) || !machine.Allocate(kFirst, kRegionBlocks)) {
      std::fprintf(stderr, "machine did not boot\n");
      return 1;
    }
    // No engine yet: reads and writes pass straight through. A first pass
    // lays the region out in the image file, as temporary mode's rewrites
    // find their sectors laid out below.
    machine.Writes(kTransfer, offsets);
    const double w = machine.Writes(kTransfer, offsets);
    const double r = Reads(machine.Filter(), kFirst);
    PDEVICE_OBJECT drive = machine.Snapshot() < 0 ? nullptr : MountFirstSnapshot(machine);
    if (drive == nullptr) {
      std::fprintf(stderr, "no snapshot drive\n");
      return 1;
    }
    const double d = Reads(drive, kFirst);
    DeleteMountDevice(drive);
    if (!StartTemporary(machine)) {
      std::fprintf(stderr, "temporary mode did not start\n");
      return 1;
    }
    const double tw = machine.Writes(kTransfer, offsets);
    const double tr = Reads(machine.Filter(), kFirst);
    const double tw2 = machine.Writes(kTransfer, offsets);
    if (w < 0 || r < 0 || d < 0 || tw < 0 || tr < 0 || tw2 < 0) {
      std::fprintf(stderr, "a transfer failed\n");
      return 1;
    }
    plainWrite += w;
    plainRead += r;
    driveRead += d;
    tempFirstWrite += tw;
    tempRead += tr;
    tempRewrite += tw2;
  }
  std::printf("64 KB transfers over 32 MB, %d rounds each\n", kRounds);
  Ratio("temporary mode, first writes (new translations)", tempFirstWrite, plainWrite);
  Ratio("temporary mode, rewrites (translated)", tempRewrite, plainWrite);
  Ratio("temporary mode, reads (translated)", tempRead, plainRead);
  Ratio("snapshot drive, reads of snapshot 1", driveRead, plainRead);
  return 0;
}
