// Checked single-bit and range tests on the engine's bitmaps: an index past
// the map is refused, never touched.
#include "bitmap_bits.h"
#include "engine.h"

namespace {
NTSTATUS CheckBitIndex(PRTL_BITMAP bitmap, ULONG index) {
  if (bitmap == nullptr) return STATUS_INVALID_PARAMETER;
  if (index >= bitmap->SizeOfBitMap) {
    LogFailure("UTIL %08x %08x\n", index, STATUS_UNSUCCESSFUL);
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}
}  // namespace

NTSTATUS SetBitmapBit(PRTL_BITMAP bitmap, ULONG index) {
  NTSTATUS status = CheckBitIndex(bitmap, index);
  if (NT_SUCCESS(status)) RtlSetBits(bitmap, index, 1);
  return status;
}

NTSTATUS ClearBitmapBit(PRTL_BITMAP bitmap, ULONG index) {
  NTSTATUS status = CheckBitIndex(bitmap, index);
  if (NT_SUCCESS(status)) RtlClearBits(bitmap, index, 1);
  return status;
}

NTSTATUS TestBitmapBitsSet(PRTL_BITMAP bitmap, ULONG first, ULONG count, UCHAR* allSet) {
  if (bitmap == nullptr || allSet == nullptr) return STATUS_INVALID_PARAMETER;
  if (static_cast<ULONGLONG>(first) + count > bitmap->SizeOfBitMap) return STATUS_INVALID_PARAMETER;
  *allSet = RtlAreBitsSet(bitmap, first, count) ? 1 : 0;
  return STATUS_SUCCESS;
}
