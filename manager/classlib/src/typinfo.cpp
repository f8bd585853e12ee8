#include "classlib/typinfo.h"

#include <map>
#include <vector>

#include "classlib/object.h"
#include "classlib/sysutils.h"

namespace classlib {

int TTypeInfo::GetEnumValue(std::string_view name) const {
  for (size_t i = 0; i < Names.size(); ++i)
    if (SameText(Names[i], name)) return static_cast<int>(i);
  return -1;
}

std::string TTypeInfo::GetEnumName(int64_t value) const {
  if (value < 0 || static_cast<uint64_t>(value) >= Names.size()) return {};
  return Names[static_cast<size_t>(value)];
}

TTypeInfo EnumTypeInfo(std::string name, std::initializer_list<const char*> names) {
  TTypeInfo t;
  t.Kind = TTypeKind::Enumeration;
  t.Name = std::move(name);
  for (const char* n : names) t.Names.emplace_back(n);
  t.MinValue = 0;
  t.MaxValue = static_cast<int64_t>(t.Names.size()) - 1;
  return t;
}

TTypeInfo SetTypeInfo(std::string name, const TTypeInfo* memberType) {
  TTypeInfo t;
  t.Kind = TTypeKind::Set;
  t.Name = std::move(name);
  t.CompType = memberType;
  return t;
}

TTypeInfo IntTypeInfo(std::string name, int64_t minValue, int64_t maxValue) {
  TTypeInfo t;
  t.Kind = TTypeKind::Integer;
  t.Name = std::move(name);
  t.MinValue = minValue;
  t.MaxValue = maxValue;
  return t;
}

namespace {
TTypeInfo MakeKind(TTypeKind kind, const char* name, TFloatType ft = TFloatType::Double) {
  TTypeInfo t;
  t.Kind = kind;
  t.Name = name;
  t.FloatType = ft;
  return t;
}
}  // namespace

const TTypeInfo TypeInfo_Integer = IntTypeInfo("Integer");
const TTypeInfo TypeInfo_Cardinal = IntTypeInfo("Cardinal", 0, UINT32_MAX);
const TTypeInfo TypeInfo_Int64 = [] {
  TTypeInfo t = MakeKind(TTypeKind::Int64, "Int64");
  t.MinValue = INT64_MIN;
  t.MaxValue = INT64_MAX;
  return t;
}();
const TTypeInfo TypeInfo_Boolean = EnumTypeInfo("Boolean", {"False", "True"});
const TTypeInfo TypeInfo_Single = MakeKind(TTypeKind::Float, "Single", TFloatType::Single);
const TTypeInfo TypeInfo_Double = MakeKind(TTypeKind::Float, "Double", TFloatType::Double);
const TTypeInfo TypeInfo_Extended = MakeKind(TTypeKind::Float, "Extended", TFloatType::Extended);
const TTypeInfo TypeInfo_Currency = MakeKind(TTypeKind::Float, "Currency", TFloatType::Currency);
const TTypeInfo TypeInfo_TDateTime = MakeKind(TTypeKind::Float, "TDateTime", TFloatType::Date);
const TTypeInfo TypeInfo_String = MakeKind(TTypeKind::String, "string");
const TTypeInfo TypeInfo_WideString = MakeKind(TTypeKind::WString, "WideString");

bool TPropInfo::Writable() const {
  switch (Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64:
    case TTypeKind::Enumeration:
    case TTypeKind::Set:
      return static_cast<bool>(SetOrd);
    case TTypeKind::Float:
      return static_cast<bool>(SetFloat);
    case TTypeKind::String:
      return static_cast<bool>(SetStr);
    case TTypeKind::WString:
      return static_cast<bool>(SetWStr);
    case TTypeKind::Class:
      return static_cast<bool>(SetObj);
    case TTypeKind::Method:
      return static_cast<bool>(SetMethod);
    default:
      return false;
  }
}

bool TPropInfo::IsStored(TObject* instance) const {
  if (StoredFn) return StoredFn(instance);
  return StoredConst;
}

TClassInfo::TClassInfo(const char* name, TClass (*parent)(), Factory factory, Definer definer)
    : name_(name), parentFn_(parent), factory_(factory), definer_(definer) {}

bool TClassInfo::InheritsFrom(TClass ancestor) const {
  for (TClass c = this; c; c = c->ClassParent())
    if (c == ancestor) return true;
  return false;
}

TObject* TClassInfo::Create(TObject* arg) const {
  if (!factory_) throw EInvalidCast(Format(u"Cannot create an instance of %s", {name_}));
  TObject* obj = factory_(arg);
  try {
    obj->AfterConstruction();
  } catch (...) {
    FreeAfterFailedConstruction(obj);
    throw;
  }
  return obj;
}

void TClassInfo::Build() const {
  std::call_once(built_, [this] {
    if (TClass parent = ClassParent()) allProps_ = parent->Properties();
    if (definer_) definer_(const_cast<TClassInfo&>(*this));
    for (auto& p : ownProps_) {
      // A redeclared property replaces the inherited one in place.
      bool replaced = false;
      for (auto& q : allProps_)
        if (SameText(q->Name, p->Name)) {
          q = p.get();
          replaced = true;
        }
      if (!replaced) allProps_.push_back(p.get());
    }
  });
}

const std::vector<const TPropInfo*>& TClassInfo::Properties() const {
  Build();
  return allProps_;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TPropInfo* p : Properties())
    if (SameText(p->Name, name)) return p;
  return nullptr;
}

const TMethodEntry* TClassInfo::FindMethod(std::string_view name) const {
  for (TClass c = this; c; c = c->ClassParent()) {
    c->Build();
    for (const auto& m : c->ownMethods_)
      if (SameText(m.Name, name)) return &m;
  }
  return nullptr;
}

const TMethodEntry* TClassInfo::FindMethodByCode(TMethodCode code) const {
  if (!code) return nullptr;
  for (TClass c = this; c; c = c->ClassParent()) {
    c->Build();
    for (const auto& m : c->ownMethods_)
      if (m.Code == code) return &m;
  }
  return nullptr;
}

TPropInfo& TClassInfo::AddProperty(std::unique_ptr<TPropInfo> prop) {
  prop->Owner = this;
  ownProps_.push_back(std::move(prop));
  return *ownProps_.back();
}

void TClassInfo::AddMethod(TMethodEntry entry) { ownMethods_.push_back(std::move(entry)); }

// ---- registry
namespace {
std::vector<TClass>& Registry() {
  static std::vector<TClass> classes;
  return classes;
}
}  // namespace

void RegisterClass(TClass cls) {
  if (!cls) return;
  for (TClass c : Registry())
    if (c == cls) return;
  Registry().push_back(cls);
}

void RegisterClasses(std::initializer_list<TClass> classes) {
  for (TClass c : classes) RegisterClass(c);
}

void UnRegisterClass(TClass cls) {
  auto& r = Registry();
  for (auto it = r.begin(); it != r.end(); ++it)
    if (*it == cls) {
      r.erase(it);
      return;
    }
}

TClass GetClass(std::string_view name) {
  for (TClass c : Registry())
    if (SameText(c->ClassName(), name)) return c;
  return nullptr;
}

TClass FindClass(std::string_view name) {
  TClass c = GetClass(name);
  if (!c) throw EClassNotFound(Format(u"Class %s not found", {std::string(name)}));
  return c;
}

const TPropInfo* GetPropInfo(TObject* instance, std::string_view name) {
  return instance ? instance->ClassType()->FindProperty(name) : nullptr;
}

const TPropInfo* FindPropPath(TObject* instance, std::string_view path, TObject** target) {
  TObject* obj = instance;
  while (obj) {
    size_t dot = path.find('.');
    const TPropInfo* p = GetPropInfo(obj, path.substr(0, dot));
    if (!p) return nullptr;
    if (dot == std::string_view::npos) {
      if (target) *target = obj;
      return p;
    }
    if (p->Kind() != TTypeKind::Class || !p->GetObj) return nullptr;
    obj = p->GetObj(obj);
    path = path.substr(dot + 1);
  }
  return nullptr;
}

// ---- TObject
TClass TObject::StaticClass() {
  static const TClassInfo info("TObject", nullptr, nullptr, nullptr);
  return &info;
}

bool TObject::GetInterface(const TGUID&, void** obj) {
  if (obj) *obj = nullptr;
  return false;
}

TMethodCode TObject::MethodAddress(std::string_view name) const {
  const TMethodEntry* m = ClassType()->FindMethod(name);
  return m ? m->Code : nullptr;
}

std::string TObject::MethodName(TMethodCode code) const {
  const TMethodEntry* m = ClassType()->FindMethodByCode(code);
  return m ? m->Name : std::string();
}

void Free(TObject* obj) {
  if (!obj) return;
  obj->BeforeDestruction();
  obj->ReleaseLinks();
  delete obj;
}

void FreeAfterFailedConstruction(TObject* obj) {
  // The object never reached its user; a second failure must not mask the
  // first, so teardown errors are dropped here.
  try {
    Free(obj);
  } catch (...) {
  }
}

bool Supports(TObject* obj, const TGUID& iid, void** intf) {
  if (intf) *intf = nullptr;
  return obj && obj->GetInterface(iid, intf);
}

}  // namespace classlib
