// The IStream face of a class-library stream. GDI+ calls these from deep
// inside its codecs: each method turns whatever the stream throws into the
// HRESULT the interface documents for that case.
#include "scene/sg_stream_adapter.h"

#include <algorithm>
#include <vector>

#include "classlib/object.h"

namespace kelm::scene {

using classlib::TSeekOrigin;

TMyStreamAdapter::TMyStreamAdapter(classlib::TStream* stream, TStreamOwnership ownership)
    : stream_(stream), ownership_(ownership) {}

TMyStreamAdapter::~TMyStreamAdapter() {
  if (ownership_ != soOwned) return;
  try {
    classlib::Free(stream_);
  } catch (...) {  // a stream's destructor must not take the caller of Release down
  }
}

HRESULT TMyStreamAdapter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) ||
      IsEqualIID(iid, IID_IStream)) {
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TMyStreamAdapter::AddRef() { return ++refs_; }

ULONG TMyStreamAdapter::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT TMyStreamAdapter::Read(void* buffer, ULONG count, ULONG* read) {
  if (!buffer) return STG_E_INVALIDPOINTER;
  int64_t n = 0;
  try {
    n = stream_->Read(buffer, count);
  } catch (...) {
    return S_FALSE;
  }
  if (read) *read = ULONG(std::max<int64_t>(n, 0));
  return S_OK;
}

HRESULT TMyStreamAdapter::Write(const void* buffer, ULONG count, ULONG* written) {
  if (!buffer) return STG_E_INVALIDPOINTER;
  int64_t n = 0;
  try {
    n = stream_->Write(buffer, count);
  } catch (...) {
    return STG_E_CANTSAVE;
  }
  if (written) *written = ULONG(std::max<int64_t>(n, 0));
  return S_OK;
}

HRESULT TMyStreamAdapter::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
  static constexpr TSeekOrigin origins[] = {TSeekOrigin::soBeginning, TSeekOrigin::soCurrent,
                                            TSeekOrigin::soEnd};
  int64_t position = 0;
  try {
    // The whole 64-bit move: a stream past 2 GB must not be read at a
    // wrapped-around offset.
    position = stream_->Seek(move.QuadPart, origins[origin]);
  } catch (...) {
    return STG_E_INVALIDPOINTER;
  }
  // A stream that cannot seek answers a negative position.
  if (position < 0) return STG_E_INVALIDPOINTER;
  if (newPosition) newPosition->QuadPart = uint64_t(position);
  return S_OK;
}

HRESULT TMyStreamAdapter::SetSize(ULARGE_INTEGER newSize) {
  try {
    const auto size = int64_t(std::min<uint64_t>(newSize.QuadPart, INT64_MAX));
    stream_->SetSize(size);
    return stream_->Size() == size && uint64_t(size) == newSize.QuadPart ? S_OK : E_FAIL;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT TMyStreamAdapter::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                 ULARGE_INTEGER* written) {
  uint64_t readTotal = 0, writtenTotal = 0;
  HRESULT result = S_OK;
  try {
    if (!target) {
      result = STG_E_INVALIDPOINTER;
    } else {
      std::vector<uint8_t> buffer(size_t(std::min(count.QuadPart, CopyChunk)));
      while (readTotal < count.QuadPart) {
        const auto want = ULONG(std::min<uint64_t>(count.QuadPart - readTotal, buffer.size()));
        const int64_t got = stream_->Read(buffer.data(), want);
        if (got <= 0) break;
        readTotal += uint64_t(got);
        ULONG wrote = 0;
        const HRESULT status = target->Write(buffer.data(), ULONG(got), &wrote);
        writtenTotal += wrote;
        if (FAILED(status)) {
          result = status;
          break;
        }
        if (wrote < ULONG(got)) {
          result = E_FAIL;
          break;
        }
      }
    }
  } catch (...) {
    result = E_UNEXPECTED;
  }
  if (read) read->QuadPart = readTotal;
  if (written) written->QuadPart = writtenTotal;
  return result;
}

HRESULT TMyStreamAdapter::Commit(DWORD) { return S_OK; }

HRESULT TMyStreamAdapter::Revert() { return STG_E_REVERTED; }

HRESULT TMyStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TMyStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TMyStreamAdapter::Stat(STATSTG* info, DWORD) {
  if (!info) return S_OK;
  try {
    *info = STATSTG{};
    info->type = STGTY_STREAM;
    info->cbSize.QuadPart = uint64_t(std::max<int64_t>(stream_->Size(), 0));
    // The current time as UTC file time, for all three stamps.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    info->mtime = info->ctime = info->atime = now;
    info->grfLocksSupported = LOCK_WRITE;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT TMyStreamAdapter::Clone(IStream** stream) {
  if (stream) *stream = nullptr;
  return E_NOTIMPL;
}

}  // namespace kelm::scene
