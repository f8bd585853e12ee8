// Counted strings, bitmaps and the debug log.
#pragma once

#include "hostkernel/nt_status.h"

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive);
LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive);
BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING prefix, PCUNICODE_STRING string,
                               BOOLEAN caseInsensitive);
// Only the in-place form (allocate FALSE) is offered: the engine never asks
// the run-time library to allocate.
NTSTATUS RtlUpcaseUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source,
                                BOOLEAN allocateDestination);
WCHAR RtlUpcaseUnicodeChar(WCHAR c);
void RtlInitAnsiString(ANSI_STRING* destination, const char* source);

struct RTL_BITMAP {
  ULONG SizeOfBitMap;
  PULONG Buffer;
};
using PRTL_BITMAP = RTL_BITMAP*;

void RtlInitializeBitMap(PRTL_BITMAP header, PULONG buffer, ULONG sizeOfBitMap);
void RtlClearAllBits(PRTL_BITMAP header);
void RtlSetAllBits(PRTL_BITMAP header);
void RtlSetBit(PRTL_BITMAP header, ULONG bit);
void RtlClearBit(PRTL_BITMAP header, ULONG bit);
BOOLEAN RtlTestBit(PRTL_BITMAP header, ULONG bit);
void RtlSetBits(PRTL_BITMAP header, ULONG start, ULONG count);
void RtlClearBits(PRTL_BITMAP header, ULONG start, ULONG count);
BOOLEAN RtlAreBitsSet(PRTL_BITMAP header, ULONG start, ULONG length);
BOOLEAN RtlAreBitsClear(PRTL_BITMAP header, ULONG start, ULONG length);
ULONG RtlFindClearBits(PRTL_BITMAP header, ULONG count, ULONG hint);
ULONG RtlFindClearBitsAndSet(PRTL_BITMAP header, ULONG count, ULONG hint);
ULONG RtlNumberOfClearBits(PRTL_BITMAP header);
ULONG RtlNumberOfSetBits(PRTL_BITMAP header);

// Formats as the kernel's debug print does (%ws, %wZ, %I64d ...) and keeps
// every line for the tests.
ULONG DbgPrint(const char* format, ...);
