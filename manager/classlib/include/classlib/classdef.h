// Defining a class: its metaclass, published properties and published
// methods. Used in the class's .cpp file:
//
//   CL_CLASS(TMyButton) {
//     c.Int("Width", &TMyButton::GetWidth, &TMyButton::SetWidth).Default(75);
//     c.Bool("Flat", &TMyButton::FFlat, &TMyButton::SetFlat).Default(false);
//     c.Event("OnClick", &TMyButton::FOnClick, &TMyButton::FOnClick);
//     c.Method<&TMyButton::DoNothing>("DoNothing");
//   }
//
// The header declares the class with CL_DECLARE_CLASS(TMyButton, TBase).
// See README.md beside the library for the conventions.
#pragma once

#include <limits>
#include <type_traits>
#include <utility>

#include "classlib/collection.h"
#include "classlib/component.h"
#include "classlib/object.h"
#include "classlib/typinfo.h"

namespace classlib {

namespace detail {

template <class T, class G>
decltype(auto) Fetch(T* o, G g) {
  if constexpr (std::is_member_function_pointer_v<G>)
    return (o->*g)();
  else
    return (o->*g);
}

template <class S>
struct SetterArg;
template <class C, class A>
struct SetterArg<void (C::*)(A)> {
  using type = std::decay_t<A>;
};
template <class C, class A>
struct SetterArg<A C::*> {
  using type = A;
};

template <class T, class S, class V>
void Store(T* o, S s, V&& v) {
  if constexpr (std::is_member_function_pointer_v<S>)
    (o->*s)(std::forward<V>(v));
  else
    o->*s = std::forward<V>(v);
}

template <class V>
int64_t ToOrd(const V& v) {
  if constexpr (std::is_enum_v<V> || std::is_integral_v<V>)
    return static_cast<int64_t>(v);
  else
    return static_cast<int64_t>(v.ToInt());
}

template <class V>
V FromOrd(int64_t o) {
  if constexpr (std::is_same_v<V, bool>)
    return o != 0;
  else if constexpr (std::is_enum_v<V> || std::is_integral_v<V>)
    return static_cast<V>(o);
  else
    return V::FromInt(static_cast<uint32_t>(o));
}

// Narrowing that stays defined for values beyond float's range (they come
// from streams): they become infinities, as the hardware conversion gives.
template <class A>
A NarrowFloat(double v) {
  if constexpr (std::is_same_v<A, float>) {
    if (v > 3.4028234663852886e38) return std::numeric_limits<float>::infinity();
    if (v < -3.4028234663852886e38) return -std::numeric_limits<float>::infinity();
  }
  return static_cast<A>(v);
}

template <class T>
TClassInfo::Factory FactoryFor() {
  if constexpr (std::is_abstract_v<T>) {
    return nullptr;
  } else if constexpr (std::is_constructible_v<T, TComponent*>) {
    return [](TObject* a) -> TObject* { return new T(static_cast<TComponent*>(a)); };
  } else if constexpr (std::is_constructible_v<T, TCollection*>) {
    return [](TObject* a) -> TObject* { return new T(static_cast<TCollection*>(a)); };
  } else if constexpr (std::is_default_constructible_v<T>) {
    return [](TObject*) -> TObject* { return new T(); };
  } else {
    return nullptr;
  }
}

template <class Ev>
const TTypeInfo* EventTypeInfo() {
  static const TTypeInfo info = [] {
    TTypeInfo t;
    t.Kind = TTypeKind::Method;
    t.Name = "TMethod";
    t.EventTag = Ev::Tag();
    return t;
  }();
  return &info;
}

}  // namespace detail

template <class T>
class PropBuilder {
 public:
  explicit PropBuilder(TPropInfo& p) : p_(p) {}
  PropBuilder& Default(int64_t v) {
    p_.HasDefault = true;
    p_.Default = v;
    return *this;
  }
  template <class E, class = std::enable_if_t<std::is_enum_v<E>>>
  PropBuilder& Default(E v) {
    return Default(static_cast<int64_t>(v));
  }
  template <class E>
  PropBuilder& Default(TSet<E> v) {
    return Default(static_cast<int64_t>(v.ToInt()));
  }
  PropBuilder& FloatDefault(double v) {
    p_.FloatDefault = v;
    return *this;
  }
  PropBuilder& NoDefault() {
    p_.HasDefault = false;
    return *this;
  }
  PropBuilder& Stored(bool stored) {
    p_.StoredConst = stored;
    p_.StoredFn = nullptr;
    return *this;
  }
  PropBuilder& Stored(bool (T::*pred)() const) {
    p_.StoredFn = [pred](TObject* o) { return (static_cast<T*>(o)->*pred)(); };
    return *this;
  }
  TPropInfo& Info() { return p_; }

 private:
  TPropInfo& p_;
};

template <class T>
class ClassDef {
 public:
  explicit ClassDef(TClassInfo& info) : info_(info) {}

  // Integer (colours, cursors and the like pass their own type).
  template <class G, class S>
  PropBuilder<T> Int(const char* name, G get, S set, const TTypeInfo* type = &TypeInfo_Integer) {
    return Ord(name, get, set, type);
  }
  template <class G, class S>
  PropBuilder<T> Enum(const char* name, G get, S set, const TTypeInfo* type) {
    return Ord(name, get, set, type);
  }
  template <class G, class S>
  PropBuilder<T> Bool(const char* name, G get, S set) {
    return Ord(name, get, set, &TypeInfo_Boolean);
  }
  template <class G, class S>
  PropBuilder<T> Set(const char* name, G get, S set, const TTypeInfo* type) {
    return Ord(name, get, set, type);
  }

  template <class G, class S>
  PropBuilder<T> Float(const char* name, G get, S set, const TTypeInfo* type = &TypeInfo_Double) {
    auto& p = Add(name, type);
    p.GetFloat = [get](TObject* o) {
      return static_cast<double>(detail::Fetch(static_cast<T*>(o), get));
    };
    if constexpr (!std::is_null_pointer_v<S>) {
      using A = typename detail::SetterArg<S>::type;
      p.SetFloat = [set](TObject* o, double v) {
        detail::Store(static_cast<T*>(o), set, detail::NarrowFloat<A>(v));
      };
    }
    return PropBuilder<T>(p);
  }

  template <class G, class S>
  PropBuilder<T> Str(const char* name, G get, S set) {
    auto& p = Add(name, &TypeInfo_String);
    p.GetStr = [get](TObject* o) { return std::string(detail::Fetch(static_cast<T*>(o), get)); };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetStr = [set](TObject* o, const std::string& v) {
        detail::Store(static_cast<T*>(o), set, v);
      };
    return PropBuilder<T>(p);
  }

  template <class G, class S>
  PropBuilder<T> WStr(const char* name, G get, S set) {
    auto& p = Add(name, &TypeInfo_WideString);
    p.GetWStr = [get](TObject* o) {
      return std::u16string(detail::Fetch(static_cast<T*>(o), get));
    };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetWStr = [set](TObject* o, const std::u16string& v) {
        detail::Store(static_cast<T*>(o), set, v);
      };
    return PropBuilder<T>(p);
  }

  // An object: an owned sub-object (assigned into by its setter) or a
  // reference to a component. The declared class is the getter's.
  template <class G, class S>
  PropBuilder<T> Object(const char* name, G get, S set) {
    using R = std::decay_t<decltype(detail::Fetch(std::declval<T*>(), get))>;
    using C = std::remove_pointer_t<R>;
    static_assert(std::is_base_of_v<TObject, C>, "object properties hold TObject descendants");
    auto type = std::make_unique<TTypeInfo>();
    type->Kind = TTypeKind::Class;
    type->Name = "class";
    type->ClassFn = &C::StaticClass;
    auto& p = Add(name, type.get());
    ownedTypes().push_back(std::move(type));
    p.GetObj = [get](TObject* o) -> TObject* { return detail::Fetch(static_cast<T*>(o), get); };
    if constexpr (!std::is_null_pointer_v<S>) {
      p.SetObj = [set](TObject* o, TObject* v) {
        if (v && !v->InheritsFrom(C::StaticClass()))
          throw EPropertyError(Format(u"Invalid property value: %s is not a %s",
                                      {v->ClassName(), C::StaticClass()->ClassName()}));
        detail::Store(static_cast<T*>(o), set, static_cast<C*>(v));
      };
    }
    return PropBuilder<T>(p);
  }

  template <class G, class S>
  PropBuilder<T> Event(const char* name, G get, S set) {
    using Ev = std::decay_t<decltype(detail::Fetch(std::declval<T*>(), get))>;
    auto& p = Add(name, detail::EventTypeInfo<Ev>());
    p.GetMethod = [get](TObject* o) { return detail::Fetch(static_cast<T*>(o), get).ToMethod(); };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetMethod = [set](TObject* o, const TMethod& m) {
        detail::Store(static_cast<T*>(o), set, Ev::FromMethod(m));
      };
    return PropBuilder<T>(p);
  }

  // A published method that streams may name as an event handler.
  template <auto M>
  void Method(const char* name) {
    TMethodEntry e;
    e.Name = name;
    e.Code = reinterpret_cast<TMethodCode>(&MethodThunk<M>::Call);
    e.EventTag = MethodThunk<M>::Event::Tag();
    info_.AddMethod(std::move(e));
  }

 private:
  template <class G, class S>
  PropBuilder<T> Ord(const char* name, G get, S set, const TTypeInfo* type) {
    using V = std::decay_t<decltype(detail::Fetch(std::declval<T*>(), get))>;
    auto& p = Add(name, type);
    p.GetOrd = [get](TObject* o) {
      return detail::ToOrd<V>(detail::Fetch(static_cast<T*>(o), get));
    };
    if constexpr (!std::is_null_pointer_v<S>) {
      using A = typename detail::SetterArg<S>::type;
      p.SetOrd = [set](TObject* o, int64_t v) {
        detail::Store(static_cast<T*>(o), set, detail::FromOrd<A>(v));
      };
    }
    return PropBuilder<T>(p);
  }

  TPropInfo& Add(const char* name, const TTypeInfo* type) {
    auto p = std::make_unique<TPropInfo>();
    p->Name = name;
    p->PropType = type;
    return info_.AddProperty(std::move(p));
  }

  // Class types of object properties live as long as the program.
  static std::vector<std::unique_ptr<TTypeInfo>>& ownedTypes() {
    static std::vector<std::unique_ptr<TTypeInfo>> types;
    return types;
  }

  TClassInfo& info_;
};

}  // namespace classlib

#define CL_CLASS(Cls)                                                               \
  ::classlib::TClass Cls::StaticClass() {                                           \
    static const ::classlib::TClassInfo info(#Cls, &Cls::inherited::StaticClass,    \
                                             ::classlib::detail::FactoryFor<Cls>(), \
                                             [](::classlib::TClassInfo& i) {        \
                                               ::classlib::ClassDef<Cls> d(i);      \
                                               Cls::DefineClass(d);                 \
                                             });                                    \
    return &info;                                                                   \
  }                                                                                 \
  void Cls::DefineClass([[maybe_unused]] ::classlib::ClassDef<Cls>& c)
