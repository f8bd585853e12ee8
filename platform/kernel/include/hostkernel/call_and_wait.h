// The synchronous send every host-side caller of a device stack needs: the
// kernel layer's own file and device requests, the storage stand-ins, the
// engine's hosts, tests and benchmarks. (Engine sources have their own,
// `CallDriverAndWait` in driver/engine_io.cpp: they also build against the
// DDK, where this layer does not exist.)
#pragma once

#include "hostkernel/ntkernel.h"

namespace hk {

// Sends `irp`, built with `event` as its user event and `ioStatus` as its
// status block, to `device`; when it pends, waits for its final completion.
// The answer is the request's final status; a null `irp` (a failed build)
// answers STATUS_INSUFFICIENT_RESOURCES. PASSIVE_LEVEL.
NTSTATUS CallDriverAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event,
                           PIO_STATUS_BLOCK ioStatus);

}  // namespace hk
