// The test-only installer: does on a fresh disk image what the product's own
// installer does on a real PC, so tests and the main job start from a
// realistic installed volume:
//  - disk 0 with an MBR and the protected volume, formatted (boot sector and
//    file-system model) with \Windows and the pinned files;
//  - the engine area as the five space files (the header file and the same
//    name followed by 1..4), either contiguous (AreaBaseSector != 0) or in
//    2..8 pieces (AreaBaseSector 0, AreaExtents = the pieces in order);
//  - the regions inside it without overlap, the initial header, and the two
//    pre-boot images; maps, bitmap and release list are left zero;
//  - the "Parameter" record, returned as bytes for the emulated registry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vh/records.h"
#include "vh/storage/control_answers.h"
#include "vh/storage/disk.h"
#include "vh/storage/file_system.h"
#include "vh/storage/status.h"

namespace vh::storage {

// Another volume on disk 0, without an engine area (the engine still
// attaches to it). Its letter and hot-plug answers are for the device layer.
struct ExtraVolume {
  uint64_t sectors = 262144;
  FormatOptions format;
  char16_t driveLetter = u'D';
  HotplugFlags hotplug;
};

struct InstallOptions {
  std::string imagePath;
  uint64_t partitionStartSector = 2048;
  uint64_t volumeSectors = 2097152;  // 1 GiB
  uint64_t diskTailSectors = 2048;   // unpartitioned sectors after the volume
  FormatOptions format;
  uint64_t spaceSectors = 524288;  // the smallest space the bitmap rules allow
  // 1: one contiguous area addressed by AreaBaseSector; 2..8: that many
  // separate pieces addressed through AreaExtents.
  uint32_t areaPieces = 1;
  uint32_t volumeId = 0x5AFE0C01;
  char16_t driveLetter = u'C';
  std::u16string headerFileName = u"qvspace.sys";
  std::u16string pinnedPath1 = u"C:\\boot\\bcd";     // at most 59 characters
  std::u16string pinnedPath2 = u"C:\\hiberfil.sys";  // at most 27 characters
  bool createPinnedFiles = true;
  uint8_t maxSnapshots = 31;
  uint32_t lowWaterSectors = 65536;
  std::vector<ExtraVolume> extraVolumes;  // at most 3: partitions 2..4 follow the protected one
};

// Where the installer put each region, in engine sectors (first, count).
struct AreaLayout {
  uint64_t areaSectors = 0;
  uint64_t bitmapSectors = 0;
  uint64_t mapPages = 0;  // pages of every map table
  uint64_t mapSectors = 0;
  uint64_t slotMapFirst[kSlotCount] = {};
  uint64_t releaseListFirst = 0;
};

struct OtherVolume {
  ExtraVolume options;
  std::unique_ptr<Volume> volume;
  std::unique_ptr<FileSystemModel> fs;
};

struct Installation {
  std::unique_ptr<Disk> disk;
  std::unique_ptr<Volume> volume;
  std::unique_ptr<FileSystemModel> fs;
  std::unique_ptr<EngineHeader> header;  // as written to the image
  EngineParameters parameters{};
  AreaLayout layout;
  std::vector<AreaExtent> pieces;  // the area's runs in engine order, volume sectors
  std::vector<uint8_t> bootImage;
  std::vector<uint8_t> loaderImage;
  std::vector<OtherVolume> others;  // in partition order, from partition 2

  // The "Parameter" registry value (REG_BINARY, 1,024 bytes).
  std::vector<uint8_t> ParameterBytes() const;
  uint64_t HeaderVolumeSector() const { return parameters.HeaderLocations[0].Sector; }
  Status EngineToVolumeSector(uint64_t engineSector, uint64_t* volumeSector) const;
  // Engine-sector transfers through the area's pieces, for checks in tests.
  Status ReadEngineSectors(uint64_t first, uint64_t count, void* buffer) const;
  Status WriteEngineSectors(uint64_t first, uint64_t count, const void* buffer) const;

 private:
  Status TransferEngineSectors(bool write, uint64_t first, uint64_t count, uint8_t* buffer) const;
};

// The pattern of a pre-boot image (seed 1: boot image, 2: loader image), so
// the bytes the engine patches can be checked exactly.
std::vector<uint8_t> PreBootImagePattern(uint8_t seed);

Status Install(const InstallOptions& options, Installation* out);

}  // namespace vh::storage
