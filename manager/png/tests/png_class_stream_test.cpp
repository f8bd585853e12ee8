// Pictures through the class library's streams: the adapter must keep the
// stream's own positions and report the library's stream errors.
#include "png/png_class_stream.h"

#include <gtest/gtest.h>

#include "png/png_errors.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using namespace kelm::png;

std::vector<uint8_t> SmallFile() {
  EncodeOptions options;
  options.cuts = {10, 25};  // three IDAT chunks: the reader seeks and reads across them
  options.afterImage = {{"tEXt", {'k', 0, 'v'}}};
  return Encode(RandomImage(7, 5, 2, 8, 3), options);
}

TEST(PngClassStream, LoadsFromTheStreamsPositionAndStopsAfterIEND) {
  std::vector<uint8_t> file = SmallFile();
  classlib::TMemoryStream stream;
  const uint8_t prefix[5] = {1, 2, 3, 4, 5}, suffix[3] = {9, 9, 9};
  stream.WriteBuffer(prefix, sizeof prefix);
  stream.WriteBuffer(file.data(), int64_t(file.size()));
  stream.WriteBuffer(suffix, sizeof suffix);
  stream.SetPosition(sizeof prefix);
  PngClassStream adapter(stream);
  PngPicture picture;
  picture.LoadFromStream(adapter);
  EXPECT_TRUE(StorageMatches(picture, RandomImage(7, 5, 2, 8, 3)));
  // The bytes after the picture belong to whoever embedded it.
  EXPECT_EQ(stream.Position(), int64_t(sizeof prefix + file.size()));
}

TEST(PngClassStream, SavesTheSameBytesAsTheCodecsOwnStream) {
  PngPicture picture;
  Load(picture, SmallFile());
  classlib::TMemoryStream stream;
  stream.WriteBuffer("x", 1);
  PngClassStream adapter(stream);
  picture.SaveToStream(adapter);
  std::vector<uint8_t> expected = Save(picture), got = stream.Bytes();
  ASSERT_EQ(got.size(), expected.size() + 1);
  EXPECT_EQ(std::vector<uint8_t>(got.begin() + 1, got.end()), expected);
}

TEST(PngClassStream, TruncatedStreamIsAnUnexpectedEnd) {
  std::vector<uint8_t> file = SmallFile();
  for (size_t keep : {size_t(12), file.size() / 2, file.size() - 1}) {
    SCOPED_TRACE(keep);
    classlib::TMemoryStream stream;
    stream.WriteBuffer(file.data(), int64_t(keep));
    stream.SetPosition(0);
    PngClassStream adapter(stream);
    PngPicture picture;
    EXPECT_THROW(picture.LoadFromStream(adapter), EPngUnexpectedEnd);
  }
}

// A medium that fills up: it takes at most a fixed number of bytes.
class FullStream : public classlib::TMemoryStream {
 public:
  explicit FullStream(int64_t room) : room_(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    int64_t n = count < room_ - Size() ? count : room_ - Size();
    return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
  }

 private:
  int64_t room_;
};

TEST(PngClassStream, AFullStreamRaisesTheLibrarysWriteError) {
  PngPicture picture;
  Load(picture, SmallFile());
  for (int64_t room : {int64_t(4), int64_t(40), int64_t(Save(picture).size()) - 1}) {
    SCOPED_TRACE(room);
    FullStream stream(room);
    PngClassStream adapter(stream);
    EXPECT_THROW(picture.SaveToStream(adapter), classlib::EWriteError);
  }
}

}  // namespace
}  // namespace kelm::test
