// The binary component stream ("TPF0"): reader and writer.
//
// Layout: the signature "TPF0", then one component: an optional prefix
// byte 0xF0|flags (flags: 1 inherited, 2 child position followed by an
// integer value, 4 inline), the class name and the component name as short
// strings (length byte, bytes), the properties as short-string name plus a
// typed value, a zero byte, the children (each a component without
// signature), a zero byte. Values start with a TValueType tag; multi-byte
// numbers are little-endian. See README.md for each value's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/streams.h"

namespace classlib {

class TCollection;

// Value tags: the conventional numbering of the format.
enum class TValueType : uint8_t {
  vaNull = 0,  // end of a list; the Null value
  vaList = 1,  // values up to vaNull
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,  // 80-bit x87 extended, 10 bytes
  vaString = 6,    // length byte, 8-bit text
  vaIdent = 7,     // length byte, identifier
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,   // u32 length, bytes
  vaSet = 11,      // short strings up to an empty one
  vaLString = 12,  // u32 length, 8-bit text
  vaNil = 13,
  vaCollection = 14,  // items (optional integer order, vaList, properties, vaNull) up to vaNull
  vaSingle = 15,      // 4-byte IEEE float
  vaCurrency = 16,    // i64, value * 10000
  vaDate = 17,        // 8-byte IEEE double, days since 1899-12-30
  vaWString = 18,     // u32 count, UTF-16LE code units
  vaInt64 = 19,
  vaUTF8String = 20,  // u32 length, UTF-8
  vaDouble = 21,      // 8-byte IEEE double
};
constexpr uint8_t kMaxValueType = 21;

enum TFilerFlag : uint8_t { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

class TFiler {
 public:
  explicit TFiler(TStream& stream) : stream_(stream) {}
  virtual ~TFiler() = default;
  TFiler(const TFiler&) = delete;
  TFiler& operator=(const TFiler&) = delete;

  // A custom property: the reader calls read when the stream names it; the
  // writer calls write when hasData.
  virtual void DefineProperty(const std::string& name, const TReaderProc& read,
                              const TWriterProc& write, bool hasData) = 0;
  // The same for a block of bytes (vaBinary).
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                                    const TStreamProc& write, bool hasData) = 0;

  TStream& Stream() { return stream_; }
  TComponent* Root() const { return root_; }
  TComponent* LookupRoot() const { return lookupRoot_; }
  // Form inheritance is not supported: there is never an ancestor.
  TPersistent* Ancestor() const { return nullptr; }

 protected:
  TStream& stream_;
  TComponent* root_ = nullptr;
  TComponent* lookupRoot_ = nullptr;
};

class TReader : public TFiler {
 public:
  using TSetNameEvent =
      std::function<void(TReader& reader, TComponent* component, std::string& name)>;
  using TReaderError =
      std::function<void(TReader& reader, const std::u16string& message, bool& handled)>;

  explicit TReader(TStream& stream);
  ~TReader() override;

  void DefineProperty(const std::string& name, const TReaderProc& read, const TWriterProc& write,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                            const TStreamProc& write, bool hasData) override;

  // Reads a whole stream into root (or, with none, into a new instance of
  // the stream's registered class, which the caller then owns): names,
  // properties, children, references; then Loaded on every component read,
  // root first. On failure every component made by the read is freed or
  // left complete, loading flags are cleared, and the error is raised.
  TComponent* ReadRootComponent(TComponent* root);
  // One component (without signature) as a child of the current parent.
  TComponent* ReadComponent(TComponent* component);
  // Properties and children of instance (the default ReadState).
  void ReadData(TComponent* instance);
  void ReadProperty(TPersistent* instance);
  void ReadCollection(TCollection* collection);

  // ---- values
  void ReadSignature();
  void ReadPrefix(uint8_t& flags, int32_t& childPos);
  TValueType ReadValue();
  TValueType NextValue();
  void CheckValue(TValueType expected);
  bool EndOfList();
  void ReadListBegin();
  void ReadListEnd();
  std::string ReadStr();  // short string, no tag
  int32_t ReadInteger();
  int64_t ReadInt64();
  double ReadFloat();  // any number
  float ReadSingle();
  int64_t ReadCurrency();  // value * 10000
  double ReadDate();
  std::string ReadString();         // any string value, as 8-bit text
  std::u16string ReadWideString();  // any string value, as UTF-16
  std::string ReadIdent();          // identifiers, False, True, nil, Null
  bool ReadBoolean();
  // Skips one value of any type.
  void SkipValue();
  // Reads a vaBinary value's bytes.
  std::vector<uint8_t> ReadBinary();

  // ---- hooks and context
  TSetNameEvent OnSetName;
  TReaderError OnError;
  TComponent* Owner() const { return owner_; }
  void SetOwner(TComponent* o) { owner_ = o; }
  TComponent* Parent() const { return parent_; }
  void SetParent(TComponent* p) { parent_ = p; }
  // The property being read, for error texts and defined properties.
  const std::string& PropName() const { return propName_; }
  // Offers an error to OnError; answers whether it was handled.
  bool Error(const std::u16string& message);

 private:
  class Watch;
  struct Fixup {
    TComponent* component;  // the component whose (sub-)object holds the property
    TPersistent* instance;
    const TPropInfo* prop;
    std::string name;
  };

  void ReadPropValue(TPersistent* instance, const TPropInfo* prop);
  void ReadPropertyPath(TPersistent* instance, const std::string& path);
  uint32_t ReadSet(const TTypeInfo* setType);
  void ResolveFixups();
  void Forget(TComponent* component);
  void CheckAvailable(uint64_t bytes);
  uint32_t ReadU32();

  TComponent* owner_ = nullptr;
  TComponent* parent_ = nullptr;
  TComponent* current_ = nullptr;  // component whose properties are being read
  std::string propName_;
  std::string rootStreamName_;  // the root's name as stored, for references
  bool propDone_ = false;
  int depth_ = 0;
  Watch* watch_ = nullptr;
  std::vector<TComponent*> loaded_;
  std::vector<Fixup> fixups_;
  friend class Watch;
};

class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& stream);

  void DefineProperty(const std::string& name, const TReaderProc& read, const TWriterProc& write,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                            const TStreamProc& write, bool hasData) override;

  // Signature and the root with everything it stores.
  void WriteRootComponent(TComponent* root);
  void WriteDescendent(TComponent* root, TComponent* ancestor);
  void WriteComponent(TComponent* component);
  // Class name, name, stored properties, children (the default WriteState).
  void WriteData(TComponent* instance);
  // Stored non-default published properties, then defined properties.
  void WriteProperties(TPersistent* instance);
  void WriteCollection(TCollection* collection);

  // ---- values
  void WriteSignature();
  void WritePrefix(uint8_t flags, int32_t childPos);
  void WriteValue(TValueType v);
  void WriteListBegin() { WriteValue(TValueType::vaList); }
  void WriteListEnd() { WriteValue(TValueType::vaNull); }
  void WriteStr(const std::string& s);  // short string, no tag; EWriteError past 255 bytes
  void WriteInteger(int64_t v);         // smallest integer tag that holds v
  void WriteFloat(double v);            // vaExtended
  void WriteSingle(float v);
  void WriteDouble(double v);
  void WriteCurrency(int64_t scaled);
  void WriteDate(double v);
  void WriteString(const std::string& s);         // vaString, or vaLString past 255 bytes
  void WriteWideString(const std::u16string& s);  // vaWString
  void WriteUTF8String(const std::string& s);
  void WriteIdent(const std::string& ident);  // False, True, nil, Null get their own tags
  void WriteBoolean(bool v) { WriteValue(v ? TValueType::vaTrue : TValueType::vaFalse); }
  void WriteBinary(const void* data, uint32_t size);
  void WritePropName(const std::string& name);

  // Prefix of property names while writing sub-objects ("Font.").
  const std::string& PropPath() const { return propPath_; }
  void SetPropPath(std::string path) { propPath_ = std::move(path); }

 private:
  void WriteProperty(TPersistent* instance, const TPropInfo* prop);
  bool IsDefaultValue(TPersistent* instance, const TPropInfo* prop);
  void WriteU32(uint32_t v);

  std::string propPath_;
};

// 80-bit extended <-> double (the format's vaExtended).
void DoubleToExtended(double v, uint8_t out[10]);
double ExtendedToDouble(const uint8_t in[10]);

}  // namespace classlib
