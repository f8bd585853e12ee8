// The one header through which engine code reaches the kernel: the real DDK
// in the driver build, the host kernel layer in the host and win32 builds.
#pragma once

#if defined(VH_KERNEL_MODE)
#include <ntifs.h>
#include <ntdddisk.h>
#include <ntddstor.h>
#include <ntddvol.h>
#include <mountdev.h>
#include <mountmgr.h>
// Wide literals: WCHAR is the compiler's 16-bit wchar_t on Windows.
#define VH_WIDE_(s) L##s
#else
#include "hostkernel/ntkernel.h"
// Wide literals: WCHAR is char16_t on the host (wchar_t is 32 bits there).
#define VH_WIDE_(s) u##s
#endif
#define VH_WIDE(s) VH_WIDE_(s)

#ifndef IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION
#define IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION 0x006D402Cu
#endif
