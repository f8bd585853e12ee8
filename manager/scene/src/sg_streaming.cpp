// Loading, saving and cloning object trees through the class library's
// reader, writer and text converters.
#include <string>

#include "classlib/filer.h"
#include "classlib/textform.h"
#include "scene/sg_classes.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TStream;

void ReadObjectFromStream(TComponent* obj, TStream& stream) {
  classlib::TReader reader(stream);
  // Loaded objects never clash with names already under the owner.
  reader.OnSetName = [](classlib::TReader&, TComponent*, std::string& name) { name.clear(); };
  // An unknown property or one that fails to read is skipped.
  reader.OnError = [](classlib::TReader&, const std::u16string&, bool& handled) { handled = true; };
  if (obj->IsDesigning()) {
    reader.ReadRootComponent(obj);
    return;
  }
  obj->SetDesigning(true, false);
  try {
    reader.ReadRootComponent(obj);
  } catch (...) {
    obj->SetDesigning(false, false);
    throw;
  }
  obj->SetDesigning(false, false);
}

TComponent* LoadObjectFromStream(TComponent* owner, TStream& stream) {
  TComponent* obj = nullptr;
  try {
    int64_t start = stream.Position();
    std::string className;
    {
      classlib::TReader reader(stream);
      reader.ReadSignature();
      uint8_t flags = 0;
      int32_t childPos = 0;
      reader.ReadPrefix(flags, childPos);
      className = reader.ReadStr();
    }
    classlib::TClass cls = classlib::GetClass(className);
    if (!cls || !cls->InheritsFrom(TComponent::StaticClass())) return nullptr;
    obj = static_cast<TComponent*>(cls->Create(owner));
    stream.SetPosition(start);
    ReadObjectFromStream(obj, stream);
    return obj;
  } catch (...) {
    // A read that fails leaves nothing half-built: the instance goes, and
    // with it its removal from the owner.
    try {
      classlib::Free(obj);
    } catch (...) {
    }
    return nullptr;
  }
}

TComponent* LoadObjectFromTextStream(TComponent* owner, TStream& stream) {
  try {
    classlib::TMemoryStream binary;
    classlib::ObjectTextToBinary(stream, binary);
    binary.SetPosition(0);
    return LoadObjectFromStream(owner, binary);
  } catch (...) {
    return nullptr;
  }
}

void SaveObjectToStream(TComponent* obj, TStream& stream) {
  classlib::TWriter writer(stream);
  writer.WriteRootComponent(obj);
}

void SaveObjectToTextStream(TComponent* obj, TStream& stream) {
  classlib::TMemoryStream binary;
  SaveObjectToStream(obj, binary);
  binary.SetPosition(0);
  classlib::ObjectBinaryToText(binary, stream);
}

TComponent* CloneSceneObject(TComponent* source, TComponent* owner) {
  classlib::TMemoryStream mem;
  const std::string name = source->Name();
  source->SetName("");
  try {
    SaveObjectToStream(source, mem);
  } catch (...) {
    source->SetName(name);
    throw;
  }
  source->SetName(name);
  mem.SetPosition(0);
  auto* copy = static_cast<TComponent*>(source->ClassType()->Create(owner));
  if (copy) {
    try {
      ReadObjectFromStream(copy, mem);
    } catch (...) {
      classlib::Free(copy);
      throw;
    }
  }
  return copy;
}

}  // namespace kelm::scene
