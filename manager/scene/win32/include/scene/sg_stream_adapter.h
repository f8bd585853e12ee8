// TMyStreamAdapter: any class-library stream as a COM IStream, which is the
// only way GDI+ reads and writes images. Every method answers an HRESULT;
// no exception ever leaves one.
#pragma once

#include <windows.h>
// IStream.
#include <objidl.h>

#include <atomic>
#include <cstdint>

#include "classlib/streams.h"

namespace kelm::scene {

// Who frees the wrapped stream.
enum TStreamOwnership : int { soReference = 0, soOwned = 1 };

// COM interfaces have no virtual destructor by design: the object frees
// itself in Release, never through a base pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TMyStreamAdapter final : public IStream {
 public:
  // Starts with one reference, the caller's: it calls Release when done.
  TMyStreamAdapter(classlib::TStream* stream, TStreamOwnership ownership);
  TMyStreamAdapter(const TMyStreamAdapter&) = delete;
  TMyStreamAdapter& operator=(const TMyStreamAdapter&) = delete;

  classlib::TStream* Stream() const { return stream_; }

  // The largest buffer CopyTo moves at once.
  static constexpr uint64_t CopyChunk = 1048576;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                       DWORD lockType) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                         DWORD lockType) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* info, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override;

 private:
  // Only through Release.
  ~TMyStreamAdapter();

  classlib::TStream* stream_;
  TStreamOwnership ownership_;
  std::atomic<ULONG> refs_{1};
};
#pragma GCC diagnostic pop

// Holds one reference to a COM object and releases it when it goes.
template <class I>
class TComRef {
 public:
  explicit TComRef(I* object = nullptr) : object_(object) {}
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  ~TComRef() {
    if (object_) object_->Release();
  }
  I* Get() const { return object_; }
  I* operator->() const { return object_; }

 private:
  I* object_;
};

}  // namespace kelm::scene
