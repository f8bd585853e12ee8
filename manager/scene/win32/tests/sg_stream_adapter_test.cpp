// The IStream face of class-library streams: the HRESULT of every method in
// each case, including the streams that throw, and CopyTo's chunking.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "scene/sg_stream_adapter.h"

namespace kelm::scene {
namespace {

using classlib::TMemoryStream;
using classlib::TSeekOrigin;

// A memory stream that can throw from any call, write short, refuse a size
// and record the last seek and every read request.
class TFaultyStream : public TMemoryStream {
 public:
  bool throwing = false;
  int64_t writeLimit = -1;  // the most one Write takes; -1 for all
  bool sizeSticks = true;
  int64_t lastSeek = 0;
  std::vector<int64_t> reads;
  bool* freed = nullptr;

  ~TFaultyStream() override {
    if (freed) *freed = true;
  }
  int64_t Read(void* buffer, int64_t count) override {
    Fault();
    reads.push_back(count);
    return TMemoryStream::Read(buffer, count);
  }
  int64_t Write(const void* buffer, int64_t count) override {
    Fault();
    return TMemoryStream::Write(buffer, writeLimit < 0 ? count : std::min(count, writeLimit));
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    Fault();
    lastSeek = offset;
    return TMemoryStream::Seek(offset, origin);
  }
  void SetSize(int64_t size) override {
    Fault();
    if (sizeSticks) TMemoryStream::SetSize(size);
  }
  int64_t Size() override {
    Fault();
    return TMemoryStream::Size();
  }

 private:
  void Fault() const {
    if (throwing) throw classlib::EStreamError("broken stream");
  }
};

ULARGE_INTEGER U(uint64_t v) {
  ULARGE_INTEGER u;
  u.QuadPart = v;
  return u;
}
LARGE_INTEGER L(int64_t v) {
  LARGE_INTEGER l;
  l.QuadPart = v;
  return l;
}

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + 3);
  return b;
}

TEST(StreamAdapter, EveryMethodAnswersItsCode) {
  struct Case {
    const char* what;
    std::function<void(TFaultyStream&)> arrange;
    std::function<HRESULT(IStream*)> call;
    HRESULT expected;
  };
  auto none = [](TFaultyStream&) {};
  auto throwing = [](TFaultyStream& s) { s.throwing = true; };
  char buffer[8] = {};
  ULONG moved = 0;
  ULARGE_INTEGER position{}, r{}, w{};
  STATSTG info{};
  const Case cases[] = {
      {"read into nothing", none, [&](IStream* a) { return a->Read(nullptr, 4, &moved); },
       STG_E_INVALIDPOINTER},
      {"read", none, [&](IStream* a) { return a->Read(buffer, 4, &moved); }, S_OK},
      {"read from a throwing stream", throwing,
       [&](IStream* a) { return a->Read(buffer, 4, &moved); }, S_FALSE},
      {"write from nothing", none, [&](IStream* a) { return a->Write(nullptr, 4, &moved); },
       STG_E_INVALIDPOINTER},
      {"write", none, [&](IStream* a) { return a->Write("abcd", 4, &moved); }, S_OK},
      {"write to a throwing stream", throwing,
       [&](IStream* a) { return a->Write("abcd", 4, &moved); }, STG_E_CANTSAVE},
      {"seek from an origin past the end one", none,
       [&](IStream* a) { return a->Seek(L(0), 3, &position); }, STG_E_INVALIDFUNCTION},
      {"seek from the end", none,
       [&](IStream* a) { return a->Seek(L(-2), STREAM_SEEK_END, &position); }, S_OK},
      {"seek in a throwing stream", throwing,
       [&](IStream* a) { return a->Seek(L(0), STREAM_SEEK_SET, &position); }, STG_E_INVALIDPOINTER},
      {"set size", none, [&](IStream* a) { return a->SetSize(U(3)); }, S_OK},
      {"set a size that does not stick", [](TFaultyStream& s) { s.sizeSticks = false; },
       [&](IStream* a) { return a->SetSize(U(3)); }, E_FAIL},
      {"set the size of a throwing stream", throwing, [&](IStream* a) { return a->SetSize(U(3)); },
       E_UNEXPECTED},
      {"copy to nothing", none, [&](IStream* a) { return a->CopyTo(nullptr, U(4), &r, &w); },
       STG_E_INVALIDPOINTER},
      {"copy from a throwing stream", throwing,
       [&](IStream* a) {
         TMemoryStream target;
         TComRef<IStream> out(new TMyStreamAdapter(&target, soReference));
         return a->CopyTo(out.Get(), U(4), &r, &w);
       },
       E_UNEXPECTED},
      {"commit", none, [](IStream* a) { return a->Commit(STGC_DEFAULT); }, S_OK},
      {"revert", none, [](IStream* a) { return a->Revert(); }, STG_E_REVERTED},
      {"lock", none, [](IStream* a) { return a->LockRegion(U(0), U(1), LOCK_WRITE); },
       STG_E_INVALIDFUNCTION},
      {"unlock", none, [](IStream* a) { return a->UnlockRegion(U(0), U(1), LOCK_WRITE); },
       STG_E_INVALIDFUNCTION},
      {"stat into nothing", throwing, [](IStream* a) { return a->Stat(nullptr, STATFLAG_NONAME); },
       S_OK},
      {"stat", none, [&](IStream* a) { return a->Stat(&info, STATFLAG_NONAME); }, S_OK},
      {"stat of a throwing stream", throwing,
       [&](IStream* a) { return a->Stat(&info, STATFLAG_NONAME); }, E_UNEXPECTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFaultyStream stream;
    stream.WriteBuffer("0123456789", 10);
    stream.SetPosition(0);
    c.arrange(stream);
    TComRef<IStream> adapter(new TMyStreamAdapter(&stream, soReference));
    EXPECT_EQ(c.call(adapter.Get()), c.expected);
  }
}

TEST(StreamAdapter, MovesDataAndReportsCountsAndPositions) {
  TMemoryStream stream;
  TComRef<IStream> adapter(new TMyStreamAdapter(&stream, soReference));
  ULONG n = 0;
  ASSERT_EQ(adapter->Write("hello world", 11, &n), S_OK);
  EXPECT_EQ(n, 11u);
  ULARGE_INTEGER pos{};
  ASSERT_EQ(adapter->Seek(L(-5), STREAM_SEEK_END, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 6u);
  char text[16] = {};
  ASSERT_EQ(adapter->Read(text, 16, &n), S_OK);
  EXPECT_EQ(n, 5u);
  EXPECT_STREQ(text, "world");
  ASSERT_EQ(adapter->Seek(L(-3), STREAM_SEEK_CUR, &pos), S_OK);
  EXPECT_EQ(pos.QuadPart, 8u);
  ASSERT_EQ(adapter->SetSize(U(4)), S_OK);
  EXPECT_EQ(stream.Size(), 4);

  FILETIME before{}, after{};
  GetSystemTimeAsFileTime(&before);
  STATSTG info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(adapter->Stat(&info, STATFLAG_NONAME), S_OK);
  GetSystemTimeAsFileTime(&after);
  EXPECT_EQ(info.type, DWORD(STGTY_STREAM));
  EXPECT_EQ(info.cbSize.QuadPart, 4u);
  EXPECT_EQ(info.grfLocksSupported, DWORD(LOCK_WRITE));
  EXPECT_EQ(info.pwcsName, nullptr);
  EXPECT_EQ(info.grfMode, 0u);
  const auto stamp = [](const FILETIME& t) {
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  EXPECT_GE(stamp(info.mtime), stamp(before));
  EXPECT_LE(stamp(info.mtime), stamp(after));
  EXPECT_EQ(stamp(info.ctime), stamp(info.mtime));
  EXPECT_EQ(stamp(info.atime), stamp(info.mtime));

  IStream* clone = adapter.Get();
  EXPECT_EQ(adapter->Clone(&clone), E_NOTIMPL);
  EXPECT_EQ(clone, nullptr);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(adapter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(adapter.Get()));
  unknown->Release();
  void* other = adapter.Get();
  EXPECT_EQ(adapter->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(StreamAdapter, SeeksByTheWhole64BitMove) {
  // A move past 4 GB must reach the stream whole, not cut to 32 bits.
  TFaultyStream stream;
  TComRef<IStream> adapter(new TMyStreamAdapter(&stream, soReference));
  ASSERT_EQ(adapter->Seek(L(0x100000010LL), STREAM_SEEK_CUR, nullptr), S_OK);
  EXPECT_EQ(stream.lastSeek, 0x100000010LL);
}

TEST(StreamAdapter, CopyToGoesInChunksAndStopsOnShortOrFailingWrites) {
  const uint64_t chunk = TMyStreamAdapter::CopyChunk;
  struct Case {
    const char* what;
    size_t sourceSize;
    uint64_t count;
    int64_t targetWriteLimit;
    bool targetThrows;
    HRESULT expected;
    uint64_t read, written;
    std::vector<int64_t> requests;
  };
  const Case cases[] = {
      {"part of a small stream", 100, 40, -1, false, S_OK, 40, 40, {40}},
      {"more than there is", 100, 500, -1, false, S_OK, 100, 100, {500, 400}},
      {"over two chunks",
       size_t(chunk) + 10,
       chunk + 10,
       -1,
       false,
       S_OK,
       chunk + 10,
       chunk + 10,
       {int64_t(chunk), 10}},
      {"nothing asked", 100, 0, -1, false, S_OK, 0, 0, {}},
      {"a short write", 100, 100, 30, false, E_FAIL, 100, 30, {100}},
      {"a failing write", 100, 100, -1, true, STG_E_CANTSAVE, 100, 0, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> data = Bytes(c.sourceSize);
    TFaultyStream source, target;
    source.WriteBuffer(data.data(), int64_t(data.size()));
    source.SetPosition(0);
    target.writeLimit = c.targetWriteLimit;
    target.throwing = c.targetThrows;
    TComRef<IStream> from(new TMyStreamAdapter(&source, soReference));
    TComRef<IStream> to(new TMyStreamAdapter(&target, soReference));
    ULARGE_INTEGER read{}, written{};
    EXPECT_EQ(from->CopyTo(to.Get(), U(c.count), &read, &written), c.expected);
    EXPECT_EQ(read.QuadPart, c.read);
    EXPECT_EQ(written.QuadPart, c.written);
    EXPECT_EQ(source.reads, c.requests);
    target.throwing = false;
    const std::vector<uint8_t> copied = target.Bytes();
    ASSERT_EQ(copied.size(), c.written);
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), data.begin()));
  }
}

TEST(StreamAdapter, FreesTheStreamOnlyWhenItOwnsIt) {
  for (const auto ownership : {soReference, soOwned}) {
    bool freed = false;
    auto* stream = classlib::New<TFaultyStream>();
    stream->freed = &freed;
    auto* adapter = new TMyStreamAdapter(stream, ownership);
    adapter->AddRef();
    EXPECT_EQ(adapter->Release(), 1u);
    EXPECT_FALSE(freed);
    EXPECT_EQ(adapter->Release(), 0u);
    EXPECT_EQ(freed, ownership == soOwned);
    if (!freed) classlib::Free(stream);
  }
}

}  // namespace
}  // namespace kelm::scene
