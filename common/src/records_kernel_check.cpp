// Compiled with the kernel-mode flags only: proves the shared records build
// freestanding, without the C++ run-time, next to the DDK's names, and keep
// their layout on x86-64.
#include <ntddk.h>

#include "vh/records.h"

static_assert(sizeof(vh::EngineHeader) == 65536, "engine header in kernel mode");
static_assert(sizeof(vh::MountTable) == 3663, "mount table in kernel mode");
static_assert(sizeof(vh::RecordWChar) == sizeof(WCHAR) && static_cast<vh::RecordWChar>(-1) > 0,
              "kernel-mode records use the DDK's WCHAR");
