// Chunked run tables {first cluster, cluster count}: the free clusters
// collected for a snapshot and the clusters of an excluded file. Chunks are
// non-paged and only ever appended to; the table is freed whole.
#include "engine.h"
#include "run_table.h"

NTSTATUS AppendRun(RunTableChunk** table, ULONGLONG firstCluster, ULONG clusterCount) {
  if (table == nullptr) return STATUS_INVALID_PARAMETER;
  RunTableChunk* last = *table;
  while (last != nullptr && last->Next != nullptr) last = last->Next;
  if (last == nullptr || last->Used >= RunTableChunkRuns) {
    auto* chunk = static_cast<RunTableChunk*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(RunTableChunk), EnginePoolTag));
    if (chunk == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(chunk, sizeof *chunk);
    if (last == nullptr) {
      *table = chunk;
    } else {
      last->Next = chunk;
    }
    // Every chunk carries the chain's chunk count.
    ULONG chunks = 0;
    for (RunTableChunk* c = *table; c != nullptr; c = c->Next) ++chunks;
    for (RunTableChunk* c = *table; c != nullptr; c = c->Next) c->ChunkCount = chunks;
    last = chunk;
  }
  last->Runs[last->Used].FirstCluster = firstCluster;
  last->Runs[last->Used].ClusterCount = clusterCount;
  ++last->Used;
  return STATUS_SUCCESS;
}

NTSTATUS FreeRunTable(RunTableChunk** table) {
  if (table == nullptr || *table == nullptr) return STATUS_INVALID_PARAMETER;
  // From the last chunk to the first.
  while (*table != nullptr) {
    RunTableChunk** link = table;
    while ((*link)->Next != nullptr) link = &(*link)->Next;
    ExFreePoolWithTag(*link, EnginePoolTag);
    *link = nullptr;
  }
  return STATUS_SUCCESS;
}
