// The test installer's image must be one the engine can load: the header at
// the location the "Parameter" record names, its geometry equal to the boot
// sector, its regions inside the area without overlap, the area made of the
// space files' clusters, and the record's fields where the engine reads them.
// The checks read the image the way the engine will (volume sectors, the
// header's own extents, retrieval pointers), not through the installer.
#include "vh/storage/installer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scratch_file.h"
#include "vh/records.h"
#include "vh/storage/byte_order.h"

namespace vh::storage {
namespace {

struct Variant {
  const char* name;
  FileSystemKind kind;
  uint32_t sectorsPerCluster;
  uint32_t pieces;
};

std::string VariantName(const ::testing::TestParamInfo<Variant>& info) { return info.param.name; }

class InstalledVolume : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    InstallOptions options;
    options.imagePath = scratch_.Path();
    options.format.kind = GetParam().kind;
    options.format.sectorsPerCluster = GetParam().sectorsPerCluster;
    options.areaPieces = GetParam().pieces;
    options.driveLetter = u'c';  // stored upper case
    ASSERT_EQ(kStatusSuccess, Install(options, &inst_));
    header_ = ReadHeaderAtLocation();
  }

  // As the engine locates it: 64 KB at the location's volume sector.
  std::unique_ptr<EngineHeader> ReadHeaderAtLocation() {
    auto header = std::make_unique<EngineHeader>();
    const uint64_t sector = inst_.parameters.HeaderLocations[0].Sector;
    EXPECT_EQ(kStatusSuccess,
              inst_.volume->Read(sector * 512, sizeof(EngineHeader), header.get()).status);
    return header;
  }

  // Engine sector -> volume sector from the header alone.
  bool MapEngineSector(uint64_t n, uint64_t* volumeSector) const {
    if (header_->AreaBaseSector != 0) {
      *volumeSector = header_->AreaBaseSector + n;
      return true;
    }
    uint64_t before = 0;
    for (const auto& extent : header_->AreaExtents) {
      if (n < before + extent.SectorCount) {
        *volumeSector = extent.StartSector + (n - before);
        return true;
      }
      before += extent.SectorCount;
    }
    return false;
  }

  std::vector<uint8_t> ReadEngine(uint64_t first, uint64_t count) {
    std::vector<uint8_t> data(count * 512);
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t sector = 0;
      EXPECT_TRUE(MapEngineSector(first + i, &sector)) << first + i;
      EXPECT_EQ(kStatusSuccess, inst_.volume->Read(sector * 512, 512, &data[i * 512]).status);
    }
    return data;
  }

  // A file's clusters as the engine collects them: retrieval pointers from
  // VCN 0 until an error.
  std::vector<ClusterRun> FileRuns(const std::u16string& name) {
    std::vector<ClusterRun> runs;
    const FileRecord* file = inst_.fs->Find(name);
    EXPECT_NE(nullptr, file);
    if (file == nullptr) return runs;
    std::vector<uint8_t> out(4112);
    uint64_t vcn = 0;
    for (;;) {
      uint8_t in[8];
      PutLe64(in, vcn);
      const IoAnswer a = inst_.fs->GetRetrievalPointers(*file, in, 8, out.data(), 4112);
      if (IsError(a.status)) break;
      for (uint32_t i = 0; i < GetLe32(&out[0]); ++i) {
        const uint64_t next = GetLe64(&out[16 + 16 * i]);
        runs.push_back({static_cast<int64_t>(GetLe64(&out[24 + 16 * i])), next - vcn});
        vcn = next;
      }
    }
    return runs;
  }

  testing::ScratchFile scratch_{"install"};
  Installation inst_;
  std::unique_ptr<EngineHeader> header_;
};

TEST_P(InstalledVolume, HeaderAtTheLocationCarriesTheInstallerFields) {
  const EngineHeader& h = *header_;
  EXPECT_EQ(kEngineMagic, h.Magic);
  EXPECT_EQ(kEngineVersion, h.Version);
  EXPECT_EQ(inst_.parameters.HeaderLocations[0].VolumeId, h.VolumeId);
  EXPECT_NE(0u, h.VolumeId);
  EXPECT_EQ(kRecordSignature, h.Signature);
  EXPECT_EQ(inst_.volume->ByteLength(), h.VolumeBytes);
  EXPECT_EQ(inst_.volume->SectorCount(), h.VolumeSectors);
  EXPECT_EQ(1, h.OldestNumber);
  EXPECT_EQ(0, h.SnapshotCount);
  EXPECT_EQ(0, h.CountCopy);
  EXPECT_EQ(0, h.RollbackPending);
  EXPECT_EQ(0, h.ReinitPending);
  EXPECT_LE(h.MaxSnapshots, 32);
  EXPECT_NE(0u, h.LowWaterSectors);
  // The header the installer kept is byte for byte the one on the image.
  EXPECT_EQ(0, std::memcmp(inst_.header.get(), &h, sizeof h));
  // The engine writes the header at engine sector HeaderSector: the same place.
  uint64_t sector = 0;
  ASSERT_TRUE(MapEngineSector(h.HeaderSector, &sector));
  EXPECT_EQ(inst_.parameters.HeaderLocations[0].Sector, sector);
}

TEST_P(InstalledVolume, GeometryEqualsTheBootSector) {
  std::vector<uint8_t> boot(512);
  ASSERT_EQ(kStatusSuccess, inst_.volume->Read(0, 512, boot.data()).status);
  EXPECT_EQ(512, GetLe16(&boot[0x0B]));
  EXPECT_EQ(header_->SectorsPerCluster, boot[0x0D]);
  uint64_t dataStart = 0;
  if (std::memcmp(&boot[3], "NTFS", 4) != 0) {
    ASSERT_EQ(0, std::memcmp(&boot[0x52], "FAT32", 5));
    dataStart = GetLe16(&boot[0x0E]) + uint64_t{boot[0x10]} * GetLe32(&boot[0x24]);
    EXPECT_NE(0u, dataStart);
  }
  EXPECT_EQ(dataStart, header_->DataStartSector);
}

TEST_P(InstalledVolume, RegionsLieInsideTheAreaWithoutOverlap) {
  const EngineHeader& h = *header_;
  const uint64_t mapSectors = h.BlockMapLast - h.BlockMapFirst + 1;
  struct Region {
    const char* what;
    uint64_t first, last;
  };
  std::vector<Region> regions = {
      {"header", h.HeaderSector, h.HeaderLastSector},
      {"boot image", h.BootImageSector, h.BootImageLastSector},
      {"backup", h.BootBackupSector, h.BootBackupLastSector},
      {"loader", h.LoaderImageSector, h.LoaderImageLastSector},
      {"bitmap", h.SpaceBitmapSector, h.SpaceBitmapLastSector},
      {"live map", h.BlockMapFirst, h.BlockMapLast},
      {"release list", h.ReleaseListSector, h.ReleaseListSector + mapSectors - 1},
      {"space", h.SpaceFirst, h.SpaceLast},
  };
  for (const auto& slot : h.Slots) {
    EXPECT_EQ(kFreedSlotNumber, slot.Number);
    EXPECT_EQ(0, slot.Used);
    EXPECT_EQ(0, slot.Signature);
    regions.push_back({"saved map", slot.SavedMapSector, slot.SavedMapSector + mapSectors - 1});
  }
  uint64_t areaSectors = 0;
  if (h.AreaBaseSector != 0) {
    areaSectors = h.AreaLastSector - h.AreaBaseSector + 1;
  } else {
    for (const auto& e : h.AreaExtents) areaSectors += e.SectorCount;
  }
  std::sort(regions.begin(), regions.end(),
            [](const Region& a, const Region& b) { return a.first < b.first; });
  for (size_t i = 0; i < regions.size(); ++i) {
    EXPECT_LE(regions[i].first, regions[i].last) << regions[i].what;
    EXPECT_LT(regions[i].last, areaSectors) << regions[i].what;
    if (i > 0) {
      EXPECT_LT(regions[i - 1].last, regions[i].first) << regions[i].what;
    }
  }
  // Sizes the engine assumes without checking.
  EXPECT_EQ(kEngineHeaderSectors, h.HeaderLastSector - h.HeaderSector + 1);
  EXPECT_EQ(kBootImageSectors, h.BootImageLastSector - h.BootImageSector + 1);
  EXPECT_EQ(kBootImageSectors, h.LoaderImageLastSector - h.LoaderImageSector + 1);
  const uint64_t bitmapBytes = SpaceBitmapBytes(h.SpaceFirst, h.SpaceLast);
  EXPECT_GE(bitmapBytes, kSpaceBitmapMinBytes);
  EXPECT_LE(bitmapBytes, kSpaceBitmapMaxBytes);
  EXPECT_EQ(bitmapBytes, (h.SpaceBitmapLastSector - h.SpaceBitmapSector + 1) * 512);
  EXPECT_EQ(0u, mapSectors % 64);
  EXPECT_GE(mapSectors / 64 * 8192, (h.VolumeSectors + 63) / 64);
}

TEST_P(InstalledVolume, AreaIsTheSpaceFilesInOrderAndAllocated) {
  const EngineHeader& h = *header_;
  const Geometry& g = inst_.fs->GetGeometry();
  std::vector<AreaExtent> fromFiles;
  const std::u16string base = u"\\qvspace.sys";
  for (const std::u16string suffix : {u"", u"1", u"2", u"3", u"4"}) {
    const FileRecord* file = inst_.fs->Find(base + suffix);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0u, file->attributes & (kFileAttributeCompressed | kFileAttributeSparse));
    for (const auto& run : FileRuns(base + suffix)) {
      ASSERT_GE(run.lcn, 0);
      for (uint64_t c = 0; c < run.clusters; ++c) {
        ASSERT_TRUE(inst_.fs->IsAllocated(static_cast<uint64_t>(run.lcn) + c));
      }
      const uint64_t start =
          g.sectorsPerCluster * static_cast<uint64_t>(run.lcn) + g.dataStartSector;
      const auto count = static_cast<uint32_t>(run.clusters * g.sectorsPerCluster);
      if (!fromFiles.empty() &&
          fromFiles.back().StartSector + fromFiles.back().SectorCount == start) {
        fromFiles.back().SectorCount += count;
      } else {
        fromFiles.push_back({start, count});
      }
    }
  }
  EXPECT_GE(inst_.fs->Find(base)->size, uint64_t{kEngineHeaderBytes});
  ASSERT_EQ(GetParam().pieces, fromFiles.size());
  if (GetParam().pieces == 1) {
    const uint64_t start = fromFiles[0].StartSector;
    EXPECT_EQ(start, h.AreaBaseSector);
    EXPECT_EQ(start + fromFiles[0].SectorCount - 1, h.AreaLastSector);
    for (const auto& e : h.AreaExtents) EXPECT_EQ(0u, uint32_t{e.SectorCount});
  } else {
    EXPECT_EQ(0u, h.AreaBaseSector);
    for (size_t i = 0; i < kAreaExtentCount; ++i) {
      const AreaExtent expected = i < fromFiles.size() ? fromFiles[i] : AreaExtent{0, 0};
      // Packed fields are copied out before gtest binds references to them.
      EXPECT_EQ(uint64_t{expected.StartSector}, uint64_t{h.AreaExtents[i].StartSector}) << i;
      EXPECT_EQ(uint32_t{expected.SectorCount}, uint32_t{h.AreaExtents[i].SectorCount}) << i;
    }
    // The pre-boot loader is found at a 32-bit sum from the first extent.
    EXPECT_LT(h.LoaderImageLastSector, uint64_t{h.AreaExtents[0].SectorCount});
  }
}

TEST_P(InstalledVolume, HeaderFileBeginsWithTheHeaderAndImagesAreInPlace) {
  std::vector<uint8_t> fileStart(kEngineHeaderBytes);
  ASSERT_EQ(kStatusSuccess, inst_.fs->ReadFileData(*inst_.fs->Find(u"\\QVSPACE.SYS"), 0,
                                                   fileStart.data(), fileStart.size()));
  EXPECT_EQ(0, std::memcmp(fileStart.data(), header_.get(), kEngineHeaderBytes));

  const EngineHeader& h = *header_;
  EXPECT_EQ(PreBootImagePattern(1), ReadEngine(h.BootImageSector, kBootImageSectors));
  EXPECT_EQ(PreBootImagePattern(2), ReadEngine(h.LoaderImageSector, kBootImageSectors));
  EXPECT_NE(PreBootImagePattern(1), PreBootImagePattern(2));
  const std::vector<uint8_t> zeros(kBootImageBytes, 0);
  EXPECT_EQ(zeros, ReadEngine(h.BootBackupSector, kBootImageSectors));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadEngine(h.SpaceBitmapSector, 1));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadEngine(h.BlockMapLast, 1));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadEngine(h.ReleaseListSector, 1));
}

TEST_P(InstalledVolume, ParameterRecordBytes) {
  const auto p = inst_.ParameterBytes();
  ASSERT_EQ(1024u, p.size());
  EXPECT_EQ(kEngineMagic, GetLe32(&p[0x000]));
  EXPECT_NE(0u, GetLe32(&p[0x004]));
  EXPECT_NE(0u, GetLe32(&p[0x008]));
  EXPECT_EQ(u'C', GetLe16(&p[0x00C]));
  auto wide = [&](size_t offset) {
    std::u16string s;
    for (size_t i = offset; GetLe16(&p[i]) != 0; i += 2) s.push_back(GetLe16(&p[i]));
    return s;
  };
  EXPECT_EQ(u"C:\\boot\\bcd", wide(0x040));
  EXPECT_EQ(u"qvspace.sys", wide(0x1C0));
  EXPECT_EQ(u"C:\\hiberfil.sys", wide(0x240));
  EXPECT_EQ(header_->VolumeId, GetLe32(&p[0x2C0 + 12]));
  EXPECT_NE(0u, GetLe32(&p[0x2C0 + 8]));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(0u, GetLe32(&p[0x2C0 + 16 * i + 8])) << i;
  EXPECT_EQ(0xAA55, GetLe16(&p[0x3FE]));
  // The pinned files exist where the paths point.
  EXPECT_NE(nullptr, inst_.fs->Find(u"\\boot\\bcd"));
  EXPECT_NE(nullptr, inst_.fs->Find(u"\\hiberfil.sys"));
  EXPECT_NE(nullptr, inst_.fs->Find(u"\\Windows"));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, InstalledVolume,
    ::testing::Values(Variant{"NtfsContiguous", FileSystemKind::kNtfs, 8, 1},
                      Variant{"NtfsThreeExtents", FileSystemKind::kNtfs, 8, 3},
                      Variant{"NtfsEightExtentsOneSectorClusters", FileSystemKind::kNtfs, 1, 8},
                      Variant{"Fat32Contiguous", FileSystemKind::kFat32, 8, 1},
                      Variant{"Fat32FiveExtents", FileSystemKind::kFat32, 4, 5}),
    VariantName);

TEST(InstallOtherVolumes, FollowTheProtectedOneWithoutAnEngineArea) {
  testing::ScratchFile scratch("install");
  InstallOptions options;
  options.imagePath = scratch.Path();
  ExtraVolume removable;
  removable.hotplug.mediaRemovable = true;
  ExtraVolume fat;
  fat.format.kind = FileSystemKind::kFat32;
  fat.sectors = 300000;
  fat.driveLetter = u'E';
  options.extraVolumes = {removable, fat};
  Installation inst;
  ASSERT_EQ(kStatusSuccess, Install(options, &inst));
  const auto& parts = inst.disk->Partitions();
  ASSERT_EQ(3u, parts.size());
  ASSERT_EQ(2u, inst.others.size());
  for (size_t i = 1; i < parts.size(); ++i) {
    EXPECT_GE(parts[i].startSector, parts[i - 1].startSector + parts[i - 1].sectorCount);
  }
  EXPECT_EQ(0x0C, parts[2].type);
  EXPECT_EQ(300000u, inst.others[1].volume->SectorCount());
  EXPECT_TRUE(inst.others[0].options.hotplug.mediaRemovable);
  // Each volume has its own boot sector; the engine area is only on the first.
  std::vector<uint8_t> boot(512);
  ASSERT_EQ(kStatusSuccess, inst.others[1].volume->Read(0, 512, boot.data()).status);
  EXPECT_EQ(0, std::memcmp(&boot[0x52], "FAT32", 5));
  EXPECT_EQ(nullptr, inst.others[0].fs->Find(u"\\qvspace.sys"));
  EXPECT_NE(nullptr, inst.fs->Find(u"\\qvspace.sys"));
}

TEST(InstallOptionsCheck, RefusesImagesTheEngineCouldNotUse) {
  testing::ScratchFile scratch("install");
  struct Case {
    const char* what;
    void (*change)(InstallOptions&);
  };
  const Case cases[] = {
      {"space below two bitmap sectors", [](InstallOptions& o) { o.spaceSectors = 524288 - 64; }},
      {"space not whole blocks", [](InstallOptions& o) { o.spaceSectors = 524288 + 1; }},
      {"nine extents", [](InstallOptions& o) { o.areaPieces = 9; }},
      {"no extents", [](InstallOptions& o) { o.areaPieces = 0; }},
      {"volume id 0", [](InstallOptions& o) { o.volumeId = 0; }},
      {"33 snapshots", [](InstallOptions& o) { o.maxSnapshots = 33; }},
      {"not a letter", [](InstallOptions& o) { o.driveLetter = u'1'; }},
      {"header name with a backslash", [](InstallOptions& o) { o.headerFileName = u"\\qv.sys"; }},
      {"pinned path 2 over 27",
       [](InstallOptions& o) { o.pinnedPath2 = u"C:\\aaaaaaaaaaaaaaaaaaaaaaaaa"; }},
      {"pinned path on another drive", [](InstallOptions& o) { o.pinnedPath1 = u"D:\\boot\\bcd"; }},
      {"area larger than the volume", [](InstallOptions& o) { o.volumeSectors = 400000; }},
      {"four other volumes", [](InstallOptions& o) { o.extraVolumes.resize(4); }},
      {"pinned path 1 over 59",
       [](InstallOptions& o) { o.pinnedPath1 = u"C:\\" + std::u16string(57, u'a'); }},
  };
  for (const auto& c : cases) {
    InstallOptions options;
    options.imagePath = scratch.Path();
    c.change(options);
    Installation inst;
    EXPECT_FALSE(IsSuccess(Install(options, &inst))) << c.what;
  }
}

}  // namespace
}  // namespace vh::storage
