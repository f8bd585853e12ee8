// The request records byte for byte, as the engine reads them.
#include "link/engine_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/codepage.h"

namespace kelm::link {
namespace {

template <typename T>
std::vector<uint8_t> Bytes(const T& record) {
  std::vector<uint8_t> out(sizeof record);
  std::memcpy(out.data(), &record, sizeof record);
  return out;
}

// Offsets whose bytes may be nonzero; every other byte must be zero.
void ExpectZeroOutside(const std::vector<uint8_t>& bytes,
                       const std::vector<std::pair<size_t, size_t>>& allowed) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool inside = false;
    for (const auto& range : allowed)
      inside = inside || (i >= range.first && i < range.first + range.second);
    if (!inside) {
      ASSERT_EQ(bytes[i], 0) << "byte 0x" << std::hex << i;
    }
  }
}

// A double-byte code page: ASCII as one byte, anything else as a lead byte
// 0x81 and a trail byte, as the East Asian system code pages do.
class DoubleByteCodePage : public classlib::TCodePageConverter {
 public:
  std::u16string ToWide(std::string_view ansi) const override {
    std::u16string out;
    for (size_t i = 0; i < ansi.size(); ++i) {
      const auto c = static_cast<uint8_t>(ansi[i]);
      if (c == 0x81 && i + 1 < ansi.size()) {
        out += static_cast<char16_t>(0x4E00 + static_cast<uint8_t>(ansi[++i]));
      } else {
        out += static_cast<char16_t>(c);
      }
    }
    return out;
  }
  std::string ToAnsi(std::u16string_view wide) const override {
    std::string out;
    for (char16_t c : wide) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c >= 0x4E00 && c < 0x4F00) {
        out += '\x81';
        out += static_cast<char>(c - 0x4E00);
      } else {
        out += '?';
      }
    }
    return out;
  }
};

class CodePageScope {
 public:
  explicit CodePageScope(std::unique_ptr<classlib::TCodePageConverter> cp)
      : previous_(classlib::SetCodePage(std::move(cp))) {}
  ~CodePageScope() { classlib::SetCodePage(std::move(previous_)); }

 private:
  std::unique_ptr<classlib::TCodePageConverter> previous_;
};

const RecordTime kTime{2026, 12, 4, 10, 15, 4, 22, 512};
const RecordGuid kGuid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(VolumeRequestRecord, NamesTheDriveAndIsZeroElsewhere) {
  const std::vector<uint8_t> bytes = Bytes(MakeVolumeRequest(u'C'));
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(bytes[0x19], 1);  // VolumeNameKind, u32 little-endian
  EXPECT_EQ(bytes[0x1D], 'C');
  EXPECT_EQ(bytes[0x1E], 0);
  ExpectZeroOutside(bytes, {{0x19, 1}, {0x1D, 1}});
}

TEST(VolumeRequestRecord, CarriesTheTimeWhenGiven) {
  const VolumeRequest request = MakeVolumeRequest(u'D', kTime);
  EXPECT_EQ(std::memcmp(&request.CreateTime, &kTime, sizeof kTime), 0);
  ExpectZeroOutside(Bytes(request), {{0x04, 16}, {0x19, 1}, {0x1D, 1}});
}

TEST(CreateRequestRecord, FillsNameGuidRemarkAndTime) {
  const VolumeRequest request =
      MakeCreateRequest(u'C', u"Before update", u"driver 1.2", kTime, kGuid);
  EXPECT_STREQ(request.SnapshotName, "Before update");
  EXPECT_STREQ(request.SnapshotRemark, "driver 1.2");
  EXPECT_EQ(std::memcmp(&request.SnapshotGuid, &kGuid, sizeof kGuid), 0);
  EXPECT_EQ(static_cast<int>(request.CreateTime.Year), 2026);
  EXPECT_EQ(static_cast<int>(request.CreateTime.Milliseconds), 512);
  ExpectZeroOutside(Bytes(request),
                    {{0x04, 16}, {0x19, 1}, {0x1D, 1}, {0x22D, 13}, {0x245, 16}, {0x255, 10}});
}

TEST(CreateRequestRecord, AnEmptyNameIsSentAsNewSnapshot) {
  const VolumeRequest request = MakeCreateRequest(u'C', u"", u"", kTime, kGuid);
  EXPECT_STREQ(request.SnapshotName, "New Snapshot");
  EXPECT_STREQ(request.SnapshotRemark, "");
}

struct CutCase {
  const char* label;
  std::u16string text;
  size_t field;
  std::string expected;
};

class FieldCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(FieldCut, KeepsWholeCharactersAndTheTerminator) {
  CodePageScope scope(std::make_unique<DoubleByteCodePage>());
  const CutCase& c = GetParam();
  const std::string cut = FieldText(c.text, c.field);
  EXPECT_EQ(cut, c.expected);
  EXPECT_LT(cut.size(), c.field);
}

const char16_t kWide[] = u"\u4E01";  // two bytes in the double-byte page

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldCut,
    ::testing::Values(CutCase{"fits", u"abc", 24, "abc"},
                      CutCase{"exactly23", std::u16string(23, u'n'), 24, std::string(23, 'n')},
                      CutCase{"one_over", std::u16string(24, u'n'), 24, std::string(23, 'n')},
                      CutCase{"remark_long", std::u16string(60, u'r'), 48, std::string(47, 'r')},
                      // 12 double-byte characters are 24 bytes: the 12th would split at
                      // byte 23, so it goes whole.
                      CutCase{"double_byte",
                              [] {
                                std::u16string s;
                                for (int i = 0; i < 12; ++i) s += kWide;
                                return s;
                              }(),
                              24,
                              [] {
                                std::string s;
                                for (int i = 0; i < 11; ++i) s += "\x81\x01";
                                return s;
                              }()},
                      // The lead byte would be byte 23, the terminator's place: the
                      // character goes whole and the field is one byte short.
                      CutCase{"lead_byte_at_end", u"a" + std::u16string(21, u'b') + kWide, 24,
                              "a" + std::string(21, 'b')},
                      CutCase{"double_byte_fits", u"a" + std::u16string(20, u'b') + kWide, 24,
                              "a" + std::string(20, 'b') + "\x81\x01"},
                      CutCase{"embedded_zero", std::u16string(u"ab\0cd", 5), 24, "ab"},
                      CutCase{"empty", u"", 24, ""}),
    [](const ::testing::TestParamInfo<CutCase>& param) { return param.param.label; });

TEST(CreateRequestRecord, LongNameAndRemarkStayInTheirFields) {
  const VolumeRequest request =
      MakeCreateRequest(u'C', std::u16string(40, u'N'), std::u16string(90, u'R'), kTime, kGuid);
  EXPECT_EQ(std::string(request.SnapshotName), std::string(23, 'N'));
  EXPECT_EQ(request.SnapshotName[23], 0);
  EXPECT_EQ(std::string(request.SnapshotRemark), std::string(47, 'R'));
  EXPECT_EQ(request.SnapshotRemark[47], 0);
  // The GUID after the name and the mount fields after the remark are intact.
  EXPECT_EQ(std::memcmp(&request.SnapshotGuid, &kGuid, sizeof kGuid), 0);
  EXPECT_EQ(static_cast<uint32_t>(request.MountCurrentState), 0u);
}

TEST(DeleteRequestRecord, CarriesTheNumber) {
  const VolumeRequest request = MakeDeleteRequest(u'C', 7);
  EXPECT_EQ(static_cast<uint32_t>(request.SnapshotNumber), 7u);
  ExpectZeroOutside(Bytes(request), {{0x19, 1}, {0x1D, 1}, {0x225, 1}});
}

struct RollbackCase {
  bool cancel;
  uint8_t schedule;
};

class RollbackRecord : public ::testing::TestWithParam<RollbackCase> {};

TEST_P(RollbackRecord, SendsTargetItsIdentityAndReclaimEitherWay) {
  SnapshotSlot target{};
  target.Number = 5;
  target.Guid = kGuid;
  target.CreateTime.Year = 2026;
  target.CreateTime.Second = 7;
  const RollbackRequest request = MakeRollbackRequest(u'C', target, GetParam().cancel);
  const std::vector<uint8_t> bytes = Bytes(request);
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(bytes[0], GetParam().schedule);
  EXPECT_EQ(bytes[1], 5);
  EXPECT_EQ(bytes[2], 1);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[0x08], 1);
  EXPECT_EQ(bytes[0x0C], 'C');
  EXPECT_EQ(std::memcmp(&bytes[0x214], &kGuid, sizeof kGuid), 0);
  EXPECT_EQ(bytes[0x224], 2026 & 0xFF);
  EXPECT_EQ(bytes[0x225], 2026 >> 8);
  EXPECT_EQ(bytes[0x224 + 12], 7);
  ExpectZeroOutside(bytes, {{0, 3}, {0x08, 1}, {0x0C, 1}, {0x214, 16}, {0x224, 2}, {0x230, 1}});
}

INSTANTIATE_TEST_SUITE_P(Flags, RollbackRecord,
                         ::testing::Values(RollbackCase{false, 1}, RollbackCase{true, 0}));

TEST(HeaderWriteRecord, IsTheRequestFollowedByTheWholeHeader) {
  auto header = std::make_unique<EngineHeader>();
  std::memset(header.get(), 0, sizeof *header);
  auto* raw = reinterpret_cast<uint8_t*>(header.get());
  for (size_t i = 0; i < sizeof *header; ++i) raw[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::vector<uint8_t> buffer = MakeHeaderWrite(u'C', *header);
  ASSERT_EQ(buffer.size(), 66560u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1024),
            Bytes(MakeVolumeRequest(u'C')));
  EXPECT_EQ(std::memcmp(buffer.data() + 1024, raw, sizeof *header), 0);
}

}  // namespace
}  // namespace kelm::link
