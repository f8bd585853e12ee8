// Run-time type information: metaclasses, published properties and
// published methods. Tables are built per class (see classdef.h) and walked
// ancestors first; names compare without case.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace classlib {

class TObject;
class TClassInfo;
using TClass = const TClassInfo*;

// A method pointer: the object and the code. Code is the address of a
// type-specific call thunk (events.h); equality of events compares it.
using TMethodCode = void (*)();
struct TMethod {
  TObject* Data = nullptr;
  TMethodCode Code = nullptr;
  bool Assigned() const { return Code != nullptr; }
};

enum class TTypeKind {
  Unknown,
  Integer,
  Enumeration,
  Float,
  String,
  WString,
  Set,
  Class,
  Method,
  Int64
};
enum class TFloatType { Single, Double, Extended, Currency, Date };

// The type of a published property.
struct TTypeInfo {
  TTypeKind Kind = TTypeKind::Unknown;
  std::string Name;
  // Integer: accepted range. Enumeration: 0..Names.size()-1.
  int64_t MinValue = INT32_MIN;
  int64_t MaxValue = INT32_MAX;
  std::vector<std::string> Names;       // enumeration member names, lowest first
  const TTypeInfo* CompType = nullptr;  // set: its member enumeration
  TFloatType FloatType = TFloatType::Double;
  TClass (*ClassFn)() = nullptr;   // class: declared class (resolved lazily)
  const void* EventTag = nullptr;  // method: signature identity
  // Integer types with names (colours, cursors): both or none.
  bool (*IdentToInt)(std::string_view ident, int64_t& value) = nullptr;
  bool (*IntToIdent)(int64_t value, std::string& ident) = nullptr;

  TClass ClassType() const { return ClassFn ? ClassFn() : nullptr; }
  // Name -> ordinal without case; -1 when unknown.
  int GetEnumValue(std::string_view name) const;
  // Ordinal -> name; empty when out of range.
  std::string GetEnumName(int64_t value) const;
};

TTypeInfo EnumTypeInfo(std::string name, std::initializer_list<const char*> names);
TTypeInfo SetTypeInfo(std::string name, const TTypeInfo* memberType);
TTypeInfo IntTypeInfo(std::string name, int64_t minValue = INT32_MIN, int64_t maxValue = INT32_MAX);

// Predefined types.
extern const TTypeInfo TypeInfo_Integer;   // signed 32 bits
extern const TTypeInfo TypeInfo_Cardinal;  // unsigned 32 bits
extern const TTypeInfo TypeInfo_Int64;
extern const TTypeInfo TypeInfo_Boolean;  // False, True
extern const TTypeInfo TypeInfo_Single;
extern const TTypeInfo TypeInfo_Double;
extern const TTypeInfo TypeInfo_Extended;
extern const TTypeInfo TypeInfo_Currency;    // stored as value * 10000
extern const TTypeInfo TypeInfo_TDateTime;   // a double, streamed as a date
extern const TTypeInfo TypeInfo_String;      // 8-bit
extern const TTypeInfo TypeInfo_WideString;  // UTF-16

// One published property. Accessors take the instance as TObject*; the
// builder in classdef.h wires them to getters, setters or fields.
struct TPropInfo {
  std::string Name;
  const TTypeInfo* PropType = nullptr;
  TClass Owner = nullptr;  // the class that declares it

  std::function<int64_t(TObject*)> GetOrd;
  std::function<void(TObject*, int64_t)> SetOrd;
  std::function<double(TObject*)> GetFloat;
  std::function<void(TObject*, double)> SetFloat;
  std::function<std::string(TObject*)> GetStr;
  std::function<void(TObject*, const std::string&)> SetStr;
  std::function<std::u16string(TObject*)> GetWStr;
  std::function<void(TObject*, const std::u16string&)> SetWStr;
  std::function<TObject*(TObject*)> GetObj;
  std::function<void(TObject*, TObject*)> SetObj;
  std::function<TMethod(TObject*)> GetMethod;
  std::function<void(TObject*, const TMethod&)> SetMethod;

  // Ordinal kinds: written only when different from Default; without a
  // default they are always written. Floats: FloatDefault (0 unless set).
  bool HasDefault = false;
  int64_t Default = 0;
  double FloatDefault = 0;
  bool StoredConst = true;
  std::function<bool(TObject*)> StoredFn;

  TTypeKind Kind() const { return PropType->Kind; }
  bool Writable() const;
  bool IsStored(TObject* instance) const;
};

// One published method: the name a stream uses and the call thunk.
struct TMethodEntry {
  std::string Name;
  TMethodCode Code = nullptr;
  const void* EventTag = nullptr;  // signature identity, as TTypeInfo::EventTag
};

// The metaclass. One static instance per class; its tables are filled on
// first use by the class's definition function (classdef.h).
class TClassInfo {
 public:
  using Factory = TObject* (*)(TObject* arg);
  using Definer = void (*)(TClassInfo& info);

  TClassInfo(const char* name, TClass (*parent)(), Factory factory, Definer definer);
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  const std::string& ClassName() const { return name_; }
  TClass ClassParent() const { return parentFn_ ? parentFn_() : nullptr; }
  bool InheritsFrom(TClass ancestor) const;
  bool CanCreate() const { return factory_ != nullptr; }
  // Virtual constructor: builds an instance of exactly this class with the
  // class's creation argument (a component's owner, a collection item's
  // collection; ignored otherwise), then runs AfterConstruction. Raises
  // EInvalidCast for a class that cannot be created.
  TObject* Create(TObject* arg = nullptr) const;

  // Every published property, ancestors first, in declaration order.
  const std::vector<const TPropInfo*>& Properties() const;
  const TPropInfo* FindProperty(std::string_view name) const;
  // Published methods, looked up through the ancestors.
  const TMethodEntry* FindMethod(std::string_view name) const;
  const TMethodEntry* FindMethodByCode(TMethodCode code) const;

  // Used by the definition functions only.
  TPropInfo& AddProperty(std::unique_ptr<TPropInfo> prop);
  void AddMethod(TMethodEntry entry);

 private:
  void Build() const;

  std::string name_;
  TClass (*parentFn_)();
  Factory factory_;
  Definer definer_;
  mutable std::once_flag built_;
  mutable std::vector<std::unique_ptr<TPropInfo>> ownProps_;
  mutable std::vector<TMethodEntry> ownMethods_;
  mutable std::vector<const TPropInfo*> allProps_;
};

// ---- the class registry: name -> class, compared without case
void RegisterClass(TClass cls);
void RegisterClasses(std::initializer_list<TClass> classes);
void UnRegisterClass(TClass cls);
TClass GetClass(std::string_view name);   // none when unknown
TClass FindClass(std::string_view name);  // raises EClassNotFound

// ---- access by name (instances of any class)
const TPropInfo* GetPropInfo(TObject* instance, std::string_view name);
// Walks "A.B.C" through object properties; the owner of the last step and
// its property, or none when a step is missing or not an object.
const TPropInfo* FindPropPath(TObject* instance, std::string_view path, TObject** target);

}  // namespace classlib
