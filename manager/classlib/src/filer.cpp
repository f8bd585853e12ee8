#include "classlib/filer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "classlib/classdef.h"
#include "classlib/codepage.h"
#include "classlib/collection.h"
#include "vh/checked.h"

namespace classlib {

namespace {

// Nesting of components, lists and collections a stream may use; deeper
// streams are refused rather than risking the stack.
constexpr int kMaxNesting = 200;

[[noreturn]] void InvalidValue() { throw EReadError(u"Invalid property value"); }

// One level of nesting for as long as it lives, also when reading fails.
class Nesting {
 public:
  explicit Nesting(int& depth) : depth_(depth) {
    if (depth_ >= kMaxNesting) throw EReadError(u"Stream nesting too deep");
    ++depth_;
  }
  ~Nesting() { --depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  int& depth_;
};

// Bytes after the tag of the values of fixed size; 0 for the others.
const uint8_t kFixedSize[kMaxValueType + 1] = {0, 0, 1, 2, 4, 10, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 4, 8,  8, 0, 8, 0, 8};

}  // namespace

// ---- 80-bit extended
void DoubleToExtended(double v, uint8_t out[10]) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  uint16_t sign = static_cast<uint16_t>((bits >> 63) << 15);
  int exp = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t frac = bits & ((uint64_t(1) << 52) - 1);
  uint64_t mant;
  uint16_t e;
  if (exp == 0 && frac == 0) {
    mant = 0;
    e = 0;
  } else if (exp == 0x7FF) {
    mant = (uint64_t(1) << 63) | (frac << 11);
    e = 0x7FFF;
  } else if (exp == 0) {
    // Subnormal double: normalise, extended has the range for it.
    int shift = 0;
    while (!(frac & (uint64_t(1) << 52))) {
      frac <<= 1;
      ++shift;
    }
    mant = frac << 11;
    e = static_cast<uint16_t>(1 - 1023 - shift + 16383);
  } else {
    mant = (uint64_t(1) << 63) | (frac << 11);
    e = static_cast<uint16_t>(exp - 1023 + 16383);
  }
  std::memcpy(out, &mant, 8);  // little-endian hosts only (x86, as the format)
  uint16_t se = static_cast<uint16_t>(sign | e);
  std::memcpy(out + 8, &se, 2);
}

double ExtendedToDouble(const uint8_t in[10]) {
  uint64_t mant;
  uint16_t se;
  std::memcpy(&mant, in, 8);
  std::memcpy(&se, in + 8, 2);
  bool neg = (se & 0x8000) != 0;
  int e = se & 0x7FFF;
  double r;
  if (e == 0x7FFF) {
    r = (mant << 1) == 0 ? std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::quiet_NaN();
  } else if (mant == 0) {
    r = 0.0;
  } else {
    // ldexp rounds to nearest; the mantissa is split to keep every bit.
    double hi = static_cast<double>(mant >> 11) * 2048.0;
    double lo = static_cast<double>(mant & 0x7FF);
    r = std::ldexp(hi + lo, e - 16383 - 63);
  }
  return neg ? -r : r;
}

// ---- TReader
// Watches the components a read makes, so a component freed during the
// read (by another's error path or setter) is never touched again.
class TReader::Watch final : public TComponent {
 public:
  explicit Watch(TReader& reader) : TComponent(nullptr), reader_(reader) {}
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) reader_.Forget(component);
  }

 private:
  TReader& reader_;
};

TReader::TReader(TStream& stream) : TFiler(stream) { watch_ = New<Watch>(*this); }

TReader::~TReader() {
  // Drop the watch's registrations quietly: the components it watched need
  // no notice about a helper of the reader.
  auto& watched = static_cast<TComponent*>(watch_)->freeNotifies_;
  while (!watched.empty()) watch_->RemoveFreeNotification(watched.back());
  Free(watch_);
}

void TReader::Forget(TComponent* component) {
  loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), component), loaded_.end());
  fixups_.erase(std::remove_if(fixups_.begin(), fixups_.end(),
                               [component](const Fixup& f) { return f.component == component; }),
                fixups_.end());
  if (current_ == component) current_ = nullptr;
}

bool TReader::Error(const std::u16string& message) {
  bool handled = false;
  if (OnError) OnError(*this, message, handled);
  return handled;
}

void TReader::CheckAvailable(uint64_t bytes) {
  int64_t left = stream_.Size() - stream_.Position();
  if (left < 0 || bytes > static_cast<uint64_t>(left)) throw EReadError(u"Stream read error");
}

uint32_t TReader::ReadU32() {
  uint8_t b[4];
  stream_.ReadBuffer(b, 4);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void TReader::ReadSignature() {
  char sig[4];
  stream_.ReadBuffer(sig, 4);
  if (std::memcmp(sig, "TPF0", 4) != 0) throw EReadError(u"Invalid stream format");
}

void TReader::ReadPrefix(uint8_t& flags, int32_t& childPos) {
  flags = 0;
  childPos = 0;
  uint8_t b;
  int64_t pos = stream_.Position();
  stream_.ReadBuffer(&b, 1);
  if ((b & 0xF0) != 0xF0) {
    stream_.SetPosition(pos);
    return;
  }
  flags = b & 0x0F;
  if (flags & ffChildPos) childPos = ReadInteger();
}

TValueType TReader::ReadValue() {
  uint8_t b;
  stream_.ReadBuffer(&b, 1);
  if (b > kMaxValueType) throw EReadError(u"Invalid stream format");
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  int64_t pos = stream_.Position();
  TValueType v = ReadValue();
  stream_.SetPosition(pos);
  return v;
}

void TReader::CheckValue(TValueType expected) {
  if (ReadValue() != expected) InvalidValue();
}

bool TReader::EndOfList() {
  // A raw peek: before a child the next byte is a prefix or a name length,
  // not a value tag.
  uint8_t b;
  int64_t pos = stream_.Position();
  stream_.ReadBuffer(&b, 1);
  stream_.SetPosition(pos);
  return b == 0;
}

void TReader::ReadListBegin() { CheckValue(TValueType::vaList); }

void TReader::ReadListEnd() { CheckValue(TValueType::vaNull); }

std::string TReader::ReadStr() {
  uint8_t len;
  stream_.ReadBuffer(&len, 1);
  std::string s(len, '\0');
  if (len) stream_.ReadBuffer(&s[0], len);
  return s;
}

int64_t TReader::ReadInt64() {
  TValueType t = ReadValue();
  switch (t) {
    case TValueType::vaInt8: {
      int8_t v;
      stream_.ReadBuffer(&v, 1);
      return v;
    }
    case TValueType::vaInt16: {
      uint8_t b[2];
      stream_.ReadBuffer(b, 2);
      return static_cast<int16_t>(uint16_t(b[0] | b[1] << 8));
    }
    case TValueType::vaInt32:
      return static_cast<int32_t>(ReadU32());
    case TValueType::vaInt64: {
      uint64_t lo = ReadU32();
      uint64_t hi = ReadU32();
      return static_cast<int64_t>(lo | hi << 32);
    }
    default:
      InvalidValue();
  }
}

int32_t TReader::ReadInteger() {
  int64_t v = ReadInt64();
  if (v < INT32_MIN || v > INT32_MAX) InvalidValue();
  return static_cast<int32_t>(v);
}

double TReader::ReadFloat() {
  switch (NextValue()) {
    case TValueType::vaExtended: {
      ReadValue();
      uint8_t b[10];
      stream_.ReadBuffer(b, 10);
      return ExtendedToDouble(b);
    }
    case TValueType::vaDouble:
    case TValueType::vaDate: {
      ReadValue();
      double d;
      stream_.ReadBuffer(&d, 8);
      return d;
    }
    case TValueType::vaSingle: {
      ReadValue();
      float f;
      stream_.ReadBuffer(&f, 4);
      return f;
    }
    case TValueType::vaCurrency:
      return static_cast<double>(ReadCurrency()) / 10000.0;
    default:
      return static_cast<double>(ReadInt64());
  }
}

float TReader::ReadSingle() {
  if (NextValue() == TValueType::vaSingle) {
    ReadValue();
    float f;
    stream_.ReadBuffer(&f, 4);
    return f;
  }
  double d = ReadFloat();
  if (d > 3.4028234663852886e38) return HUGE_VALF;
  if (d < -3.4028234663852886e38) return -HUGE_VALF;
  return static_cast<float>(d);
}

int64_t TReader::ReadCurrency() {
  if (NextValue() == TValueType::vaCurrency) {
    ReadValue();
    int64_t v;
    stream_.ReadBuffer(&v, 8);
    return v;
  }
  double d = std::nearbyint(ReadFloat() * 10000.0);
  if (!(d > -9.2e18 && d < 9.2e18)) InvalidValue();
  return static_cast<int64_t>(d);
}

double TReader::ReadDate() { return ReadFloat(); }

std::u16string TReader::ReadWideString() {
  TValueType t = ReadValue();
  switch (t) {
    case TValueType::vaString: {
      return AnsiToWide(ReadStr());
    }
    case TValueType::vaLString:
    case TValueType::vaUTF8String: {
      uint32_t n = ReadU32();
      CheckAvailable(n);
      std::string s(n, '\0');
      if (n) stream_.ReadBuffer(&s[0], n);
      return t == TValueType::vaUTF8String ? Utf8ToWide(s) : AnsiToWide(s);
    }
    case TValueType::vaWString: {
      uint32_t n = ReadU32();
      uint64_t bytes;
      if (!vh::CheckedMul<uint64_t>(n, 2, &bytes)) InvalidValue();
      CheckAvailable(bytes);
      std::u16string s(n, u'\0');
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t b[2];
        stream_.ReadBuffer(b, 2);
        s[i] = static_cast<char16_t>(b[0] | b[1] << 8);
      }
      return s;
    }
    default:
      InvalidValue();
  }
}

std::string TReader::ReadString() {
  switch (NextValue()) {
    case TValueType::vaString:
      ReadValue();
      return ReadStr();
    case TValueType::vaLString: {
      ReadValue();
      uint32_t n = ReadU32();
      CheckAvailable(n);
      std::string s(n, '\0');
      if (n) stream_.ReadBuffer(&s[0], n);
      return s;
    }
    default:
      return WideToAnsi(ReadWideString());
  }
}

std::string TReader::ReadIdent() {
  switch (ReadValue()) {
    case TValueType::vaIdent:
      return ReadStr();
    case TValueType::vaFalse:
      return "False";
    case TValueType::vaTrue:
      return "True";
    case TValueType::vaNil:
      return "nil";
    case TValueType::vaNull:
      return "Null";
    default:
      InvalidValue();
  }
}

bool TReader::ReadBoolean() {
  TValueType t = ReadValue();
  if (t == TValueType::vaTrue) return true;
  if (t == TValueType::vaFalse) return false;
  InvalidValue();
}

std::vector<uint8_t> TReader::ReadBinary() {
  CheckValue(TValueType::vaBinary);
  uint32_t n = ReadU32();
  CheckAvailable(n);
  std::vector<uint8_t> data(n);
  if (n) stream_.ReadBuffer(data.data(), n);
  return data;
}

void TReader::SkipValue() {
  auto skipBytes = [this](uint64_t n) {
    CheckAvailable(n);
    stream_.Seek(static_cast<int64_t>(n), TSeekOrigin::soCurrent);
  };
  TValueType t = ReadValue();
  if (uint8_t n = kFixedSize[static_cast<uint8_t>(t)]) {
    skipBytes(n);
    return;
  }
  switch (t) {
    case TValueType::vaList: {
      Nesting nest(depth_);
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      return;
    }
    case TValueType::vaString:
    case TValueType::vaIdent:
      ReadStr();
      return;
    case TValueType::vaLString:
    case TValueType::vaBinary:
    case TValueType::vaUTF8String:
      skipBytes(ReadU32());
      return;
    case TValueType::vaWString:
      skipBytes(uint64_t(ReadU32()) * 2);
      return;
    case TValueType::vaSet:
      while (!ReadStr().empty()) {
      }
      return;
    case TValueType::vaCollection: {
      Nesting nest(depth_);
      while (!EndOfList()) {
        TValueType n = NextValue();
        if (n == TValueType::vaInt8 || n == TValueType::vaInt16 || n == TValueType::vaInt32)
          ReadInteger();
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      return;
    }
    default:  // Null, False, True, nil: the tag is all
      return;
  }
}

void TReader::DefineProperty(const std::string& name, const TReaderProc& read, const TWriterProc&,
                             bool) {
  if (!propDone_ && read && SameText(name, propName_)) {
    read(*this);
    propDone_ = true;
  }
}

void TReader::DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                                   const TStreamProc&, bool) {
  if (!propDone_ && read && SameText(name, propName_)) {
    std::vector<uint8_t> data = ReadBinary();
    TMemoryStream m;
    if (!data.empty()) m.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    m.SetPosition(0);
    read(m);
    propDone_ = true;
  }
}

uint32_t TReader::ReadSet(const TTypeInfo* setType) {
  CheckValue(TValueType::vaSet);
  uint32_t bits = 0;
  for (;;) {
    std::string name = ReadStr();
    if (name.empty()) break;
    int v = setType->CompType ? setType->CompType->GetEnumValue(name) : -1;
    if (v < 0 || v > 31) InvalidValue();
    bits |= uint32_t(1) << v;
  }
  return bits;
}

void TReader::ReadPropValue(TPersistent* instance, const TPropInfo* prop) {
  const TTypeInfo* type = prop->PropType;
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      int64_t v;
      if (NextValue() == TValueType::vaIdent) {
        std::string ident = ReadIdent();
        if (!type->IdentToInt || !type->IdentToInt(ident, v)) InvalidValue();
      } else {
        v = ReadInt64();
      }
      if (v < type->MinValue || v > type->MaxValue) InvalidValue();
      if (!prop->SetOrd) InvalidValue();
      prop->SetOrd(instance, v);
      return;
    }
    case TTypeKind::Enumeration: {
      int v = type->GetEnumValue(ReadIdent());
      if (v < 0 || !prop->SetOrd) InvalidValue();
      prop->SetOrd(instance, v);
      return;
    }
    case TTypeKind::Set: {
      uint32_t bits = ReadSet(type);
      if (!prop->SetOrd) InvalidValue();
      prop->SetOrd(instance, bits);
      return;
    }
    case TTypeKind::Float: {
      double v = ReadFloat();
      if (!prop->SetFloat) InvalidValue();
      prop->SetFloat(instance, v);
      return;
    }
    case TTypeKind::String: {
      std::string v = ReadString();
      if (!prop->SetStr) InvalidValue();
      prop->SetStr(instance, v);
      return;
    }
    case TTypeKind::WString: {
      std::u16string v = ReadWideString();
      if (!prop->SetWStr) InvalidValue();
      prop->SetWStr(instance, v);
      return;
    }
    case TTypeKind::Class: {
      TValueType t = NextValue();
      if (t == TValueType::vaNil) {
        ReadValue();
        if (!prop->SetObj) InvalidValue();
        prop->SetObj(instance, nullptr);
      } else if (t == TValueType::vaCollection) {
        ReadValue();
        auto* coll = dynamic_cast<TCollection*>(prop->GetObj(instance));
        if (!coll) InvalidValue();
        ReadCollection(coll);
      } else if (t == TValueType::vaIdent) {
        std::string name = ReadIdent();
        TClass declared = type->ClassType();
        if (!prop->SetObj || !declared || !declared->InheritsFrom(TComponent::StaticClass()))
          InvalidValue();
        fixups_.push_back(Fixup{current_, instance, prop, name});
      } else {
        InvalidValue();
      }
      return;
    }
    case TTypeKind::Method: {
      if (NextValue() == TValueType::vaNil) {
        ReadValue();
        if (!prop->SetMethod) InvalidValue();
        prop->SetMethod(instance, TMethod{});
        return;
      }
      std::string name = ReadIdent();
      if (!prop->SetMethod) InvalidValue();
      TComponent* root = lookupRoot_ ? lookupRoot_ : root_;
      const TMethodEntry* m = root ? root->ClassType()->FindMethod(name) : nullptr;
      if (!m)
        throw EReadError(
            Format(u"Method %s not found in %s", {name, root ? root->ClassName() : "nil"}));
      if (m->EventTag != type->EventTag)
        throw EReadError(Format(u"Method %s does not match the event's parameters", {name}));
      prop->SetMethod(instance, TMethod{root, m->Code});
      return;
    }
    default:
      InvalidValue();
  }
}

void TReader::ReadPropertyPath(TPersistent* instance, const std::string& path) {
  TPersistent* target = instance;
  std::string_view rest = path;
  for (;;) {
    size_t dot = rest.find('.');
    std::string part(rest.substr(0, dot));
    const TPropInfo* prop = target->ClassType()->FindProperty(part);
    if (dot == std::string_view::npos) {
      if (prop) {
        ReadPropValue(target, prop);
        return;
      }
      // Not published: the object's custom properties may know it.
      propName_ = part;
      propDone_ = false;
      target->DefineProperties(*this);
      if (!propDone_) {
        SkipValue();
        throw EReadError(Format(u"Property %s does not exist", {path}));
      }
      return;
    }
    TObject* sub =
        (prop && prop->Kind() == TTypeKind::Class && prop->GetObj) ? prop->GetObj(target) : nullptr;
    auto* next = dynamic_cast<TPersistent*>(sub);
    if (!next) {
      SkipValue();
      throw EReadError(Format(u"Property %s does not exist", {path}));
    }
    target = next;
    rest = rest.substr(dot + 1);
  }
}

void TReader::ReadProperty(TPersistent* instance) {
  std::string name = ReadStr();
  int64_t valueStart = stream_.Position();
  try {
    ReadPropertyPath(instance, name);
  } catch (const Exception& e) {
    // The value is self-describing: skip it whole from its start, so a
    // half-read value cannot derail the rest. A stream too short for that
    // raises here and ends the read.
    stream_.SetPosition(valueStart);
    SkipValue();
    std::string who = current_
                          ? (current_->Name().empty() ? current_->ClassName() : current_->Name())
                          : instance->ClassName();
    std::u16string message = Format(u"Error reading %s.%s: %s", {who, name, e.Message()});
    if (!Error(message)) throw EReadError(message);
  }
}

void TReader::ReadCollection(TCollection* collection) {
  Nesting nest(depth_);
  collection->BeginUpdate();
  try {
    // References waiting in items about to go must not outlive them.
    fixups_.erase(std::remove_if(fixups_.begin(), fixups_.end(),
                                 [collection](const Fixup& f) {
                                   auto* item = dynamic_cast<TCollectionItem*>(f.instance);
                                   return item && item->Collection() == collection;
                                 }),
                  fixups_.end());
    collection->Clear();
    while (!EndOfList()) {
      TValueType n = NextValue();
      if (n == TValueType::vaInt8 || n == TValueType::vaInt16 || n == TValueType::vaInt32)
        ReadInteger();
      TCollectionItem* item = collection->Add();
      ReadListBegin();
      while (!EndOfList()) ReadProperty(item);
      ReadListEnd();
    }
    ReadListEnd();
  } catch (...) {
    collection->EndUpdate();
    throw;
  }
  collection->EndUpdate();
}

void TReader::ReadData(TComponent* instance) {
  TComponent* oldCurrent = current_;
  current_ = instance;
  while (!EndOfList()) ReadProperty(instance);
  ReadListEnd();
  current_ = oldCurrent;
  TComponent* oldParent = parent_;
  TComponent* oldOwner = owner_;
  parent_ = instance->GetChildParent();
  owner_ = instance->GetChildOwner();
  if (!owner_) owner_ = root_;
  try {
    while (!EndOfList()) ReadComponent(nullptr);
    ReadListEnd();
  } catch (...) {
    parent_ = oldParent;
    owner_ = oldOwner;
    throw;
  }
  parent_ = oldParent;
  owner_ = oldOwner;
}

TComponent* TReader::ReadComponent(TComponent* component) {
  Nesting nest(depth_);
  uint8_t flags;
  int32_t childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  std::string name = ReadStr();
  TComponent* result = component;
  if (!result) {
    TClass cls = FindClass(className);
    if (!cls->InheritsFrom(TComponent::StaticClass()))
      throw EReadError(Format(u"%s is not a component class", {className}));
    result = static_cast<TComponent*>(cls->Create(owner_ ? owner_ : root_));
  }
  try {
    result->state_ += TComponentState{csLoading, csReading};
    watch_->FreeNotification(result);
    loaded_.push_back(result);
    if (OnSetName) OnSetName(*this, result, name);
    result->SetName(name);
    if (parent_) result->SetParentComponent(parent_);
    result->ReadState(*this);
    result->state_.Exclude(csReading);
    if ((flags & ffChildPos) && parent_) parent_->SetChildOrder(result, childPos);
  } catch (...) {
    if (!component) {
      Forget(result);
      Free(result);
    }
    throw;
  }
  return result;
}

void TReader::ResolveFixups() {
  std::u16string firstError;
  while (!fixups_.empty()) {
    Fixup f = fixups_.front();
    fixups_.erase(fixups_.begin());
    TComponent* target = nullptr;
    size_t dot = f.name.find('.');
    if (dot == std::string::npos) {
      if (SameText(f.name, root_->Name()) || SameText(f.name, rootStreamName_))
        target = root_;
      else
        target = root_->FindComponent(f.name);
      if (!target) target = FindGlobalComponent(f.name);
    } else {
      std::string head = f.name.substr(0, dot);
      bool self = SameText(head, root_->Name()) || SameText(head, rootStreamName_);
      TComponent* form = self ? root_ : FindGlobalComponent(head);
      if (form) target = form->FindComponent(f.name.substr(dot + 1));
    }
    TClass declared = f.prop->PropType->ClassType();
    std::u16string problem;
    if (!target)
      problem = Format(u"Unresolved reference to %s", {f.name});
    else if (declared && !target->InheritsFrom(declared))
      problem = Format(u"%s is not a %s", {f.name, declared->ClassName()});
    if (problem.empty()) {
      try {
        f.prop->SetObj(f.instance, target);
      } catch (const Exception& e) {
        problem = e.Message();
      }
    }
    if (!problem.empty()) {
      std::u16string msg = Format(u"Error reading %s: %s", {f.prop->Name, problem});
      if (!Error(msg) && firstError.empty()) firstError = msg;
    }
  }
  if (!firstError.empty()) throw EReadError(firstError);
}

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  uint8_t flags;
  int32_t childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  bool created = false;
  if (!root) {
    TClass cls = FindClass(className);
    if (!cls->InheritsFrom(TComponent::StaticClass()))
      throw EReadError(Format(u"%s is not a component class", {className}));
    root = static_cast<TComponent*>(cls->Create(nullptr));
    created = true;
  }
  root_ = root;
  lookupRoot_ = root;
  owner_ = root;
  loaded_.clear();
  fixups_.clear();
  try {
    watch_->FreeNotification(root);
    root->state_ += TComponentState{csLoading, csReading};
    loaded_.push_back(root);
    std::string name = ReadStr();
    rootStreamName_ = name;
    // A root in design state keeps its name, as a designer names it.
    if (!root->IsDesigning()) {
      if (OnSetName) OnSetName(*this, root, name);
      if (TComponent* owner = root->Owner(); owner && !name.empty()) {
        // Another instance of the same stored form: take the next free name.
        std::string base = name;
        for (int i = 1; owner->FindComponent(name) && owner->FindComponent(name) != root; ++i)
          name = base + "_" + std::to_string(i);
      }
      root->SetName(name);
    }
    current_ = root;
    root->ReadState(*this);
    root->state_.Exclude(csReading);
    ResolveFixups();
  } catch (...) {
    for (TComponent* c : loaded_) c->state_ -= TComponentState{csLoading, csReading};
    loaded_.clear();
    fixups_.clear();
    if (created) Free(root);
    throw;
  }
  // Loaded in reading order, root first; a component freed by another's
  // Loaded drops out of the list through the watch.
  std::vector<TComponent*> order = loaded_;
  for (TComponent* c : order) {
    if (std::find(loaded_.begin(), loaded_.end(), c) == loaded_.end()) continue;
    c->state_.Exclude(csReading);
    c->Loaded();
  }
  loaded_.clear();
  return root;
}

// ---- TWriter
TWriter::TWriter(TStream& stream) : TFiler(stream) {}

void TWriter::WriteU32(uint32_t v) {
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  stream_.WriteBuffer(b, 4);
}

void TWriter::WriteSignature() { stream_.WriteBuffer("TPF0", 4); }

void TWriter::WritePrefix(uint8_t flags, int32_t childPos) {
  if (!flags) return;
  uint8_t b = static_cast<uint8_t>(0xF0 | (flags & 0x0F));
  stream_.WriteBuffer(&b, 1);
  if (flags & ffChildPos) WriteInteger(childPos);
}

void TWriter::WriteValue(TValueType v) {
  uint8_t b = static_cast<uint8_t>(v);
  stream_.WriteBuffer(&b, 1);
}

void TWriter::WriteStr(const std::string& s) {
  if (s.size() > 255) throw EWriteError(Format(u"Name too long: %s", {s.substr(0, 64)}));
  uint8_t len = static_cast<uint8_t>(s.size());
  stream_.WriteBuffer(&len, 1);
  if (len) stream_.WriteBuffer(s.data(), len);
}

void TWriter::WriteInteger(int64_t v) {
  if (v >= -128 && v <= 127) {
    WriteValue(TValueType::vaInt8);
    int8_t b = static_cast<int8_t>(v);
    stream_.WriteBuffer(&b, 1);
  } else if (v >= -32768 && v <= 32767) {
    WriteValue(TValueType::vaInt16);
    uint16_t u = static_cast<uint16_t>(v);
    uint8_t b[2] = {uint8_t(u), uint8_t(u >> 8)};
    stream_.WriteBuffer(b, 2);
  } else if (v >= INT32_MIN && v <= INT32_MAX) {
    WriteValue(TValueType::vaInt32);
    WriteU32(static_cast<uint32_t>(v));
  } else {
    WriteValue(TValueType::vaInt64);
    uint64_t u = static_cast<uint64_t>(v);
    WriteU32(static_cast<uint32_t>(u));
    WriteU32(static_cast<uint32_t>(u >> 32));
  }
}

void TWriter::WriteFloat(double v) {
  WriteValue(TValueType::vaExtended);
  uint8_t b[10];
  DoubleToExtended(v, b);
  stream_.WriteBuffer(b, 10);
}

void TWriter::WriteSingle(float v) {
  WriteValue(TValueType::vaSingle);
  stream_.WriteBuffer(&v, 4);
}

void TWriter::WriteDouble(double v) {
  WriteValue(TValueType::vaDouble);
  stream_.WriteBuffer(&v, 8);
}

void TWriter::WriteCurrency(int64_t scaled) {
  WriteValue(TValueType::vaCurrency);
  stream_.WriteBuffer(&scaled, 8);
}

void TWriter::WriteDate(double v) {
  WriteValue(TValueType::vaDate);
  stream_.WriteBuffer(&v, 8);
}

void TWriter::WriteString(const std::string& s) {
  if (s.size() <= 255) {
    WriteValue(TValueType::vaString);
    WriteStr(s);
    return;
  }
  if (s.size() > UINT32_MAX) throw EWriteError(u"String too long");
  WriteValue(TValueType::vaLString);
  WriteU32(static_cast<uint32_t>(s.size()));
  stream_.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void TWriter::WriteWideString(const std::u16string& s) {
  if (s.size() > UINT32_MAX / 2) throw EWriteError(u"String too long");
  WriteValue(TValueType::vaWString);
  WriteU32(static_cast<uint32_t>(s.size()));
  std::string bytes;
  bytes.reserve(s.size() * 2);
  for (char16_t c : s) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  stream_.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TWriter::WriteUTF8String(const std::string& s) {
  if (s.size() > UINT32_MAX) throw EWriteError(u"String too long");
  WriteValue(TValueType::vaUTF8String);
  WriteU32(static_cast<uint32_t>(s.size()));
  stream_.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void TWriter::WriteIdent(const std::string& ident) {
  if (SameText(ident, "False")) {
    WriteValue(TValueType::vaFalse);
  } else if (SameText(ident, "True")) {
    WriteValue(TValueType::vaTrue);
  } else if (SameText(ident, "nil")) {
    WriteValue(TValueType::vaNil);
  } else if (SameText(ident, "Null")) {
    WriteValue(TValueType::vaNull);
  } else {
    WriteValue(TValueType::vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteBinary(const void* data, uint32_t size) {
  WriteValue(TValueType::vaBinary);
  WriteU32(size);
  if (size) stream_.WriteBuffer(data, size);
}

void TWriter::WritePropName(const std::string& name) { WriteStr(propPath_ + name); }

void TWriter::DefineProperty(const std::string& name, const TReaderProc&, const TWriterProc& write,
                             bool hasData) {
  if (hasData && write) {
    WritePropName(name);
    write(*this);
  }
}

void TWriter::DefineBinaryProperty(const std::string& name, const TStreamProc&,
                                   const TStreamProc& write, bool hasData) {
  if (!hasData || !write) return;
  TMemoryStream m;
  write(m);
  if (m.Size() > UINT32_MAX) throw EWriteError(u"Binary property too large");
  WritePropName(name);
  WriteBinary(m.Memory(), static_cast<uint32_t>(m.Size()));
}

bool TWriter::IsDefaultValue(TPersistent* instance, const TPropInfo* prop) {
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64:
    case TTypeKind::Enumeration:
    case TTypeKind::Set:
      return prop->HasDefault && prop->GetOrd(instance) == prop->Default;
    case TTypeKind::Float:
      return prop->GetFloat(instance) == prop->FloatDefault;
    case TTypeKind::String:
      return prop->GetStr(instance).empty();
    case TTypeKind::WString:
      return prop->GetWStr(instance).empty();
    case TTypeKind::Method: {
      TMethod m = prop->GetMethod(instance);
      TComponent* root = lookupRoot_ ? lookupRoot_ : root_;
      // A handler the root does not publish cannot be named: not written.
      return !m.Code || !root || root->MethodName(m.Code).empty();
    }
    default:
      return false;
  }
}

void TWriter::WriteProperty(TPersistent* instance, const TPropInfo* prop) {
  switch (prop->Kind()) {
    case TTypeKind::Integer:
    case TTypeKind::Int64: {
      WritePropName(prop->Name);
      int64_t v = prop->GetOrd(instance);
      std::string ident;
      if (prop->PropType->IntToIdent && prop->PropType->IntToIdent(v, ident))
        WriteIdent(ident);
      else
        WriteInteger(v);
      return;
    }
    case TTypeKind::Enumeration: {
      WritePropName(prop->Name);
      int64_t v = prop->GetOrd(instance);
      std::string name = prop->PropType->GetEnumName(v);
      if (name.empty()) throw EWriteError(Format(u"Invalid value for %s", {prop->Name}));
      WriteIdent(name);
      return;
    }
    case TTypeKind::Set: {
      WritePropName(prop->Name);
      WriteValue(TValueType::vaSet);
      uint32_t bits = static_cast<uint32_t>(prop->GetOrd(instance));
      for (int i = 0; i < 32; ++i)
        if (bits & (uint32_t(1) << i)) {
          std::string name =
              prop->PropType->CompType ? prop->PropType->CompType->GetEnumName(i) : "";
          if (name.empty()) throw EWriteError(Format(u"Invalid value for %s", {prop->Name}));
          WriteStr(name);
        }
      WriteStr("");
      return;
    }
    case TTypeKind::Float: {
      WritePropName(prop->Name);
      double v = prop->GetFloat(instance);
      switch (prop->PropType->FloatType) {
        case TFloatType::Single:
          WriteSingle(static_cast<float>(v));
          break;
        case TFloatType::Currency: {
          double scaled = std::nearbyint(v * 10000.0);
          if (!(scaled > -9.2e18 && scaled < 9.2e18))
            throw EWriteError(Format(u"Invalid value for %s", {prop->Name}));
          WriteCurrency(static_cast<int64_t>(scaled));
          break;
        }
        case TFloatType::Date:
          WriteDate(v);
          break;
        default:
          WriteFloat(v);
          break;
      }
      return;
    }
    case TTypeKind::String:
      WritePropName(prop->Name);
      WriteString(prop->GetStr(instance));
      return;
    case TTypeKind::WString:
      WritePropName(prop->Name);
      WriteWideString(prop->GetWStr(instance));
      return;
    case TTypeKind::Method: {
      WritePropName(prop->Name);
      TComponent* root = lookupRoot_ ? lookupRoot_ : root_;
      WriteIdent(root->MethodName(prop->GetMethod(instance).Code));
      return;
    }
    case TTypeKind::Class: {
      TObject* obj = prop->GetObj(instance);
      if (!obj) return;
      auto* comp = dynamic_cast<TComponent*>(obj);
      if (comp && !comp->ComponentStyle().Contains(csSubComponent)) {
        // A reference, by name: "Name" within the root, "Form.Name" beyond.
        if (comp->Name().empty()) return;
        std::string ref = comp->Name();
        TComponent* root = lookupRoot_ ? lookupRoot_ : root_;
        if (comp != root && comp->Owner() != root && comp->Owner() &&
            !comp->Owner()->Name().empty())
          ref = comp->Owner()->Name() + "." + ref;
        WritePropName(prop->Name);
        WriteIdent(ref);
        return;
      }
      if (auto* coll = dynamic_cast<TCollection*>(obj)) {
        WritePropName(prop->Name);
        WriteCollection(coll);
        return;
      }
      if (auto* sub = dynamic_cast<TPersistent*>(obj)) {
        std::string old = propPath_;
        propPath_ = old + prop->Name + ".";
        try {
          WriteProperties(sub);
        } catch (...) {
          propPath_ = old;
          throw;
        }
        propPath_ = old;
      }
      return;
    }
    default:
      return;
  }
}

void TWriter::WriteProperties(TPersistent* instance) {
  for (const TPropInfo* prop : instance->ClassType()->Properties()) {
    if (!prop->IsStored(instance)) continue;
    // Values that cannot be read back are not written; owned sub-objects
    // and sub-components are written through their own properties.
    if (!prop->Writable() && prop->Kind() != TTypeKind::Class) continue;
    if (prop->Kind() == TTypeKind::Class && !prop->Writable()) {
      auto* comp = dynamic_cast<TComponent*>(prop->GetObj(instance));
      if (!comp || !comp->ComponentStyle().Contains(csSubComponent)) continue;
    }
    if (IsDefaultValue(instance, prop)) continue;
    WriteProperty(instance, prop);
  }
  instance->DefineProperties(*this);
}

void TWriter::WriteCollection(TCollection* collection) {
  WriteValue(TValueType::vaCollection);
  std::string old = propPath_;
  propPath_.clear();
  try {
    for (int i = 0; i < collection->Count(); ++i) {
      WriteListBegin();
      WriteProperties(collection->Items(i));
      WriteListEnd();
    }
  } catch (...) {
    propPath_ = old;
    throw;
  }
  propPath_ = old;
  WriteListEnd();
}

void TWriter::WriteData(TComponent* instance) {
  WritePrefix(0, 0);
  WriteStr(instance->ClassName());
  WriteStr(instance->Name());
  WriteProperties(instance);
  WriteListEnd();
  instance->GetChildren([this](TComponent* child) { WriteComponent(child); }, root_);
  WriteListEnd();
}

void TWriter::WriteComponent(TComponent* component) {
  bool was = component->state_.Contains(csWriting);
  component->state_.Include(csWriting);
  std::string oldPath = propPath_;
  propPath_.clear();
  try {
    component->WriteState(*this);
  } catch (...) {
    propPath_ = oldPath;
    if (!was) component->state_.Exclude(csWriting);
    throw;
  }
  propPath_ = oldPath;
  if (!was) component->state_.Exclude(csWriting);
}

void TWriter::WriteDescendent(TComponent* root, TComponent* ancestor) {
  (void)ancestor;  // no form inheritance: everything is written
  root_ = root;
  lookupRoot_ = root;
  WriteSignature();
  WriteComponent(root);
}

void TWriter::WriteRootComponent(TComponent* root) { WriteDescendent(root, nullptr); }

}  // namespace classlib
