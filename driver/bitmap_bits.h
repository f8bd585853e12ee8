// Checked bit and range tests on the engine's bitmaps.
#pragma once

#include "engine.h"

NTSTATUS SetBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS ClearBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS TestBitmapBitsSet(PRTL_BITMAP bitmap, ULONG first, ULONG count, UCHAR* allSet);
