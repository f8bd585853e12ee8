// Registries of the scene library and object references in data values.
#include "scene/sg_classes.h"

#include <algorithm>
#include <memory>

#include "classlib/classdef.h"
#include "scene/sg_animations.h"
#include "scene/sg_bounds.h"
#include "scene/sg_effects.h"
#include "scene/sg_control.h"
#include "scene/sg_object.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"
#include "scene/sg_style.h"
#include "scene/sg_wide_strings.h"

namespace kelm::scene {

using classlib::TClass;
using classlib::TVariant;

namespace {
std::vector<TsgClassCategory>& Categories() {
  static std::vector<TsgClassCategory> list;
  return list;
}

std::vector<TsgObject*>& Objects() {
  static std::vector<TsgObject*> list = [] {
    std::vector<TsgObject*> v;
    v.reserve(100);
    return v;
  }();
  return list;
}

std::vector<IsgScene*>& Scenes() {
  static std::vector<IsgScene*> list;
  return list;
}

std::vector<classlib::TMethod>& IssuedMethods() {
  static std::vector<classlib::TMethod> list;
  return list;
}

bool StartsWith(const std::u16string& s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The digits after a five-character prefix as a list index; -1 when the
// text is not exactly prefix + up to ten decimal digits.
int64_t IndexAfterPrefix(const TVariant& value, std::u16string_view prefix) {
  if (value.VarType() != classlib::TVarType::varString) return -1;
  std::u16string s = value.ToString();
  if (!StartsWith(s, prefix) || s.size() == prefix.size() || s.size() > prefix.size() + 10)
    return -1;
  int64_t v = 0;
  for (size_t i = prefix.size(); i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return -1;
    v = v * 10 + (s[i] - u'0');
  }
  return v;
}
}  // namespace

void RegisterSceneClasses(const std::string& category, std::initializer_list<TClass> classes) {
  auto& list = Categories();
  for (TClass cls : classes) {
    list.push_back({category, cls});
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
      return classlib::CompareText(a.Category, b.Category) < 0;
    });
    classlib::RegisterClass(cls);
  }
}

const std::vector<TsgClassCategory>& SceneClassCategories() { return Categories(); }

void RegisterSceneCoreClasses() {
  classlib::RegisterClasses(
      {TsgBounds::StaticClass(), TsgPosition::StaticClass(), TsgObject::StaticClass(),
       TsgWideStrings::StaticClass(), TsgWideStringList::StaticClass(), TsgPathData::StaticClass(),
       TsgBrush::StaticClass(), TsgGradient::StaticClass(), TsgGradientPoints::StaticClass(),
       TsgGradientPoint::StaticClass(), TsgFont::StaticClass(), TsgBitmap::StaticClass(),
       TsgBrushObject::StaticClass(), TsgPathObject::StaticClass(), TsgBitmapObject::StaticClass(),
       TsgBrushBitmap::StaticClass(), TsgVisual::StaticClass()});
  RegisterAnimationClasses();
  RegisterEffectClasses();
  RegisterShapeClasses();
  RegisterControlClasses();
  RegisterStyleClasses();
}

// ---- global object list
void RegisterObject(TsgObject* obj) {
  if (!obj || obj->globalIndex_ >= 0) return;
  auto& list = Objects();
  obj->globalIndex_ = static_cast<int>(list.size());
  list.push_back(obj);
}

void UnregisterObject(TsgObject* obj) {
  if (!obj) return;
  auto& list = Objects();
  int i = obj->GlobalIndex();
  if (i >= 0 && i < static_cast<int>(list.size()) && list[static_cast<size_t>(i)] == obj)
    list[static_cast<size_t>(i)] = nullptr;
}

int GlobalObjectCount() { return static_cast<int>(Objects().size()); }

TsgObject* GlobalObject(int index) {
  auto& list = Objects();
  if (index < 0 || index >= static_cast<int>(list.size())) return nullptr;
  return list[static_cast<size_t>(index)];
}

TsgObject* FindGlobalResource(std::string_view name) {
  auto& list = Objects();
  for (size_t i = list.size(); i-- > 0;) {
    TsgObject* obj = list[i];
    if (obj && obj->Stored() && classlib::SameText(obj->ResourceName(), name)) return obj;
  }
  return nullptr;
}

// ---- scene list
void AddScene(IsgScene* scene) {
  auto& list = Scenes();
  if (scene && std::find(list.begin(), list.end(), scene) == list.end()) list.push_back(scene);
}

void RemoveScene(IsgScene* scene) {
  auto& list = Scenes();
  list.erase(std::remove(list.begin(), list.end(), scene), list.end());
}

const std::vector<IsgScene*>& SceneList() { return Scenes(); }

// ---- references
TVariant ObjectRefToVariant(TsgObject* obj) {
  if (!obj || obj->GlobalIndex() < 0) return TVariant(u"");
  return TVariant(u"sgobj" + classlib::IntToStr(obj->GlobalIndex()));
}

bool IsVariantObjectRef(const TVariant& value) {
  if (value.IsEmpty() || value.IsNull()) return false;
  return StartsWith(value.ToString(), u"sgobj");
}

TsgObject* VariantToObjectRef(const TVariant& value) {
  int64_t i = IndexAfterPrefix(value, u"sgobj");
  if (i < 0 || i >= GlobalObjectCount()) return nullptr;
  return GlobalObject(static_cast<int>(i));
}

TVariant MethodRefToVariant(const classlib::TMethod& method) {
  if (!method.Assigned()) return TVariant(u"");
  auto& list = IssuedMethods();
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].Code == method.Code && list[i].Data == method.Data)
      return TVariant(u"sgmet" + classlib::IntToStr(static_cast<int64_t>(i)));
  list.push_back(method);
  return TVariant(u"sgmet" + classlib::IntToStr(static_cast<int64_t>(list.size() - 1)));
}

bool IsVariantMethodRef(const TVariant& value) {
  return value.VarType() == classlib::TVarType::varString && StartsWith(value.ToString(), u"sgmet");
}

classlib::TMethod VariantToMethodRef(const TVariant& value) {
  int64_t i = IndexAfterPrefix(value, u"sgmet");
  auto& list = IssuedMethods();
  if (i < 0 || i >= static_cast<int64_t>(list.size())) return {};
  return list[static_cast<size_t>(i)];
}

}  // namespace kelm::scene
