// The header's stream (columns, then the header's own values) as plain
// records: parsed from bytes with every count checked, and written back.
// The header applies a parsed record through its setters.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace kelm::lazytree {

// The version the header writes; streams of versions -1 (no marker) to
// this one are read.
inline constexpr int32_t kHeaderStreamVersion = 6;

struct TColumnRecord {
  std::u16string Text;
  std::u16string Hint;
  int32_t Width = 50;
  int32_t MinWidth = 10;
  int32_t MaxWidth = 10000;
  uint8_t Style = 0;
  int32_t ImageIndex = -1;
  uint8_t Layout = 0;
  int32_t Margin = 4;
  int32_t Spacing = 4;
  uint8_t BiDiMode = 0;
  // Already converted to the current bits when read from an old version.
  uint16_t Options = 2303;
  int32_t Tag = 0;
  uint8_t Alignment = 0;
  uint32_t Color = 0xFF000005;
  // Meaningful only with coUseCaptionAlignment (bit 14) in Options.
  uint8_t CaptionAlignment = 0;

  auto Tie() const {
    return std::tie(Text, Hint, Width, MinWidth, MaxWidth, Style, ImageIndex, Layout, Margin,
                    Spacing, BiDiMode, Options, Tag, Alignment, Color, CaptionAlignment);
  }
  bool operator==(const TColumnRecord& o) const { return Tie() == o.Tie(); }
};

struct THeaderRecord {
  // -1 when the stream had no version marker.
  int32_t Version = kHeaderStreamVersion;
  std::vector<TColumnRecord> Columns;
  // Entry p: the index of the column shown at position p (a permutation).
  std::vector<int32_t> Positions;
  // Read only from version 5 on.
  int32_t DefaultWidth = 50;
  int32_t AutoSizeIndex = 0;
  uint32_t Background = 0xFF00000F;
  int32_t Height = 17;
  uint16_t Options = 522;
  uint8_t Style = 0;
  uint32_t FontColor = 0xFF000008;
  int32_t FontHeight = -11;
  std::u16string FontName;
  uint8_t FontPitch = 0;
  uint8_t FontStyle = 0;
  // Version 1 and later.
  int32_t MainColumn = 0;
  int32_t SortColumn = -1;
  uint8_t SortDirection = 0;
  // Version 5 and later.
  bool ParentFont = false;
  int32_t MaxHeight = 10000;
  int32_t MinHeight = 10;
  int32_t DefaultHeight = 17;
  uint8_t MaxHeightPercent = 0;
  uint8_t MaxWidthPercent = 0;
  uint8_t MinHeightPercent = 0;
  uint8_t MinWidthPercent = 0;

  bool HasSortFields() const { return Version > 0; }
  bool HasHeightLimits() const { return Version > 4; }
  auto Tie() const {
    return std::tie(Version, Columns, Positions, DefaultWidth, AutoSizeIndex, Background, Height,
                    Options, Style, FontColor, FontHeight, FontName, FontPitch, FontStyle,
                    MainColumn, SortColumn, SortDirection, ParentFont, MaxHeight, MinHeight,
                    DefaultHeight, MaxHeightPercent, MaxWidthPercent, MinHeightPercent,
                    MinWidthPercent);
  }
  bool operator==(const THeaderRecord& o) const { return Tie() == o.Tie(); }
};

// Column options as stored by an old version, in today's bits.
uint16_t ConvertColumnOptions(uint32_t stored, int32_t version);

// Parses a header stream starting at data; consumed receives the bytes
// read. A short or malformed stream raises classlib::EReadError.
THeaderRecord ParseHeaderStream(const uint8_t* data, size_t size, size_t* consumed = nullptr);
// The stream of the current version (the record's Version is not used).
std::vector<uint8_t> WriteHeaderStream(const THeaderRecord& header);

}  // namespace kelm::lazytree
