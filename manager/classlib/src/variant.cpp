#include "classlib/variant.h"

#include <cmath>

#include "classlib/codepage.h"
#include "classlib/datetime.h"
#include "classlib/object.h"

namespace classlib {

TVariant::TVariant(const std::string& v) : type_(TVarType::varString), s_(AnsiToWide(v)) {}

TVariant TVariant::Null() {
  TVariant v;
  v.type_ = TVarType::varNull;
  return v;
}

TVariant TVariant::Date(double d) {
  TVariant v(d);
  v.type_ = TVarType::varDate;
  return v;
}

std::u16string TVariant::ToString() const {
  switch (type_) {
    case TVarType::varEmpty:
    case TVarType::varNull:
      return {};
    case TVarType::varBoolean:
      return i_ ? u"True" : u"False";
    case TVarType::varInteger:
      return IntToStr(i_);
    case TVarType::varDouble:
      return FloatToStr(d_);
    case TVarType::varDate:
      return DateTimeToStr(d_);
    case TVarType::varString:
      return s_;
  }
  return {};
}

double TVariant::ToDateTime() const {
  if (type_ == TVarType::varString) return StrToDateTime(s_);
  return ToDouble();
}

double TVariant::ToDouble() const {
  switch (type_) {
    case TVarType::varBoolean:
    case TVarType::varInteger:
      return static_cast<double>(i_);
    case TVarType::varDouble:
    case TVarType::varDate:
      return d_;
    case TVarType::varString:
      return StrToFloat(s_);
    default:
      throw EVariantError(u"Could not convert variant to a number");
  }
}

int64_t TVariant::ToInt64() const {
  switch (type_) {
    case TVarType::varBoolean:
    case TVarType::varInteger:
      return i_;
    case TVarType::varDouble:
    case TVarType::varDate: {
      if (!(d_ > -9.2e18 && d_ < 9.2e18))
        throw EVariantError(u"Could not convert variant to an integer");
      // Halves go to even, as the platform's rounding does.
      return static_cast<int64_t>(std::nearbyint(d_));
    }
    case TVarType::varString: {
      int64_t v;
      if (TryStrToInt64(s_, v)) return v;
      double d = StrToFloat(s_);
      if (!(d > -9.2e18 && d < 9.2e18))
        throw EConvertError(u"Could not convert variant to an integer");
      return static_cast<int64_t>(std::nearbyint(d));
    }
    default:
      throw EVariantError(u"Could not convert variant to an integer");
  }
}

bool TVariant::ToBoolean() const {
  if (type_ == TVarType::varString) {
    if (WideCompareText(s_, u"True") == 0) return true;
    if (WideCompareText(s_, u"False") == 0) return false;
  }
  return ToInt64() != 0;
}

bool TVariant::operator==(const TVariant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case TVarType::varEmpty:
    case TVarType::varNull:
      return true;
    case TVarType::varBoolean:
    case TVarType::varInteger:
      return i_ == o.i_;
    case TVarType::varDouble:
    case TVarType::varDate:
      return d_ == o.d_;
    case TVarType::varString:
      return s_ == o.s_;
  }
  return false;
}

namespace {

const TPropInfo* Need(TObject* instance, std::string_view name) {
  const TPropInfo* p = GetPropInfo(instance, name);
  if (!p) throw EPropertyError(Format(u"Unknown property: %s", {std::string(name)}));
  return p;
}

bool IsOrd(TTypeKind k) {
  return k == TTypeKind::Integer || k == TTypeKind::Int64 || k == TTypeKind::Enumeration ||
         k == TTypeKind::Set;
}

[[noreturn]] void KindError(const TPropInfo* p) {
  throw EPropertyError(Format(u"Property %s is not of a suitable kind or is read-only", {p->Name}));
}

}  // namespace

int64_t GetOrdProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (!IsOrd(p->Kind())) KindError(p);
  return p->GetOrd(instance);
}

void SetOrdProp(TObject* instance, std::string_view name, int64_t value) {
  const TPropInfo* p = Need(instance, name);
  if (!IsOrd(p->Kind()) || !p->SetOrd) KindError(p);
  if (p->Kind() != TTypeKind::Set &&
      (value < p->PropType->MinValue || value > p->PropType->MaxValue))
    throw ERangeError(Format(u"Value %d out of range for %s", {value, p->Name}));
  p->SetOrd(instance, value);
}

double GetFloatProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Float) KindError(p);
  return p->GetFloat(instance);
}

void SetFloatProp(TObject* instance, std::string_view name, double value) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Float || !p->SetFloat) KindError(p);
  p->SetFloat(instance, value);
}

std::u16string GetStrProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() == TTypeKind::String) return AnsiToWide(p->GetStr(instance));
  if (p->Kind() == TTypeKind::WString) return p->GetWStr(instance);
  KindError(p);
}

void SetStrProp(TObject* instance, std::string_view name, const std::u16string& value) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() == TTypeKind::String && p->SetStr)
    p->SetStr(instance, WideToAnsi(value));
  else if (p->Kind() == TTypeKind::WString && p->SetWStr)
    p->SetWStr(instance, value);
  else
    KindError(p);
}

TObject* GetObjectProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Class) KindError(p);
  return p->GetObj(instance);
}

void SetObjectProp(TObject* instance, std::string_view name, TObject* value) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Class || !p->SetObj) KindError(p);
  p->SetObj(instance, value);
}

TMethod GetMethodProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Method) KindError(p);
  return p->GetMethod(instance);
}

void SetMethodProp(TObject* instance, std::string_view name, const TMethod& value) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Method || !p->SetMethod) KindError(p);
  p->SetMethod(instance, value);
}

std::string GetEnumProp(TObject* instance, std::string_view name) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Enumeration) KindError(p);
  return p->PropType->GetEnumName(p->GetOrd(instance));
}

void SetEnumProp(TObject* instance, std::string_view name, std::string_view value) {
  const TPropInfo* p = Need(instance, name);
  if (p->Kind() != TTypeKind::Enumeration || !p->SetOrd) KindError(p);
  int v = p->PropType->GetEnumValue(value);
  if (v < 0) throw EPropertyError(Format(u"Invalid property value: %s", {std::string(value)}));
  p->SetOrd(instance, v);
}

std::u16string GetPropText(TObject* instance, const TPropInfo* prop) {
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      int64_t v = prop->GetOrd(instance);
      std::string ident;
      if (prop->PropType->IntToIdent && prop->PropType->IntToIdent(v, ident))
        return AsciiToWide(ident);
      return IntToStr(v);
    }
    case TTypeKind::Enumeration:
      return AsciiToWide(prop->PropType->GetEnumName(prop->GetOrd(instance)));
    case TTypeKind::Float:
      return FloatToStr(prop->GetFloat(instance));
    case TTypeKind::String:
      return AnsiToWide(prop->GetStr(instance));
    case TTypeKind::WString:
      return prop->GetWStr(instance);
    default:
      return {};
  }
}

TVariant GetPropValue(TObject* instance, const TPropInfo* prop) {
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64:
    case TTypeKind::Set:
      return TVariant(prop->GetOrd(instance));
    case TTypeKind::Enumeration:
      if (prop->PropType->Name == "Boolean") return TVariant(prop->GetOrd(instance) != 0);
      return TVariant(AsciiToWide(prop->PropType->GetEnumName(prop->GetOrd(instance))));
    case TTypeKind::Float:
      if (prop->PropType->FloatType == TFloatType::Date)
        return TVariant::Date(prop->GetFloat(instance));
      return TVariant(prop->GetFloat(instance));
    case TTypeKind::String:
    case TTypeKind::WString:
      return TVariant(GetPropText(instance, prop));
    default:
      return TVariant();
  }
}

void SetPropValue(TObject* instance, const TPropInfo* prop, const TVariant& value) {
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      if (!prop->SetOrd) KindError(prop);
      int64_t v;
      std::string ident = WideToUtf8(value.ToString());
      if (value.VarType() == TVarType::varString && prop->PropType->IdentToInt &&
          prop->PropType->IdentToInt(ident, v)) {
      } else {
        v = value.ToInt64();
      }
      if (v < prop->PropType->MinValue || v > prop->PropType->MaxValue)
        throw ERangeError(Format(u"Value %d out of range for %s", {v, prop->Name}));
      prop->SetOrd(instance, v);
      return;
    }
    case TTypeKind::Enumeration: {
      if (!prop->SetOrd) KindError(prop);
      int64_t v;
      if (value.VarType() == TVarType::varString) {
        v = prop->PropType->GetEnumValue(WideToUtf8(value.ToString()));
        if (v < 0) v = value.ToInt64();
      } else {
        v = value.ToInt64();
      }
      if (v < prop->PropType->MinValue || v > prop->PropType->MaxValue)
        throw ERangeError(Format(u"Value %d out of range for %s", {v, prop->Name}));
      prop->SetOrd(instance, v);
      return;
    }
    case TTypeKind::Float:
      if (!prop->SetFloat) KindError(prop);
      prop->SetFloat(instance, value.ToDouble());
      return;
    case TTypeKind::String:
      if (!prop->SetStr) KindError(prop);
      prop->SetStr(instance, WideToAnsi(value.ToString()));
      return;
    case TTypeKind::WString:
      if (!prop->SetWStr) KindError(prop);
      prop->SetWStr(instance, value.ToString());
      return;
    default:
      return;
  }
}

}  // namespace classlib
