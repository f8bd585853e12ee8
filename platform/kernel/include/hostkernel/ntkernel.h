// The host kernel layer: user-mode stand-ins for the Windows kernel
// interfaces the engine calls, with the kernel's semantics where the engine
// depends on them. Engine code reaches it only through driver/vh_kernel.h.
#pragma once

#include "hostkernel/nt_types.h"
#include "hostkernel/nt_status.h"
#include "hostkernel/nt_ke.h"
#include "hostkernel/nt_ex.h"
#include "hostkernel/nt_rtl.h"
#include "hostkernel/nt_se.h"
#include "hostkernel/nt_io.h"
#include "hostkernel/nt_zw.h"
#include "hostkernel/nt_ioctl.h"
