// The blocks of the tree's private clipboard formats, decoded from bytes
// that may come from another process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kelm::lazytree {

class TLazyTreeView;

// "Lazy Tree Data" in global memory: a u32 length, then that many bytes of
// tree stream. False unless the length fits the block (blockSize is what
// GlobalSize answers, which may exceed what was asked for).
bool DecodeTreeDataBlock(const uint8_t* block, size_t blockSize, const uint8_t*& data,
                         uint32_t& length);

// "Lazy Tree Reference": the process identifier and the tree's number.
inline constexpr size_t kTreeReferenceSize = 8;
std::array<uint8_t, kTreeReferenceSize> EncodeTreeReference(uint32_t processId,
                                                            uint32_t treeNumber);
// The live tree the block names when it comes from this process, else none.
TLazyTreeView* DecodeTreeReference(const uint8_t* block, size_t blockSize, uint32_t ownProcessId);

}  // namespace kelm::lazytree
