// Chunked run tables (free clusters at a snapshot, excluded files).
#pragma once

#include "engine.h"

NTSTATUS AppendRun(RunTableChunk** table, ULONGLONG firstCluster, ULONG clusterCount);
NTSTATUS FreeRunTable(RunTableChunk** table);
