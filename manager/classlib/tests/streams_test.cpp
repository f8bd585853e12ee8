// Streams: exact reads and writes, sizes, copying, the read-only resource
// stream, files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "classlib/classes.h"

namespace classlib {
namespace {

TEST(Streams, MemoryStreamGrowsTruncatesAndSeeks) {
  TMemoryStream m;
  m.WriteBuffer("abcdef", 6);
  EXPECT_EQ(m.Size(), 6);
  EXPECT_EQ(m.Position(), 6);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(m.Seek(-1, TSeekOrigin::soEnd), 2);
  char c;
  m.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(m.Read(&c, 1), 0);
  EXPECT_EQ(m.Seek(-100, TSeekOrigin::soCurrent), 0);
  m.Seek(10, TSeekOrigin::soBeginning);  // writing past the end fills with zeros
  m.WriteBuffer("z", 1);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Memory()[5], 0);
}

TEST(Streams, ShortReadsRaiseTheReadError) {
  TMemoryStream m;
  m.WriteBuffer("ab", 2);
  m.SetPosition(0);
  char buf[4];
  try {
    m.ReadBuffer(buf, 3);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(Streams, ResourceStreamIsReadOnly) {
  const char data[] = "resource";
  TResourceStream r(data, 8);
  char buf[8];
  r.ReadBuffer(buf, 8);
  EXPECT_EQ(std::string(buf, 8), "resource");
  try {
    r.WriteBuffer("x", 1);
    ADD_FAILURE();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Can't write to a read-only resource stream");
  }
}

TEST(Streams, CopyFromCopiesAllOrCount) {
  TStringStream src("0123456789");
  TMemoryStream dst;
  src.SetPosition(7);
  EXPECT_EQ(dst.CopyFrom(src, 0), 10);  // 0 = everything from the start
  src.SetPosition(2);
  EXPECT_EQ(dst.CopyFrom(src, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.Memory()), 13), "0123456789234");
  src.SetPosition(8);
  EXPECT_THROW(dst.CopyFrom(src, 5), EReadError);
}

TEST(Streams, StringStreamOverwritesAndTruncates) {
  TStringStream s("hello");
  s.SetPosition(1);
  s.WriteBuffer("EL", 2);
  EXPECT_EQ(s.DataString(), "hELlo");
  s.SetSize(2);
  EXPECT_EQ(s.DataString(), "hE");
  EXPECT_EQ(s.Position(), 2);
}

TEST(Streams, FileStreamCreatesReadsAndReportsMissingFiles) {
  std::string path = ::testing::TempDir() + "classlib_stream_test.bin";
  std::u16string name = Utf8ToWide(path);
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("0123456789", 10);
    f.SetSize(4);
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f.Size(), 4);
    char buf[4];
    f.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
  }
  std::remove(path.c_str());
  try {
    TFileStream f(name, fmOpenRead);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \"" + path + "\"."), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace classlib
