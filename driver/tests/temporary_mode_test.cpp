// Temporary mode: the free-run and translation tables on their own, then
// the mode on an installed machine against a shadow model of the volume,
// with writes going on while the mode switches, injected failures, and a
// restart that must bring back the volume as it was at the switch.
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <thread>
#include <tuple>

#include "engine_lock.h"
#include "temporary_fixture.h"
#include "temporary_mode.h"

namespace vh::test {
namespace {

using Runs = std::vector<std::pair<ULONG, ULONG>>;

Runs RunsOf(FreeRunChunk* list) {
  Runs out;
  for (FreeRunChunk* chunk = list; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = chunk->Cursor; i < chunk->Count; ++i) {
      if (chunk->End[i] >= chunk->Start[i]) out.emplace_back(chunk->Start[i], chunk->End[i]);
    }
  }
  return out;
}

std::vector<TranslationEntry> EntriesOf(TranslationChunk* list) {
  std::vector<TranslationEntry> out;
  for (TranslationChunk* chunk = list; chunk != nullptr; chunk = chunk->Next) {
    out.insert(out.end(), chunk->Entries, chunk->Entries + chunk->Count);
  }
  std::sort(out.begin(), out.end(), [](const TranslationEntry& a, const TranslationEntry& b) {
    return a.HomeSector < b.HomeSector;
  });
  return out;
}

// ---- The tables alone ---------------------------------------------------------

class TemporaryTablesTest : public hk::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    volume_ = std::make_unique<VolumeFilterExtension>();
    std::memset(volume_.get(), 0, sizeof(VolumeFilterExtension));
    KeInitializeSpinLock(&volume_->WriteQueueLock);
  }
  void TearDown() override {
    FreeTemporaryTables(volume_.get());
    volume_.reset();
    KernelTest::TearDown();
  }
  void Free(ULONG first, ULONG last) {
    ASSERT_GE(AddFreeRun(&volume_->FreeRunList, first, last), 0);
  }

  std::unique_ptr<VolumeFilterExtension> volume_;
};

TEST_F(TemporaryTablesTest, FreeRunsMergeWhenAdjacentAndAppendOtherwise) {
  struct Case {
    const char* name;
    Runs before;
    std::pair<ULONG, ULONG> add;
    NTSTATUS answer;
    Runs after;
  };
  const Case cases[] = {
      {"empty list", {}, {10, 19}, 0, {{10, 19}}},
      {"continues a run", {{10, 19}}, {20, 29}, 1, {{10, 29}}},
      {"precedes a run", {{10, 19}}, {0, 9}, 1, {{0, 19}}},
      {"leaves a gap", {{10, 19}}, {21, 29}, 0, {{10, 19}, {21, 29}}},
      {"joins the second run", {{0, 4}, {10, 19}}, {20, 22}, 1, {{0, 4}, {10, 22}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreeTemporaryTables(volume_.get());
    for (const auto& run : c.before) Free(run.first, run.second);
    EXPECT_EQ(AddFreeRun(&volume_->FreeRunList, c.add.first, c.add.second), c.answer);
    EXPECT_EQ(RunsOf(volume_->FreeRunList), c.after);
  }
}

TEST_F(TemporaryTablesTest, AFullChunkOfRunsGetsASuccessor) {
  for (ULONG i = 0; i <= FreeRunChunkRuns; ++i) Free(i * 10, i * 10 + 4);
  ASSERT_NE(volume_->FreeRunList, nullptr);
  EXPECT_EQ(volume_->FreeRunList->Count, FreeRunChunkRuns);
  ASSERT_NE(volume_->FreeRunList->Next, nullptr);
  EXPECT_EQ(volume_->FreeRunList->Next->Start[0], FreeRunChunkRuns * 10);
}

TEST_F(TemporaryTablesTest, ConsecutiveTranslationsExtendOneEntry) {
  EXPECT_EQ(RecordTranslation(100, 5000, 8, volume_.get()), 1);  // the first chunk
  EXPECT_EQ(RecordTranslation(108, 5008, 8, volume_.get()), 0);
  EXPECT_EQ(RecordTranslation(50, 6000, 4, volume_.get()), 0);  // sorted in before
  const auto entries = EntriesOf(volume_->TranslationList);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].HomeSector, 50u);
  EXPECT_EQ(entries[1].HomeSector, 100u);
  EXPECT_EQ(entries[1].SectorCount, 16u);
  EXPECT_EQ(volume_->TranslationList->FirstHome, 50u);
  EXPECT_EQ(volume_->TranslationList->LastHome, 115u);
}

TEST_F(TemporaryTablesTest, The200001stEntryStartsANewHeadChunk) {
  for (ULONG i = 0; i < TranslationChunkEntries; ++i) {
    ASSERT_GE(RecordTranslation(i * 4, 1000000 + i * 8, 2, volume_.get()), 0);
  }
  TranslationChunk* first = volume_->TranslationList;
  EXPECT_EQ(first->Count, TranslationChunkEntries);
  EXPECT_EQ(RecordTranslation(TranslationChunkEntries * 4, 9000000, 2, volume_.get()), 1);
  ASSERT_NE(volume_->TranslationList, first);
  EXPECT_EQ(volume_->TranslationList->Next, first);
  EXPECT_EQ(volume_->TranslationList->Count, 1u);
  // Both chunks answer lookups.
  Fragment fragments[8] = {};
  ULONG count = 0, next = 0;
  ASSERT_EQ(TranslateRange(TRUE, 2, 4, fragments, 7, volume_.get(), &count, &next, nullptr),
            STATUS_SUCCESS);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(fragments[0].Sector, 2u);  // untranslated: in place
  EXPECT_EQ(fragments[0].SectorCount, 2u);
  EXPECT_EQ(fragments[1].Sector, 1000008u);
  EXPECT_EQ(fragments[1].SectorCount, 1u);
  // The newest chunk's entry is found beside the old chunk's.
  ASSERT_EQ(TranslateRange(TRUE, TranslationChunkEntries * 4, TranslationChunkEntries * 4 + 1,
                           fragments, 7, volume_.get(), &count, &next, nullptr),
            STATUS_SUCCESS);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(fragments[0].Sector, 9000000u);
}

TEST_F(TemporaryTablesTest, WritesTranslateUntranslatedPiecesInSectorOrder) {
  Free(1000, 1999);
  ASSERT_EQ(RecordTranslation(20, 500, 10, volume_.get()), 1);  // 20..29 -> 500..509
  Fragment fragments[8] = {};
  ULONG fresh[1] = {0};
  ULONG count = 0, next = 0;
  ASSERT_EQ(TranslateRange(FALSE, 10, 39, fragments, 7, volume_.get(), &count, &next, fresh),
            STATUS_SUCCESS);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(next, 40u);
  EXPECT_EQ(fragments[0].Sector, 1000u);  // 10..19: new sectors
  EXPECT_EQ(fragments[0].SectorCount, 10u);
  EXPECT_EQ(fragments[1].Sector, 500u);  // 20..29: as translated before
  EXPECT_EQ(fragments[1].SectorCount, 10u);
  EXPECT_EQ(fragments[2].Sector, 1010u);  // 30..39: new sectors
  EXPECT_EQ(fragments[2].SectorCount, 10u);
  EXPECT_EQ(fresh[0], 0b101u);
  EXPECT_EQ(fragments[3].SectorCount, 0u);  // the end mark
  // A read of the same stretch now finds all three pieces translated.
  ASSERT_EQ(TranslateRange(TRUE, 10, 39, fragments, 7, volume_.get(), &count, &next, nullptr),
            STATUS_SUCCESS);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(fragments[2].Sector, 1010u);
  EXPECT_EQ(volume_->FreeRunList->Start[0], 1020u);
}

TEST_F(TemporaryTablesTest, ACapacityCutLeavesTheRestForTheNextRound) {
  Free(1000, 1999);
  for (ULONG s = 0; s < 20; s += 2) ASSERT_GE(RecordTranslation(s, 5000 + s, 1, volume_.get()), 0);
  Fragment fragments[6] = {};
  ULONG count = 0, next = 0;
  ASSERT_EQ(TranslateRange(TRUE, 0, 19, fragments, 5, volume_.get(), &count, &next, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(next, 5u);                      // 0 t, 1 u, 2 t, 3 u, 4 t
  EXPECT_EQ(fragments[5].SectorCount, 0u);  // untouched past the capacity
}

TEST_F(TemporaryTablesTest, AnExhaustedFreeListFailsTheWrite) {
  Free(1000, 1003);
  Fragment fragments[8] = {};
  ULONG fresh[1] = {0};
  ULONG count = 0, next = 0;
  EXPECT_EQ(TranslateRange(FALSE, 0, 7, fragments, 7, volume_.get(), &count, &next, fresh),
            STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(count, 1u);  // what was taken is reported, so it can be undone
  EXPECT_EQ(fresh[0], 1u);
  EXPECT_EQ(next, 4u);
}

TEST_F(TemporaryTablesTest, RemovingATranslationKeepsItsNeighbours) {
  ASSERT_EQ(RecordTranslation(100, 5000, 30, volume_.get()), 1);  // 100..129
  struct Case {
    const char* name;
    ULONG home, count;
    std::vector<std::tuple<ULONG, ULONG, ULONG>> left;  // home, new, count
  };
  const Case cases[] = {
      {"middle", 110, 5, {{100, 5000, 10}, {115, 5015, 15}}},
      {"front", 100, 3, {{103, 5003, 7}, {115, 5015, 15}}},
      {"back", 125, 5, {{103, 5003, 7}, {115, 5015, 10}}},
      {"other target left alone", 103, 2, {{103, 5003, 7}, {115, 5015, 10}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ULONG target =
        std::string(c.name) == "other target left alone" ? 7777 : 5000 + (c.home - 100);
    EXPECT_EQ(RemoveTranslation(c.home, target, c.count, volume_.get()), 0);
    std::vector<std::tuple<ULONG, ULONG, ULONG>> left;
    for (const TranslationEntry& e : EntriesOf(volume_->TranslationList))
      left.emplace_back(e.HomeSector, e.NewSector, e.SectorCount);
    EXPECT_EQ(left, c.left);
  }
}

// ---- The mode on an installed machine --------------------------------------------

// The volume as the writer of the test knows it: every sector written or
// allocated before the switch has known bytes.
class Shadow {
 public:
  void Put(uint64_t sector, const uint8_t* bytes, uint64_t sectors) {
    for (uint64_t s = 0; s < sectors; ++s) {
      std::array<uint8_t, 512>& slot = sectors_[sector + s];
      std::memcpy(slot.data(), bytes + s * 512, 512);
    }
  }
  // Sectors whose bytes differ from the shadow's (sectors it does not know
  // are skipped).
  std::vector<uint64_t> Mismatches(uint64_t sector, const std::vector<uint8_t>& bytes) const {
    std::vector<uint64_t> out;
    for (uint64_t s = 0; s < bytes.size() / 512; ++s) {
      auto it = sectors_.find(sector + s);
      if (it != sectors_.end() && std::memcmp(it->second.data(), bytes.data() + s * 512, 512) != 0)
        out.push_back(sector + s);
    }
    return out;
  }

 private:
  std::map<uint64_t, std::array<uint8_t, 512>> sectors_;
};

TEST_F(TemporaryTest, RandomIoAgreesWithAShadowAndARestartBringsBackTheSwitch) {
  constexpr uint64_t kBlocks = 64;  // 2 MB regions
  const uint64_t region = AllocatedRegion(kBlocks);
  const uint64_t busy = AllocatedRegion(kBlocks);  // written while the mode switches
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  Shadow shadow;
  std::vector<uint8_t> bytes = ImageSectors(region, kBlocks * 64);
  shadow.Put(region, bytes.data(), kBlocks * 64);
  const std::vector<uint8_t> regionAtSwitch = bytes;
  const RestoredWindow snapshotBefore = Restorer(Installed()).Restore(1, region / 64, kBlocks);
  ASSERT_TRUE(snapshotBefore.fault.empty()) << snapshotBefore.fault;

  // Writes go on while the mode switches; each block of `busy` is written
  // once with generation 7.
  std::vector<uint8_t> busyWritten(kBlocks * kBlockBytes);
  FillPattern(busyWritten.data(), busy, kBlocks * 64, 7);
  std::vector<NTSTATUS> busyStatus(kBlocks, STATUS_PENDING);
  std::thread writer([&] {
    for (uint64_t b = 0; b < kBlocks; ++b) {
      std::vector<uint8_t> one(busyWritten.begin() + b * kBlockBytes,
                               busyWritten.begin() + (b + 1) * kBlockBytes);
      busyStatus[b] = WriteSectors(Device(), (busy + b * 64) * 512, one);
    }
  });
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  writer.join();
  for (uint64_t b = 0; b < kBlocks; ++b) ASSERT_EQ(busyStatus[b], STATUS_SUCCESS) << b;
  EXPECT_EQ(Ext()->EngineMode, EngineModeTemporary);
  EXPECT_EQ(Switch(), STATUS_SUCCESS);  // already on
  shadow.Put(busy, busyWritten.data(), kBlocks * 64);

  std::mt19937 random(20261210);
  const uint64_t span = kBlocks * 64;
  for (int step = 0; step < 300; ++step) {
    const uint64_t sectors = 1 + random() % (step % 10 == 0 ? 300 : 24);
    const uint64_t at = region + random() % (span - sectors);
    std::vector<uint8_t> data(sectors * 512);
    if (random() % 2 == 0) {
      FillPattern(data.data(), at, sectors, 100 + step);
      ASSERT_EQ(WriteSectors(Device(), at * 512, data), STATUS_SUCCESS) << step;
      shadow.Put(at, data.data(), sectors);
    } else {
      ASSERT_EQ(ReadSectors(Device(), at * 512, data), STATUS_SUCCESS) << step;
      ASSERT_EQ(shadow.Mismatches(at, data), std::vector<uint64_t>{}) << "step " << step;
    }
  }
  // Whole regions read back as the shadow holds them.
  for (uint64_t first : {region, busy}) {
    std::vector<uint8_t> all(span * 512);
    ASSERT_EQ(ReadSectors(Device(), first * 512, all), STATUS_SUCCESS);
    EXPECT_EQ(shadow.Mismatches(first, all), std::vector<uint64_t>{});
  }
  // Nothing of it is in place.
  EXPECT_EQ(ImageSectors(region, span), regionAtSwitch);

  // The machine stops (nothing written from here on persists) and starts.
  ASSERT_NO_FATAL_FAILURE(Reboot());
  EXPECT_EQ(Ext()->EngineMode, EngineModeTracking);
  EXPECT_EQ(ImageSectors(region, span), regionAtSwitch);
  // A busy block holds what it held at the switch: written in place before
  // it or not at all.
  const std::vector<uint8_t> busyNow = ImageSectors(busy, span);
  for (uint64_t b = 0; b < kBlocks; ++b) {
    std::vector<uint8_t> before(kBlockBytes);
    FillPattern(before.data(), busy + b * 64, 64, 0);
    const bool old = std::memcmp(busyNow.data() + b * kBlockBytes, before.data(), kBlockBytes) == 0;
    const bool written = std::memcmp(busyNow.data() + b * kBlockBytes,
                                     busyWritten.data() + b * kBlockBytes, kBlockBytes) == 0;
    EXPECT_TRUE(old || written) << "busy block " << b;
  }
  // The snapshot kept every block.
  Restorer restorer(Installed());
  const RestoredWindow snapshotAfter = restorer.Restore(1, region / 64, kBlocks);
  EXPECT_TRUE(snapshotAfter.bytes == snapshotBefore.bytes);
  const RestoredWindow busyAtSnapshot = restorer.Restore(1, busy / 64, kBlocks);
  ASSERT_TRUE(busyAtSnapshot.fault.empty());
  std::vector<uint8_t> generation0(span * 512);
  FillPattern(generation0.data(), busy, span, 0);
  EXPECT_TRUE(busyAtSnapshot.bytes == generation0);
}

// A device slipped in below the volume filter: everything goes on to the
// volume unchanged, except one flush, which it holds until told to let go.
// While it holds it, it makes the worker take the next queued request and
// park with it in hand.
struct FlushGate {
  PDEVICE_OBJECT device = nullptr;
  PDEVICE_OBJECT below = nullptr;
  PVolumeFilterExtension filter = nullptr;
  std::atomic<int> flushesToPass{0};
  std::atomic<PIRP> held{nullptr};

  static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* gate = *static_cast<FlushGate**>(device->DeviceExtension);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_FLUSH_BUFFERS &&
        gate->flushesToPass.fetch_sub(1) == 0) {
      // The worker runs this; the request queued behind the flush is taken
      // next, and the worker parks before serving it.
      for (;;) {
        KIRQL irql;
        KeAcquireSpinLock(&gate->filter->WriteQueueLock, &irql);
        const bool queued = !IsListEmpty(&gate->filter->WriteQueue);
        KeReleaseSpinLock(&gate->filter->WriteQueueLock, irql);
        if (queued) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      gate->filter->PauseFlag = 1;
      IoMarkIrpPending(irp);
      gate->held = irp;
      return STATUS_PENDING;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(gate->below, irp);
  }
};

// A write the worker takes from its queue just before the mode switches
// and serves just after goes where every write after the switch goes.
TEST_F(TemporaryTest, AWriteTakenJustBeforeTheSwitchNeverLandsInPlace) {
  const uint64_t region = AllocatedRegion(2);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);  // writes are queued for the worker
  const std::vector<uint8_t> atSwitch = ImageSectors(region, 128);

  FlushGate gate;
  gate.filter = Ext();
  gate.below = Ext()->LowerDevice;
  gate.flushesToPass = 1;  // the switch's first drain goes through; the second is held
  PDRIVER_OBJECT driver = hk::CreateTestDriver(u"\\Driver\\FlushGate");
  for (ULONG major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
    driver->MajorFunction[major] = FlushGate::Dispatch;
  // The extension holds one pointer.  NOLINTNEXTLINE(bugprone-sizeof-expression)
  ASSERT_EQ(IoCreateDevice(driver, sizeof(FlushGate*), nullptr, gate.below->DeviceType, 0, FALSE,
                           &gate.device),
            STATUS_SUCCESS);
  *static_cast<FlushGate**>(gate.device->DeviceExtension) = &gate;
  gate.device->StackSize = gate.below->StackSize;
  gate.device->Flags = (gate.below->Flags & (DO_DIRECT_IO | DO_BUFFERED_IO));
  gate.device->AlignmentRequirement = gate.below->AlignmentRequirement;
  Ext()->LowerDevice = gate.device;

  std::thread switcher([&] { EXPECT_EQ(Switch(), STATUS_SUCCESS); });
  while (gate.flushesToPass.load() >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The second drain's flush is down: the write queued now is the next
  // request the worker takes.
  std::vector<uint8_t> written(128 * 512);
  FillPattern(written.data(), region, 128, 9);
  NTSTATUS writeStatus = STATUS_PENDING;
  std::thread writer([&] { writeStatus = WriteSectors(Device(), region * 512, written); });
  ASSERT_EQ(KeWaitForSingleObject(&Ext()->PausedEvent, Executive, KernelMode, FALSE, nullptr),
            STATUS_SUCCESS);
  KeClearEvent(&Ext()->PausedEvent);
  // The worker holds the write; the switch goes on once its flush is done.
  PIRP flush = gate.held.exchange(nullptr);
  ASSERT_NE(flush, nullptr);
  flush->IoStatus.Status = STATUS_SUCCESS;
  flush->IoStatus.Information = 0;
  IoCompleteRequest(flush, IO_NO_INCREMENT);
  for (;;) {
    KIRQL irql;
    KeAcquireSpinLock(&Ext()->WriteQueueLock, &irql);
    const bool switched = Ext()->EngineMode == EngineModeTemporary;
    KeReleaseSpinLock(&Ext()->WriteQueueLock, irql);
    if (switched) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  PauseVolumeWorker(Ext(), 0);
  writer.join();
  switcher.join();
  Ext()->LowerDevice = gate.below;
  IoDeleteDevice(gate.device);

  EXPECT_EQ(writeStatus, STATUS_SUCCESS);
  EXPECT_TRUE(ImageSectors(region, 128) == atSwitch) << "the write landed in place";
  std::vector<uint8_t> back(128 * 512);
  ASSERT_EQ(ReadSectors(Device(), region * 512, back), STATUS_SUCCESS);
  EXPECT_TRUE(back == written);
}

// Clusters that the file system allocates and writes in place while the
// free space is being read must never receive redirected data afterwards.
TEST_F(TemporaryTest, ClustersAllocatedDuringTheSwitchAreNeverRedirectTargets) {
  const uint64_t target = AllocatedRegion(8);
  std::atomic<bool> switched{false};
  std::vector<uint64_t> allocated;
  std::thread files([&] {
    // The lowest free blocks, which redirected writes would take first.
    for (int i = 0; i < 200 && !(switched && i > 20); ++i) allocated.push_back(AllocatedRegion(1));
  });
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  switched = true;
  files.join();
  // Redirected writes use up more sectors than the files took.
  std::vector<uint8_t> data(8 * kBlockBytes);
  for (uint32_t round = 0; round < 2 * allocated.size() / 8 + 4; ++round) {
    FillPattern(data.data(), target, 8 * 64, 10 + round);
    ASSERT_EQ(WriteSectors(Device(), target * 512, data), STATUS_SUCCESS);
  }
  std::vector<uint8_t> back(kBlockBytes), expected(kBlockBytes);
  for (uint64_t first : allocated) {
    ASSERT_EQ(ReadSectors(Device(), first * 512, back), STATUS_SUCCESS);
    FillPattern(expected.data(), first, 64, 0);
    ASSERT_TRUE(back == expected) << "block at sector " << first;
  }
  std::vector<uint8_t> last(8 * kBlockBytes);
  ASSERT_EQ(ReadSectors(Device(), target * 512, last), STATUS_SUCCESS);
  EXPECT_TRUE(last == data);
}

TEST_F(TemporaryTest, WithSnapshotsOnlyBlocksTheyDoNotNeedTakeRedirectedData) {
  // Allocated at the snapshot and freed before the switch: its content
  // belongs to the snapshot and was never saved.
  const uint64_t kept = AllocatedRegion(4);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  FreeBlocks(kept / 64, 4);
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  KIRQL irql;
  KeAcquireSpinLock(&Ext()->WriteQueueLock, &irql);
  const Runs runs = RunsOf(Ext()->FreeRunList);
  KeReleaseSpinLock(&Ext()->WriteQueueLock, irql);
  ASSERT_FALSE(runs.empty());
  for (const auto& run : runs) {
    EXPECT_TRUE(run.second < kept || run.first >= kept + 4 * 64) << run.first << ".." << run.second;
    for (uint64_t b = run.first / 64; b <= run.second / 64; ++b) {
      ASSERT_TRUE(RtlTestBit(&Ext()->MarkedBlocks, static_cast<ULONG>(b)) ||
                  RtlTestBit(&Ext()->SavedBlocks, static_cast<ULONG>(b)))
          << "block " << b;
    }
  }
}

TEST_F(TemporaryTest, AFailedRedirectedWriteReportsTheFirstFailureAndLeavesNoTranslation) {
  const uint64_t region = AllocatedRegion(4);
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  // The middle third is translated already.
  std::vector<uint8_t> middle(64 * 512);
  FillPattern(middle.data(), region + 64, 64, 1);
  ASSERT_EQ(WriteSectors(Device(), (region + 64) * 512, middle), STATUS_SUCCESS);
  // A write over all three: the first piece fails, the last one moves only
  // part of its bytes; the first failure is the one answered.
  std::vector<uint8_t> all(192 * 512);
  FillPattern(all.data(), region, 192, 2);
  Disk0().FailTransfer(1, storage::kStatusDeviceDataError);
  Disk0().ShortenTransfer(3, 512);
  EXPECT_EQ(WriteSectors(Device(), region * 512, all),
            static_cast<NTSTATUS>(storage::kStatusDeviceDataError));
  // The fresh pieces that failed read as before the switch, not as the
  // untouched free sectors they were sent to.
  std::vector<uint8_t> back(192 * 512);
  ASSERT_EQ(ReadSectors(Device(), region * 512, back), STATUS_SUCCESS);
  std::vector<uint8_t> before(64 * 512);
  FillPattern(before.data(), region, 64, 0);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), back.begin()));
  FillPattern(before.data(), region + 128, 64, 0);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), back.begin() + 128 * 512));
}

TEST_F(TemporaryTest, AnExhaustedFreeListFailsTheWriteAndKeepsTheOldBytes) {
  const uint64_t region = AllocatedRegion(1);
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  // Leave 8 free sectors.
  FreeRunChunk* small = nullptr;
  ASSERT_EQ(AddFreeRun(&small, 700000, 700007), 0);
  KIRQL irql;
  KeAcquireSpinLock(&Ext()->WriteQueueLock, &irql);
  std::swap(Ext()->FreeRunList, small);
  KeReleaseSpinLock(&Ext()->WriteQueueLock, irql);
  FreeRunChunk* swapped = small;
  small = nullptr;
  for (FreeRunChunk* chunk = swapped; chunk != nullptr;) {
    FreeRunChunk* next = chunk->Next;
    ExFreePoolWithTag(chunk, EnginePoolTag);
    chunk = next;
  }
  std::vector<uint8_t> data(16 * 512);
  FillPattern(data.data(), region, 16, 3);
  EXPECT_EQ(WriteSectors(Device(), region * 512, data), STATUS_INSUFFICIENT_RESOURCES);
  std::vector<uint8_t> back(16 * 512);
  ASSERT_EQ(ReadSectors(Device(), region * 512, back), STATUS_SUCCESS);
  std::vector<uint8_t> before(16 * 512);
  FillPattern(before.data(), region, 16, 0);
  EXPECT_TRUE(back == before);
}

// The free and total counts the status reports are the redirect space's
// in temporary mode; dropping the oldest snapshot frees space blocks, not
// redirect sectors.
TEST_F(TemporaryTest, DroppingTheOldestLeavesTheRedirectSpaceCountsAlone) {
  const uint64_t region = AllocatedRegion(2);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  std::vector<uint8_t> data(2 * kBlockBytes);
  FillPattern(data.data(), region, 128, 1);
  ASSERT_EQ(WriteSectors(Device(), region * 512, data), STATUS_SUCCESS);
  const ULONG total = ReadShared(Ext()->TotalSectors);
  const ULONG free = ReadShared(Ext()->FreeSectors);
  ASSERT_EQ(free, total - 128) << "the redirected write took its sectors";

  ASSERT_EQ(Delete(1), STATUS_SUCCESS);
  EXPECT_EQ(ReadShared(Ext()->FreeSectors), free);
  EXPECT_EQ(ReadShared(Ext()->TotalSectors), total);
}

TEST_F(TemporaryTest, MoreFragmentsThanOneBufferHoldsGoOutInRounds) {
  const uint64_t region = AllocatedRegion(40);  // 2,560 sectors
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  Shadow shadow;
  std::vector<uint8_t> initial = ImageSectors(region, 2560);
  shadow.Put(region, initial.data(), 2560);
  // Every other sector translated on its own: a read of the region splits
  // into 2,560 pieces, more than twice what a fragment buffer holds.
  std::vector<uint8_t> one(512);
  for (uint64_t s = 0; s < 2560; s += 2) {
    FillPattern(one.data(), region + s, 1, 5);
    ASSERT_EQ(WriteSectors(Device(), (region + s) * 512, one), STATUS_SUCCESS);
    shadow.Put(region + s, one.data(), 1);
  }
  std::vector<uint8_t> all(2560 * 512);
  ASSERT_EQ(ReadSectors(Device(), region * 512, all), STATUS_SUCCESS);
  EXPECT_EQ(shadow.Mismatches(region, all), std::vector<uint64_t>{});
  FillPattern(all.data(), region, 2560, 6);
  ASSERT_EQ(WriteSectors(Device(), region * 512, all), STATUS_SUCCESS);
  shadow.Put(region, all.data(), 2560);
  std::vector<uint8_t> back(2560 * 512);
  ASSERT_EQ(ReadSectors(Device(), region * 512, back), STATUS_SUCCESS);
  EXPECT_EQ(shadow.Mismatches(region, back), std::vector<uint64_t>{});
}

}  // namespace
}  // namespace vh::test
