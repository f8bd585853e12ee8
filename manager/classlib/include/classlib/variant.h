// A small variant (empty, null, Boolean, integer, float, date-time, text)
// and property access by name through it.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/typinfo.h"

namespace classlib {

enum class TVarType { varEmpty, varNull, varBoolean, varInteger, varDouble, varDate, varString };

class TVariant {
 public:
  TVariant() = default;
  TVariant(bool v) : type_(TVarType::varBoolean), i_(v) {}
  TVariant(int v) : type_(TVarType::varInteger), i_(v) {}
  TVariant(int64_t v) : type_(TVarType::varInteger), i_(v) {}
  TVariant(double v) : type_(TVarType::varDouble), d_(v) {}
  TVariant(const char16_t* v) : type_(TVarType::varString), s_(v ? v : u"") {}
  TVariant(std::u16string v) : type_(TVarType::varString), s_(std::move(v)) {}
  // 8-bit text is accepted and widened through the code page.
  TVariant(const std::string& v);
  static TVariant Null();
  static TVariant Date(double v);

  TVarType VarType() const { return type_; }
  bool IsEmpty() const { return type_ == TVarType::varEmpty; }
  bool IsNull() const { return type_ == TVarType::varNull; }

  // Conversions; a text that is not a number raises EConvertError, and
  // empty or null raise EVariantError where a number is needed.
  std::u16string ToString() const;
  int64_t ToInt64() const;
  double ToDouble() const;
  bool ToBoolean() const;
  // Dates travel as text in the default format (DateTimeToStr).
  double ToDateTime() const;

  bool operator==(const TVariant& o) const;
  bool operator!=(const TVariant& o) const { return !(*this == o); }

 private:
  TVarType type_ = TVarType::varEmpty;
  int64_t i_ = 0;
  double d_ = 0;
  std::u16string s_;
};

// ---- published properties by name; an unknown name raises EPropertyError
int64_t GetOrdProp(TObject* instance, std::string_view name);
void SetOrdProp(TObject* instance, std::string_view name, int64_t value);
double GetFloatProp(TObject* instance, std::string_view name);
void SetFloatProp(TObject* instance, std::string_view name, double value);
std::u16string GetStrProp(TObject* instance, std::string_view name);  // either string kind
void SetStrProp(TObject* instance, std::string_view name, const std::u16string& value);
TObject* GetObjectProp(TObject* instance, std::string_view name);
void SetObjectProp(TObject* instance, std::string_view name, TObject* value);
TMethod GetMethodProp(TObject* instance, std::string_view name);
void SetMethodProp(TObject* instance, std::string_view name, const TMethod& value);
std::string GetEnumProp(TObject* instance, std::string_view name);
void SetEnumProp(TObject* instance, std::string_view name, std::string_view value);

// Any kind as text: enumerations by name, numbers, strings; empty for
// events, sets and objects.
std::u16string GetPropText(TObject* instance, const TPropInfo* prop);
// Any kind from a variant converted to the kind (enumerations accept a
// name or an ordinal). Objects and events are left alone.
void SetPropValue(TObject* instance, const TPropInfo* prop, const TVariant& value);
TVariant GetPropValue(TObject* instance, const TPropInfo* prop);

}  // namespace classlib
