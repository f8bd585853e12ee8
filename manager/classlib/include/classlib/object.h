// The root of the object model: TObject, two-phase construction and
// destruction, sets and method-pointer events.
//
// Construction: objects are made with New<T>(args...) or through their
// metaclass (TClassInfo::Create); both run every C++ constructor and then
// the overridable AfterConstruction, where virtual dispatch reaches the
// final class. Destruction: Free(obj) runs the overridable BeforeDestruction
// while the whole object is alive, then the library's own teardown
// (components: notifications and owned components), then deletes.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>

#include "classlib/sysutils.h"
#include "classlib/typinfo.h"

namespace classlib {

template <class T>
class ClassDef;

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0, D3 = 0;
  uint8_t D4[8] = {};
  bool operator==(const TGUID& o) const {
    return D1 == o.D1 && D2 == o.D2 && D3 == o.D3 && std::memcmp(D4, o.D4, 8) == 0;
  }
  bool operator!=(const TGUID& o) const { return !(*this == o); }
};

// Declares the class-identity members; put first in every class body.
#define CL_DECLARE_CLASS(Cls, Base)                                            \
 public:                                                                       \
  using inherited = Base;                                                      \
  static ::classlib::TClass StaticClass();                                     \
  ::classlib::TClass ClassType() const override { return Cls::StaticClass(); } \
                                                                               \
 private:                                                                      \
  static void DefineClass(::classlib::ClassDef<Cls>& c);

class TObject {
 public:
  using inherited = void;
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  static TClass StaticClass();
  virtual TClass ClassType() const { return StaticClass(); }
  const std::string& ClassName() const { return ClassType()->ClassName(); }
  bool InheritsFrom(TClass cls) const { return ClassType()->InheritsFrom(cls); }

  // Runs after the last constructor of the chain, before the object is
  // handed out.
  virtual void AfterConstruction() {}
  // Runs first in Free, while every part of the object is alive.
  virtual void BeforeDestruction() {}

  // Interface query by GUID: fills *obj and answers true when supported.
  virtual bool GetInterface(const TGUID& iid, void** obj);

  // Published methods of this object's class.
  TMethodCode MethodAddress(std::string_view name) const;
  std::string MethodName(TMethodCode code) const;

 protected:
  // The library's teardown after BeforeDestruction (components, collection
  // items). Not for class authors: override BeforeDestruction instead.
  virtual void ReleaseLinks() {}
  friend void Free(TObject* obj);
};

// Frees an object; none does nothing.
void Free(TObject* obj);
template <class T>
void FreeAndNil(T*& obj) {
  T* o = obj;
  obj = nullptr;
  Free(o);
}

// Frees an instance whose AfterConstruction failed and passes the error on.
void FreeAfterFailedConstruction(TObject* obj);

template <class T, class... A>
T* New(A&&... args) {
  T* obj = new T(std::forward<A>(args)...);
  try {
    obj->AfterConstruction();
  } catch (...) {
    FreeAfterFailedConstruction(obj);
    throw;
  }
  return obj;
}

bool Supports(TObject* obj, const TGUID& iid, void** intf);

// ---- sets of at most 32 members: bit n is ordinal n
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E e : members) bits_ |= Bit(e);
  }
  static constexpr TSet FromInt(uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr uint32_t ToInt() const { return bits_; }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  TSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  TSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr TSet operator+(TSet o) const { return FromInt(bits_ | o.bits_); }
  constexpr TSet operator-(TSet o) const { return FromInt(bits_ & ~o.bits_); }
  constexpr TSet operator*(TSet o) const { return FromInt(bits_ & o.bits_); }
  TSet& operator+=(TSet o) { return *this = *this + o; }
  TSet& operator-=(TSet o) { return *this = *this - o; }
  constexpr bool operator==(TSet o) const { return bits_ == o.bits_; }
  constexpr bool operator!=(TSet o) const { return bits_ != o.bits_; }

 private:
  static constexpr uint32_t Bit(E e) { return uint32_t(1) << static_cast<unsigned>(e); }
  uint32_t bits_ = 0;
};

// ---- events: method pointers tested for assignment before every call
template <class... Args>
class TEvent {
 public:
  using Thunk = void (*)(TObject*, Args...);
  TEvent() = default;
  TEvent(std::nullptr_t) {}
  TEvent(TObject* data, Thunk code) : data_(data), code_(code) {}

  explicit operator bool() const { return code_ != nullptr; }
  bool Assigned() const { return code_ != nullptr; }
  // Call only when assigned.
  void operator()(Args... args) const { code_(data_, std::forward<Args>(args)...); }
  // Two events are equal when their code is (the object is not compared).
  bool operator==(const TEvent& o) const { return code_ == o.code_; }
  bool operator!=(const TEvent& o) const { return code_ != o.code_; }
  TObject* Data() const { return data_; }

  TMethod ToMethod() const { return {data_, reinterpret_cast<TMethodCode>(code_)}; }
  static TEvent FromMethod(const TMethod& m) {
    return TEvent(m.Data, reinterpret_cast<Thunk>(m.Code));
  }
  // Identity of the signature, matched when a stream binds a handler.
  static const void* Tag() {
    static const char tag = 0;
    return &tag;
  }

 private:
  TObject* data_ = nullptr;
  Thunk code_ = nullptr;
};

template <auto M>
struct MethodThunk;
template <class C, class... A, void (C::*M)(A...)>
struct MethodThunk<M> {
  using Class = C;
  using Event = TEvent<A...>;
  static void Call(TObject* data, A... args) {
    (static_cast<C*>(data)->*M)(std::forward<A>(args)...);
  }
};

// Binds a member function to an object: Button->OnClick = EventOf<&TForm1::ButtonClick>(this).
template <auto M>
typename MethodThunk<M>::Event EventOf(typename MethodThunk<M>::Class* obj) {
  return typename MethodThunk<M>::Event(obj, &MethodThunk<M>::Call);
}

using TNotifyEvent = TEvent<TObject*>;

}  // namespace classlib
