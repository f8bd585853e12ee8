// Disk 0 and its volumes: the partition table on the image, transfers checked
// as a disk driver checks them, and the injected faults crash tests rely on.
#include "vh/storage/disk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "scratch_file.h"
#include "vh/storage/byte_order.h"
#include "vh/storage/control_answers.h"

namespace vh::storage {
namespace {

constexpr uint64_t kVolumeStart = 63;
constexpr uint64_t kVolumeSectors = 1000;  // not a multiple of a 64-sector block

class DiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DiskOptions options;
    options.sectorCount = 4096;
    options.partitions = {{kVolumeStart, kVolumeSectors, 0x07, true}, {2048, 1024, 0x0C, false}};
    ASSERT_EQ(kStatusSuccess, Disk::Create(scratch_.Path(), options, &disk_));
    volume_ = std::make_unique<Volume>(*disk_, disk_->Partitions()[0]);
  }

  std::vector<uint8_t> Pattern(uint32_t sectors, uint8_t seed) {
    std::vector<uint8_t> data(sectors * kDiskSectorBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 512 + seed);
    return data;
  }

  std::vector<uint8_t> ReadDisk(uint64_t sector, uint32_t count) {
    std::vector<uint8_t> data(count * kDiskSectorBytes);
    EXPECT_EQ(kStatusSuccess, disk_->Read(sector * 512, count * 512, data.data()).status);
    return data;
  }

  testing::ScratchFile scratch_{"disk"};
  std::unique_ptr<Disk> disk_;
  std::unique_ptr<Volume> volume_;
};

TEST_F(DiskTest, PartitionTableIsWrittenAsAnMbrAndReadBack) {
  const auto mbr = ReadDisk(0, 1);
  EXPECT_EQ(0x55, mbr[510]);
  EXPECT_EQ(0xAA, mbr[511]);
  EXPECT_EQ(0x80, mbr[446]);
  EXPECT_EQ(0x07, mbr[446 + 4]);
  EXPECT_EQ(kVolumeStart, GetLe32(&mbr[446 + 8]));
  EXPECT_EQ(kVolumeSectors, GetLe32(&mbr[446 + 12]));
  EXPECT_EQ(0x0C, mbr[462 + 4]);

  std::unique_ptr<Disk> reopened;
  ASSERT_EQ(kStatusSuccess, Disk::Open(scratch_.Path(), &reopened));
  ASSERT_EQ(2u, reopened->Partitions().size());
  EXPECT_EQ(2u, reopened->Partitions()[1].number);
  EXPECT_EQ(2048u, reopened->Partitions()[1].startSector);
  EXPECT_EQ(4096u, reopened->SectorCount());
  EXPECT_EQ(disk_->Signature(), reopened->Signature());
}

TEST(DiskCreate, RefusesWhatItCannotDescribe) {
  testing::ScratchFile scratch("disk");
  struct Case {
    const char* what;
    uint32_t bytesPerSector;
    std::vector<NewPartition> partitions;
    Status expected;
  };
  const Case cases[] = {
      {"4 KB sectors", 4096, {{2048, 1024}}, kStatusNotSupported},
      {"520-byte sectors", 520, {{2048, 1024}}, kStatusNotSupported},
      {"inside the boot sectors", 512, {{4, 1024}}, kStatusInvalidParameter},
      {"past the disk's end", 512, {{2048, 4096}}, kStatusInvalidParameter},
      {"overlapping", 512, {{2048, 1024}, {3000, 10}}, kStatusInvalidParameter},
      {"no partition", 512, {}, kStatusInvalidParameter},
      {"five primaries", 512, {{8, 1}, {9, 1}, {10, 1}, {11, 1}, {12, 1}}, kStatusInvalidParameter},
  };
  for (const auto& c : cases) {
    DiskOptions options;
    options.bytesPerSector = c.bytesPerSector;
    options.sectorCount = 4096;
    options.partitions = c.partitions;
    std::unique_ptr<Disk> disk;
    EXPECT_EQ(c.expected, Disk::Create(scratch.Path(), options, &disk)) << c.what;
    EXPECT_EQ(nullptr, disk) << c.what;
  }
}

TEST_F(DiskTest, VolumeSectorsAreDiskSectorsAfterThePartitionStart) {
  const auto data = Pattern(3, 0x40);
  const IoAnswer w = volume_->Write(10 * 512, 3 * 512, data.data());
  EXPECT_EQ(kStatusSuccess, w.status);
  EXPECT_EQ(3u * 512, w.information);
  EXPECT_EQ(data, ReadDisk(kVolumeStart + 10, 3));
  // The neighbours are untouched.
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadDisk(kVolumeStart + 9, 1));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadDisk(kVolumeStart + 13, 1));
}

TEST_F(DiskTest, TransfersOutsideTheRulesFailWholeAndTouchNothing) {
  std::vector<uint8_t> buffer(32768, 0xEE);
  struct Case {
    const char* what;
    uint64_t offset;
    uint32_t length;
    Status expected;
    uint32_t information;
  };
  const Case cases[] = {
      {"aligned, inside", 512, 1024, kStatusSuccess, 1024},
      {"last sector", (kVolumeSectors - 1) * 512, 512, kStatusSuccess, 512},
      {"zero length", 0, 0, kStatusSuccess, 0},
      {"unaligned offset", 100, 512, kStatusInvalidParameter, 0},
      {"partial sector", 512, 300, kStatusInvalidParameter, 0},
      {"starts at the end", kVolumeSectors * 512, 512, kStatusInvalidParameter, 0},
      // A whole 32 KB block read at the last, partial block of the volume.
      {"block past the end", (kVolumeSectors / 64) * 64 * 512, 32768, kStatusInvalidParameter, 0},
      {"offset wraps", ~0ull - 511, 1024, kStatusInvalidParameter, 0},
  };
  for (const auto& c : cases) {
    const IoAnswer w = volume_->Write(c.offset, c.length, buffer.data());
    EXPECT_EQ(c.expected, w.status) << c.what;
    EXPECT_EQ(c.information, w.information) << c.what;
    const IoAnswer r = volume_->Read(c.offset, c.length, buffer.data());
    EXPECT_EQ(c.expected, r.status) << c.what;
  }
  // The refused block write left the volume's last sector and the next
  // partition's sectors as they were.
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadDisk(kVolumeStart + kVolumeSectors, 1));
}

TEST_F(DiskTest, TheNthTransferFailsAloneAndMovesNothing) {
  const auto data = Pattern(1, 7);
  std::vector<uint8_t> read(512);
  disk_->FailTransfer(2, kStatusDeviceDataError);
  EXPECT_EQ(kStatusSuccess, volume_->Read(0, 512, read.data()).status);
  const IoAnswer failed = volume_->Write(0, 512, data.data());
  EXPECT_EQ(kStatusDeviceDataError, failed.status);
  EXPECT_EQ(0u, failed.information);
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadDisk(kVolumeStart, 1));  // transfer 3
  EXPECT_EQ(kStatusSuccess, volume_->Write(0, 512, data.data()).status);
  EXPECT_EQ(data, ReadDisk(kVolumeStart, 1));
}

TEST_F(DiskTest, AShortTransferReportsSuccessWithFewerBytes) {
  const auto data = Pattern(4, 1);
  disk_->ShortenTransfer(1, 1024);
  const IoAnswer w = volume_->Write(0, 4 * 512, data.data());
  EXPECT_EQ(kStatusSuccess, w.status);
  EXPECT_EQ(1024u, w.information);
  const auto onDisk = ReadDisk(kVolumeStart, 4);
  EXPECT_EQ(0, std::memcmp(onDisk.data(), data.data(), 1024));
  EXPECT_EQ(std::vector<uint8_t>(onDisk.begin() + 1024, onDisk.end()),
            std::vector<uint8_t>(3 * 512 - 512, 0));
}

TEST_F(DiskTest, WritesAfterThePowerCutAreSeenUntilTheNextBootOnly) {
  disk_->CutPowerAfterWrites({2, 0});
  const auto a = Pattern(1, 0x10), b = Pattern(1, 0x20), c = Pattern(2, 0x30), d = Pattern(1, 0x40);
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, a.data()).status);
  EXPECT_FALSE(disk_->PowerIsCut());
  ASSERT_EQ(kStatusSuccess, volume_->Write(512, 512, b.data()).status);
  EXPECT_TRUE(disk_->PowerIsCut());
  ASSERT_EQ(kStatusSuccess, volume_->Write(1024, 1024, c.data()).status);
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, d.data()).status);  // overwrites a, lost
  // The running system still reads what it wrote.
  EXPECT_EQ(d, ReadDisk(kVolumeStart, 1));
  EXPECT_EQ(c, ReadDisk(kVolumeStart + 2, 2));

  ASSERT_EQ(kStatusSuccess, disk_->Reload());
  EXPECT_EQ(a, ReadDisk(kVolumeStart, 1));
  EXPECT_EQ(b, ReadDisk(kVolumeStart + 1, 1));
  EXPECT_EQ(std::vector<uint8_t>(1024, 0), ReadDisk(kVolumeStart + 2, 2));
  // After the boot, writes persist again.
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, d.data()).status);
  std::unique_ptr<Disk> fresh;
  ASSERT_EQ(kStatusSuccess, Disk::Open(scratch_.Path(), &fresh));
  std::vector<uint8_t> persisted(512);
  ASSERT_EQ(kStatusSuccess, fresh->Read(kVolumeStart * 512, 512, persisted.data()).status);
  EXPECT_EQ(d, persisted);
}

TEST_F(DiskTest, ATornWriteKeepsOnlyItsFirstSectors) {
  disk_->CutPowerAfterWrites({0, 2});
  const auto data = Pattern(4, 0x50);
  ASSERT_EQ(kStatusSuccess, volume_->Write(8 * 512, 4 * 512, data.data()).status);
  ASSERT_EQ(kStatusSuccess, disk_->Reload());
  const auto onDisk = ReadDisk(kVolumeStart + 8, 4);
  EXPECT_EQ(0, std::memcmp(onDisk.data(), data.data(), 2 * 512));
  EXPECT_EQ(std::vector<uint8_t>(onDisk.begin() + 1024, onDisk.end()),
            std::vector<uint8_t>(2 * 512, 0));
}

TEST_F(DiskTest, CachedWritesReachTheImageOnlyWhenFlushed) {
  disk_->EnableWriteCache(true);
  const auto a = Pattern(1, 0x61);
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, a.data()).status);
  EXPECT_EQ(a, ReadDisk(kVolumeStart, 1));  // the system reads its own write
  std::unique_ptr<Disk> other;
  ASSERT_EQ(kStatusSuccess, Disk::Open(scratch_.Path(), &other));
  std::vector<uint8_t> onImage(512);
  ASSERT_EQ(kStatusSuccess, other->Read(kVolumeStart * 512, 512, onImage.data()).status);
  EXPECT_EQ(std::vector<uint8_t>(512, 0), onImage);

  ASSERT_EQ(kStatusSuccess, disk_->Flush().status);
  EXPECT_EQ(0u, disk_->CachedWriteCount());
  ASSERT_EQ(kStatusSuccess, other->Read(kVolumeStart * 512, 512, onImage.data()).status);
  EXPECT_EQ(a, onImage);
}

// Any subset of the writes since the last flush may survive a cut; the
// chosen ones land in their order, so a kept older write of a sector is
// not overtaken by a lost newer one.
TEST_F(DiskTest, ACutWithACacheKeepsTheChosenWritesOnly) {
  disk_->EnableWriteCache(true);
  const auto w0 = Pattern(1, 0x70), w1 = Pattern(1, 0x71), w2 = Pattern(1, 0x72),
             w3 = Pattern(1, 0x73);
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, w0.data()).status);
  ASSERT_EQ(kStatusSuccess, volume_->Write(512, 512, w1.data()).status);
  ASSERT_EQ(kStatusSuccess, volume_->Write(0, 512, w2.data()).status);
  ASSERT_EQ(kStatusSuccess, volume_->Write(1024, 512, w3.data()).status);
  disk_->CutPowerNow([](size_t i) { return i == 0 || i == 3; });
  EXPECT_TRUE(disk_->PowerIsCut());
  const auto late = Pattern(1, 0x7F);
  ASSERT_EQ(kStatusSuccess, volume_->Write(512, 512, late.data()).status);
  ASSERT_EQ(kStatusSuccess, disk_->Flush().status);  // too late: nothing reaches the image

  ASSERT_EQ(kStatusSuccess, disk_->Reload());
  EXPECT_EQ(w0, ReadDisk(kVolumeStart, 1));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadDisk(kVolumeStart + 1, 1));
  EXPECT_EQ(w3, ReadDisk(kVolumeStart + 2, 1));
}

// The engine's worker and the caller's thread reach the disk at once; each
// transfer must stay whole and be counted once.
TEST_F(DiskTest, TransfersFromSeveralThreadsStayWholeAndCounted) {
  constexpr int kThreads = 4;
  constexpr int kWritesEach = 200;
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kWritesEach; ++i) {
        const auto data = Pattern(1, static_cast<uint8_t>(t * 50 + i % 50));
        const uint64_t sector = static_cast<uint64_t>(t) * kWritesEach + i;
        EXPECT_EQ(kStatusSuccess, volume_->Write(sector * 512, 512, data.data()).status);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(uint64_t{kThreads} * kWritesEach, disk_->WriteCount());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWritesEach; i += 37) {
      EXPECT_EQ(Pattern(1, static_cast<uint8_t>(t * 50 + i % 50)),
                ReadDisk(kVolumeStart + static_cast<uint64_t>(t) * kWritesEach + i, 1));
    }
  }
}

// Unbuffered images move whole aligned blocks through a bounce buffer: the
// bytes around a write, the image's odd-sized end and what a reopen reads
// must come out as on a default image, written the same way.
TEST(UnbufferedImage, HoldsWhatADefaultImageHolds) {
  testing::ScratchFile plainFile{"plain"}, directFile{"direct"};
  DiskOptions options;
  options.sectorCount = 4095;  // the image ends inside a 4 KB block
  options.partitions = {{kVolumeStart, kVolumeSectors, 0x07, true}};
  std::unique_ptr<Disk> plain, direct;
  ASSERT_EQ(kStatusSuccess, Disk::Create(plainFile.Path(), options, &plain));
  options.image.unbuffered = true;
  options.image.syncOnFlush = true;
  ASSERT_EQ(kStatusSuccess, Disk::Create(directFile.Path(), options, &direct));
  EXPECT_FALSE(plain->Image().Unbuffered());
  struct Case {
    uint64_t sector;
    uint32_t sectors;
  };
  const Case cases[] = {
      {8, 8},     // one whole block
      {9, 1},     // inside a block
      {15, 2},    // across a block edge
      {17, 30},   // unaligned at both ends, whole blocks between
      {4088, 7},  // up to the image's end, past the last whole block
      {4094, 1},  // the last sector alone
  };
  uint8_t seed = 1;
  for (const Case& c : cases) {
    std::vector<uint8_t> data(size_t{c.sectors} * kDiskSectorBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + seed);
    ++seed;
    for (Disk* disk : {plain.get(), direct.get()}) {
      ASSERT_EQ(kStatusSuccess, disk->Write(c.sector * 512, c.sectors * 512, data.data()).status);
    }
  }
  ASSERT_EQ(kStatusSuccess, direct->Flush().status);
  ASSERT_EQ(kStatusSuccess, direct->Reload());
  EXPECT_EQ(direct->SectorCount(), 4095u);
  EXPECT_EQ(std::filesystem::file_size(directFile.Path()), 4095u * 512);
  std::vector<uint8_t> want(4095 * 512), got(4095 * 512);
  ASSERT_EQ(kStatusSuccess, plain->Read(0, 4095 * 512, want.data()).status);
  ASSERT_EQ(kStatusSuccess, direct->Read(0, 4095 * 512, got.data()).status);
  EXPECT_TRUE(want == got);
  // A default open of the same file (a restorer, the next boot) sees it too.
  std::unique_ptr<Disk> reopened;
  ASSERT_EQ(kStatusSuccess, Disk::Open(directFile.Path(), &reopened));
  ASSERT_EQ(kStatusSuccess, reopened->Read(0, 4095 * 512, got.data()).status);
  EXPECT_TRUE(want == got);
}

TEST_F(DiskTest, StorageQueriesAnswerWithTheDdkLayouts) {
  const Partition& p = disk_->Partitions()[0];
  uint8_t out[64];
  std::memset(out, 0xCC, sizeof out);
  IoAnswer a = AnswerPartitionInfo(p, out, 32);
  ASSERT_EQ(kStatusSuccess, a.status);
  EXPECT_EQ(32u, a.information);
  EXPECT_EQ(kVolumeStart * 512, GetLe64(out));
  EXPECT_EQ(kVolumeSectors * 512, GetLe64(out + 8));
  EXPECT_EQ(1u, GetLe32(out + 20));
  EXPECT_EQ(0x07, out[24]);
  EXPECT_EQ(kStatusBufferTooSmall, AnswerPartitionInfo(p, out, 31).status);

  a = AnswerDeviceNumber(0, 2, out, 12);
  EXPECT_EQ(12u, a.information);
  EXPECT_EQ(7u, GetLe32(out));
  EXPECT_EQ(0u, GetLe32(out + 4));
  EXPECT_EQ(2u, GetLe32(out + 8));

  HotplugFlags flags;
  flags.deviceHotplug = true;
  a = AnswerHotplugInfo(flags, out, 8);
  EXPECT_EQ(8u, a.information);
  EXPECT_EQ(8u, GetLe32(out));
  EXPECT_EQ(1, out[6]);
  EXPECT_EQ(0, out[4]);

  a = AnswerDriveGeometry(*disk_, 512, out, 24);
  EXPECT_EQ(24u, a.information);
  EXPECT_EQ(12u, GetLe32(out + 8));
  EXPECT_EQ(512u, GetLe32(out + 20));
}

TEST(MountDevName, ShortBufferGetsTheLengthAndOverflowSoTheCallerCanAskAgain) {
  const std::u16string name = u"\\Device\\HarddiskVolume1";
  const uint16_t nameBytes = static_cast<uint16_t>(name.size() * 2);
  std::vector<uint8_t> out(128, 0xCC);
  struct Case {
    uint32_t outLength;
    Status status;
    uint32_t information;
  };
  const Case cases[] = {
      {3, kStatusInvalidParameter, 0},
      {4, kStatusBufferOverflow, 4},
      {2u + nameBytes - 1, kStatusBufferOverflow, 4},
      {2u + nameBytes, kStatusSuccess, 2u + nameBytes},
  };
  for (const auto& c : cases) {
    const IoAnswer a = AnswerMountDevName(name, out.data(), c.outLength);
    EXPECT_EQ(c.status, a.status) << c.outLength;
    EXPECT_EQ(c.information, a.information) << c.outLength;
    if (c.outLength >= 4) {
      EXPECT_EQ(nameBytes, GetLe16(out.data())) << c.outLength;
    }
  }
  EXPECT_EQ(u'\\', GetLe16(&out[2]));
  EXPECT_EQ(u'1', GetLe16(&out[2 + nameBytes - 2]));
  EXPECT_EQ(0xCC, out[2 + nameBytes]);  // nothing past the answer
}

}  // namespace
}  // namespace vh::storage
