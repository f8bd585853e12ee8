// The string tree's caption chunk: the main column's text as UTF-16 code
// units, after the base tree's chunks.
#include "lazytree/lazy_string_tree.h"

namespace kelm::lazytree {

namespace {

constexpr int32_t kCaptionChunk = 3;

}  // namespace

void TCustomLazyStringTree::WriteNodeChunks(TStream& stream, PLazyNode node) {
  TBaseLazyTree::WriteNodeChunks(stream, node);
  if (!StringOptions().Contains(toSaveCaptions) || !node->Has(nsInitialized)) return;
  const std::u16string text = GetText(node, HeaderMainColumn());
  if (text.empty()) return;
  std::vector<uint8_t> chunk(8 + 2 * text.size());
  const auto size = static_cast<uint32_t>(2 * text.size());
  for (int i = 0; i < 4; ++i) {
    chunk[i] = static_cast<uint8_t>(static_cast<uint32_t>(kCaptionChunk) >> (8 * i));
    chunk[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  for (size_t i = 0; i < text.size(); ++i) {
    chunk[8 + 2 * i] = static_cast<uint8_t>(text[i]);
    chunk[9 + 2 * i] = static_cast<uint8_t>(text[i] >> 8);
  }
  stream.WriteBuffer(chunk.data(), static_cast<int64_t>(chunk.size()));
}

bool TCustomLazyStringTree::ReadNodeChunk(TStream& stream, int version, PLazyNode node,
                                          int32_t chunkType, int32_t chunkSize) {
  if (chunkType != kCaptionChunk)
    return TBaseLazyTree::ReadNodeChunk(stream, version, node, chunkType, chunkSize);
  // The reader has checked that the chunk lies inside its node.
  const int64_t start = stream.Position();
  std::vector<uint8_t> bytes(static_cast<size_t>(chunkSize / 2) * 2);
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  // An odd size still ends where the chunk ends.
  stream.SetPosition(start + chunkSize);
  DoNewText(node, HeaderMainColumn(), text);
  return true;
}

}  // namespace kelm::lazytree
