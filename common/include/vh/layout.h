// Compile-time checks for byte-packed records that cross a boundary (disk,
// registry, control requests, files). Every such record states its size and
// each field's offset right under its declaration, so a change of compiler,
// word size or packing cannot move a byte silently.
#pragma once

#include <cstddef>

#define VH_CHECK_SIZE(Type, bytes) \
  static_assert(sizeof(Type) == (bytes), #Type " must be " #bytes " bytes")

#define VH_CHECK_OFFSET(Type, field, offset) \
  static_assert(offsetof(Type, field) == (offset), #Type "." #field " must be at " #offset)
