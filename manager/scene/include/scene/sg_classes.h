// The scene library's registries (classes with designer categories, the
// global object list, the scene list), object references in data values,
// and the loaders, saver and clone that drive the class library's reader,
// writer and text converters.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/component.h"
#include "classlib/streams.h"
#include "classlib/variant.h"
#include "scene/sg_scene_intf.h"

namespace kelm::scene {

class TsgObject;

// ---- class registry with designer categories
struct TsgClassCategory {
  std::string Category;
  classlib::TClass Class = nullptr;
};
// For each class in order: listed under the category and registered with
// the class library's registry. The list stays sorted by category (without
// case); classes of one category keep their registration order.
void RegisterSceneClasses(const std::string& category,
                          std::initializer_list<classlib::TClass> classes);
const std::vector<TsgClassCategory>& SceneClassCategories();
// Registers the scene classes of this library's start-up table that exist;
// safe to call more than once.
void RegisterSceneCoreClasses();

// ---- global object list: entries are emptied, never removed or reused
void RegisterObject(TsgObject* obj);
void UnregisterObject(TsgObject* obj);
int GlobalObjectCount();
TsgObject* GlobalObject(int index);
// Latest first: a present, stored object whose ResourceName matches (ASCII
// case-insensitive).
TsgObject* FindGlobalResource(std::string_view name);

// ---- scene list
void AddScene(IsgScene* scene);
void RemoveScene(IsgScene* scene);
const std::vector<IsgScene*>& SceneList();

// ---- object and method references in data values
// "sgobj" and the object's index in the global object list.
classlib::TVariant ObjectRefToVariant(TsgObject* obj);
bool IsVariantObjectRef(const classlib::TVariant& value);
// The live object the text names, or none.
TsgObject* VariantToObjectRef(const classlib::TVariant& value);
// "sgmet" and the number of an issued method: only methods issued here
// travel, so no text becomes an address.
classlib::TVariant MethodRefToVariant(const classlib::TMethod& method);
bool IsVariantMethodRef(const classlib::TVariant& value);
// An issued method, or the empty method.
classlib::TMethod VariantToMethodRef(const classlib::TVariant& value);

// ---- streaming. Loaders never raise: any failure gives none and leaves
// nothing behind.
classlib::TComponent* LoadObjectFromStream(classlib::TComponent* owner, classlib::TStream& stream);
classlib::TComponent* LoadObjectFromTextStream(classlib::TComponent* owner,
                                               classlib::TStream& stream);
void SaveObjectToStream(classlib::TComponent* obj, classlib::TStream& stream);
void SaveObjectToTextStream(classlib::TComponent* obj, classlib::TStream& stream);
// Raises what the writer or a constructor raises; reader errors are skipped.
classlib::TComponent* CloneSceneObject(classlib::TComponent* source, classlib::TComponent* owner);
// Names read are cleared and reader errors skipped; the object (not what it
// owns) is in design state while it is read.
void ReadObjectFromStream(classlib::TComponent* obj, classlib::TStream& stream);

}  // namespace kelm::scene
