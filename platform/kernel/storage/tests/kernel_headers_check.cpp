// The device layer includes the kernel layer's DDK names (many of them
// macros) and these headers in one unit; this unit proves they do not clash.
#include "hostkernel/ntkernel.h"
#include "vh/records.h"
#include "vh/storage/control_answers.h"
#include "vh/storage/file_system.h"
#include "vh/storage/installer.h"

static_assert(sizeof(vh::RecordWChar) == sizeof(WCHAR), "records use the layer's WCHAR");
static_assert(vh::storage::kStatusBufferOverflow == STATUS_BUFFER_OVERFLOW, "same statuses");
static_assert(vh::storage::kStatusEndOfFile == STATUS_END_OF_FILE, "same statuses");
