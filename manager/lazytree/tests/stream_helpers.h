// Stored-form round trips shared by the header and column tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/classes.h"
#include "classlib/streams.h"
#include "classlib/textform.h"

namespace kelm::test {

inline std::vector<uint8_t> TextToBinary(const std::string& text) {
  classlib::TStringStream in(text);
  classlib::TMemoryStream out;
  classlib::ObjectTextToBinary(in, out);
  return out.Bytes();
}

inline std::string BinaryToText(const std::vector<uint8_t>& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TStringStream out;
  classlib::ObjectBinaryToText(in, out);
  return out.DataString();
}

inline std::vector<uint8_t> Save(classlib::TComponent* root) {
  classlib::TMemoryStream m;
  classlib::TWriter w(m);
  w.WriteRootComponent(root);
  return m.Bytes();
}

}  // namespace kelm::test
