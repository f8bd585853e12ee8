// The header's stream: 32-bit little-endian values, texts as a count
// followed by UTF-16 units (columns) or UTF-8 bytes (font name).
#include "lazytree/header_stream.h"

#include <algorithm>

#include "classlib/sysutils.h"

namespace kelm::lazytree {

namespace {

constexpr uint16_t kUseCaptionAlignment = 1u << 14;

[[noreturn]] void Fail() { throw classlib::EReadError(u"Stream read error"); }

class TReaderCursor {
 public:
  TReaderCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Left() const { return size_ - pos_; }
  size_t Pos() const { return pos_; }
  void Back4() { pos_ -= 4; }

  int32_t Int() {
    if (Left() < 4) Fail();
    uint32_t v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 |
                 uint32_t(data_[pos_ + 2]) << 16 | uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return static_cast<int32_t>(v);
  }
  uint32_t UInt() { return static_cast<uint32_t>(Int()); }
  // An enumeration stored as 32 bits: anything beyond its last member is
  // a damaged stream.
  uint8_t Enum(int32_t last) {
    int32_t v = Int();
    if (v < 0 || v > last) Fail();
    return static_cast<uint8_t>(v);
  }
  // A count of items of at least itemBytes each that must fit in what is left.
  size_t Count(size_t itemBytes) {
    int32_t n = Int();
    if (n < 0 || static_cast<size_t>(n) > Left() / itemBytes) Fail();
    return static_cast<size_t>(n);
  }
  std::u16string Wide() {
    size_t n = Count(2);
    std::u16string s(n, u'\0');
    for (size_t i = 0; i < n; ++i)
      s[i] = char16_t(data_[pos_ + 2 * i] | data_[pos_ + 2 * i + 1] << 8);
    pos_ += 2 * n;
    return s;
  }
  std::string Bytes() {
    size_t n = Count(1);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class TWriterBuffer {
 public:
  void Int(int64_t v) {
    auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  void Wide(const std::u16string& s) {
    Int(static_cast<int64_t>(s.size()));
    for (char16_t c : s) {
      bytes_.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes_.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  void Bytes(const std::string& s) {
    Int(static_cast<int64_t>(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// Smallest column record of a version: two empty texts and the numbers.
size_t MinColumnBytes(int32_t version) {
  size_t values = 2 + 10;
  if (version >= 1) values += 2;
  if (version >= 2) values += 1;
  return values * 4;
}

TColumnRecord ReadColumn(TReaderCursor& r, int32_t version) {
  TColumnRecord c;
  c.Text = r.Wide();
  c.Hint = r.Wide();
  c.Width = r.Int();
  c.MinWidth = r.Int();
  c.MaxWidth = r.Int();
  c.Style = r.Enum(1);
  c.ImageIndex = r.Int();
  c.Layout = r.Enum(3);
  c.Margin = r.Int();
  c.Spacing = r.Int();
  c.BiDiMode = r.Enum(3);
  c.Options = ConvertColumnOptions(r.UInt(), version);
  if (version >= 1) {
    c.Tag = r.Int();
    c.Alignment = r.Enum(2);
  }
  if (version >= 2) c.Color = r.UInt();
  if (version >= 6 && (c.Options & kUseCaptionAlignment) != 0) c.CaptionAlignment = r.Enum(2);
  return c;
}

void WriteColumn(TWriterBuffer& w, const TColumnRecord& c) {
  w.Wide(c.Text);
  w.Wide(c.Hint);
  w.Int(c.Width);
  w.Int(c.MinWidth);
  w.Int(c.MaxWidth);
  w.Int(c.Style);
  w.Int(c.ImageIndex);
  w.Int(c.Layout);
  w.Int(c.Margin);
  w.Int(c.Spacing);
  w.Int(c.BiDiMode);
  w.Int(c.Options);
  w.Int(c.Tag);
  w.Int(c.Alignment);
  w.Int(c.Color);
  if ((c.Options & kUseCaptionAlignment) != 0) w.Int(c.CaptionAlignment);
}

}  // namespace

uint16_t ConvertColumnOptions(uint32_t stored, int32_t version) {
  if (version <= 1) return static_cast<uint16_t>((stored & 0x0F) | ((stored & 0x70) << 1));
  if (version == 2) return static_cast<uint16_t>(stored & 0xFF);
  return static_cast<uint16_t>(stored & 0xFFFF);
}

THeaderRecord ParseHeaderStream(const uint8_t* data, size_t size, size_t* consumed) {
  TReaderCursor r(data, size);
  THeaderRecord h;
  int32_t first = r.Int();
  if (first < 0) {
    h.Version = r.Int();
    if (h.Version < 0 || h.Version > kHeaderStreamVersion) Fail();
  } else {
    r.Back4();
    h.Version = -1;
  }

  size_t n = r.Count(MinColumnBytes(h.Version));
  h.Columns.reserve(n);
  for (size_t i = 0; i < n; ++i) h.Columns.push_back(ReadColumn(r, h.Version));
  if (n > 0) {
    if (r.Left() / 4 < n) Fail();
    std::vector<bool> seen(n, false);
    h.Positions.resize(n);
    for (size_t p = 0; p < n; ++p) {
      int32_t index = r.Int();
      // Every column exactly once, or columns would be lost or shown twice.
      if (index < 0 || static_cast<size_t>(index) >= n || seen[static_cast<size_t>(index)]) Fail();
      seen[static_cast<size_t>(index)] = true;
      h.Positions[p] = index;
    }
  }
  // Older versions did not write it.
  if (h.Version > 4) h.DefaultWidth = r.Int();

  h.AutoSizeIndex = r.Int();
  h.Background = r.UInt();
  h.Height = r.Int();
  h.Options = static_cast<uint16_t>(r.UInt() & 0xFFFF);
  h.Style = r.Enum(3);
  h.FontColor = r.UInt();
  h.FontHeight = r.Int();
  h.FontName = classlib::Utf8ToWide(r.Bytes());
  h.FontPitch = static_cast<uint8_t>(r.UInt() & 0x7F);
  h.FontStyle = static_cast<uint8_t>(r.UInt() & 0xFF);
  if (h.HasSortFields()) {
    h.MainColumn = r.Int();
    h.SortColumn = r.Int();
    h.SortDirection = r.Enum(1);
  }
  if (h.HasHeightLimits()) {
    h.ParentFont = r.Int() != 0;
    h.MaxHeight = r.Int();
    h.MinHeight = r.Int();
    h.DefaultHeight = r.Int();
    h.MaxHeightPercent = static_cast<uint8_t>(r.UInt());
    h.MaxWidthPercent = static_cast<uint8_t>(r.UInt());
    h.MinHeightPercent = static_cast<uint8_t>(r.UInt());
    h.MinWidthPercent = static_cast<uint8_t>(r.UInt());
  }
  if (consumed != nullptr) *consumed = r.Pos();
  return h;
}

std::vector<uint8_t> WriteHeaderStream(const THeaderRecord& h) {
  TWriterBuffer w;
  w.Int(-1);
  w.Int(kHeaderStreamVersion);
  w.Int(static_cast<int64_t>(h.Columns.size()));
  if (!h.Columns.empty()) {
    for (const TColumnRecord& c : h.Columns) WriteColumn(w, c);
    for (int32_t p : h.Positions) w.Int(p);
  }
  w.Int(h.DefaultWidth);
  w.Int(h.AutoSizeIndex);
  w.Int(h.Background);
  w.Int(h.Height);
  w.Int(h.Options);
  w.Int(h.Style);
  w.Int(h.FontColor);
  w.Int(h.FontHeight);
  w.Bytes(classlib::WideToUtf8(h.FontName));
  w.Int(h.FontPitch & 0x7F);
  w.Int(h.FontStyle);
  w.Int(h.MainColumn);
  w.Int(h.SortColumn);
  w.Int(h.SortDirection);
  w.Int(h.ParentFont ? 1 : 0);
  w.Int(h.MaxHeight);
  w.Int(h.MinHeight);
  w.Int(h.DefaultHeight);
  w.Int(h.MaxHeightPercent);
  w.Int(h.MaxWidthPercent);
  w.Int(h.MinHeightPercent);
  w.Int(h.MinWidthPercent);
  return w.Take();
}

}  // namespace kelm::lazytree
