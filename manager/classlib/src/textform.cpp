#include "classlib/textform.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "classlib/filer.h"

namespace classlib {

namespace {

constexpr int kMaxTextNesting = 200;

// ---- text -> binary
enum class Tok { Eof, Symbol, Ident, String, Integer, Float };

class Lexer {
 public:
  explicit Lexer(std::string text) : s_(std::move(text)) { Next(); }

  Tok tok = Tok::Eof;
  char sym = 0;
  std::string ident;   // identifier, or raw float text
  std::u16string str;  // string value
  int64_t integer = 0;
  char suffix = 0;  // float suffix: 's', 'c', 'd' or 0

  int Line() const { return tokLine_; }

  [[noreturn]] void Fail(const std::string& what) const {
    throw EParserError(Format(u"Line %d: %s", {tokLine_, what}));
  }

  bool IsIdent(const char* word) const { return tok == Tok::Ident && SameText(ident, word); }
  bool IsSym(char c) const { return tok == Tok::Symbol && sym == c; }

  void Next() {
    SkipBlanks();
    tokLine_ = line_;
    if (p_ >= s_.size()) {
      tok = Tok::Eof;
      return;
    }
    char c = s_[p_];
    if (IsAlpha(c)) {
      size_t b = p_;
      while (p_ < s_.size() && (IsAlpha(s_[p_]) || IsDigit(s_[p_]) || s_[p_] == '.')) ++p_;
      ident = s_.substr(b, p_ - b);
      tok = Tok::Ident;
      return;
    }
    if (c == '\'' || c == '#') {
      ReadString();
      return;
    }
    if (c == '$' || IsDigit(c) ||
        ((c == '-' || c == '+') && p_ + 1 < s_.size() &&
         (IsDigit(s_[p_ + 1]) || s_[p_ + 1] == '$'))) {
      ReadNumber();
      return;
    }
    tok = Tok::Symbol;
    sym = c;
    ++p_;
  }

  // Hexadecimal digits of a binary value, up to '}'.
  std::string ReadHexBlock() {
    std::string bytes;
    int nibble = -1;
    for (;;) {
      if (p_ >= s_.size()) Fail("'}' expected");
      char c = s_[p_++];
      if (c == '}') break;
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      int v = HexValue(c);
      if (v < 0) Fail("Invalid binary value");
      if (nibble < 0) {
        nibble = v;
      } else {
        bytes.push_back(static_cast<char>(nibble << 4 | v));
        nibble = -1;
      }
    }
    if (nibble >= 0) Fail("Invalid binary value");
    Next();
    return bytes;
  }

 private:
  static bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void SkipBlanks() {
    while (p_ < s_.size()) {
      char c = s_[p_];
      if (c == '\n') ++line_;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++p_;
      } else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '/') {
        while (p_ < s_.size() && s_[p_] != '\n') ++p_;
      } else {
        break;
      }
    }
  }

  void ReadString() {
    str.clear();
    for (;;) {
      if (p_ < s_.size() && s_[p_] == '\'') {
        ++p_;
        std::string run;
        for (;;) {
          if (p_ >= s_.size() || s_[p_] == '\n' || s_[p_] == '\r') Fail("Unterminated string");
          if (s_[p_] == '\'') {
            if (p_ + 1 < s_.size() && s_[p_ + 1] == '\'') {
              run.push_back('\'');
              p_ += 2;
              continue;
            }
            ++p_;
            break;
          }
          run.push_back(s_[p_++]);
        }
        str += Utf8ToWide(run);
      } else if (p_ < s_.size() && s_[p_] == '#') {
        ++p_;
        uint32_t v = 0;
        size_t b = p_;
        bool hex = p_ < s_.size() && s_[p_] == '$';
        if (hex) ++p_;
        while (p_ < s_.size() && (hex ? HexValue(s_[p_]) >= 0 : IsDigit(s_[p_]))) {
          v = v * (hex ? 16 : 10) + static_cast<uint32_t>(HexValue(s_[p_]));
          if (v > 0xFFFF) Fail("Invalid character code");
          ++p_;
        }
        if (p_ == b + (hex ? 1 : 0)) Fail("Invalid character code");
        str.push_back(static_cast<char16_t>(v));
      } else {
        break;
      }
    }
    tok = Tok::String;
  }

  void ReadNumber() {
    size_t b = p_;
    if (s_[p_] == '-' || s_[p_] == '+') ++p_;
    if (p_ < s_.size() && s_[p_] == '$') {
      ++p_;
      size_t d = p_;
      while (p_ < s_.size() && HexValue(s_[p_]) >= 0) ++p_;
      if (p_ == d || p_ - d > 16) Fail("Invalid integer value");
      uint64_t v = std::strtoull(s_.substr(d, p_ - d).c_str(), nullptr, 16);
      integer = s_[b] == '-' ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
      tok = Tok::Integer;
      return;
    }
    while (p_ < s_.size() && IsDigit(s_[p_])) ++p_;
    bool isFloat = false;
    if (p_ + 1 < s_.size() && s_[p_] == '.' && IsDigit(s_[p_ + 1])) {
      isFloat = true;
      ++p_;
      while (p_ < s_.size() && IsDigit(s_[p_])) ++p_;
    }
    if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
      size_t e = p_ + 1;
      if (e < s_.size() && (s_[e] == '+' || s_[e] == '-')) ++e;
      if (e < s_.size() && IsDigit(s_[e])) {
        isFloat = true;
        p_ = e;
        while (p_ < s_.size() && IsDigit(s_[p_])) ++p_;
      }
    }
    ident = s_.substr(b, p_ - b);
    suffix = 0;
    if (p_ < s_.size()) {
      char c = static_cast<char>(s_[p_] | 0x20);
      if ((c == 's' || c == 'c' || c == 'd') &&
          !(p_ + 1 < s_.size() && (IsAlpha(s_[p_ + 1]) || IsDigit(s_[p_ + 1])))) {
        suffix = c;
        isFloat = true;
        ++p_;
      }
    }
    if (isFloat) {
      tok = Tok::Float;
      return;
    }
    if (!TryStrToInt64(AsciiToWide(ident), integer)) Fail("Invalid integer value");
    tok = Tok::Integer;
  }

  std::string s_;
  size_t p_ = 0;
  int line_ = 1;
  int tokLine_ = 1;
};

// Exact decimal -> currency (value * 10000) without going through a double.
bool ParseCurrency(const std::string& text, int64_t& out) {
  size_t i = 0;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  uint64_t whole = 0, frac = 0;
  int fracDigits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    if (whole > 922337203685477ULL) return false;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
      if (fracDigits < 4) {
        frac = frac * 10 + static_cast<uint64_t>(text[i] - '0');
        ++fracDigits;
      }
  }
  if (i != text.size()) return false;
  while (fracDigits++ < 4) frac *= 10;
  uint64_t v = whole * 10000 + frac;
  const uint64_t limit = uint64_t(INT64_MAX) + (neg ? 1 : 0);
  if (v > limit) return false;
  out = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

class TextToBinary {
 public:
  TextToBinary(Lexer& lex, TWriter& w) : lex_(lex), w_(w) {}

  void Object() {
    Enter();
    uint8_t flags = 0;
    if (lex_.IsIdent("inherited"))
      flags = ffInherited;
    else if (lex_.IsIdent("inline"))
      flags = ffInline;
    else if (!lex_.IsIdent("object"))
      lex_.Fail("'object' expected");
    lex_.Next();
    std::string name = Ident("Identifier expected");
    std::string cls = name;
    if (lex_.IsSym(':')) {
      lex_.Next();
      cls = Ident("Class name expected");
    } else {
      name.clear();
    }
    int32_t pos = 0;
    if (lex_.IsSym('[')) {
      lex_.Next();
      if (lex_.tok != Tok::Integer || lex_.integer < INT32_MIN || lex_.integer > INT32_MAX)
        lex_.Fail("Integer expected");
      pos = static_cast<int32_t>(lex_.integer);
      flags |= ffChildPos;
      lex_.Next();
      Expect(']');
    }
    if (name.size() > 255 || cls.size() > 255) lex_.Fail("Name too long");
    w_.WritePrefix(flags, pos);
    w_.WriteStr(cls);
    w_.WriteStr(name);
    while (!lex_.IsIdent("end") && !lex_.IsIdent("object") && !lex_.IsIdent("inherited") &&
           !lex_.IsIdent("inline"))
      Property();
    w_.WriteListEnd();
    while (!lex_.IsIdent("end")) Object();
    w_.WriteListEnd();
    lex_.Next();
    --depth_;
  }

 private:
  void Enter() {
    if (++depth_ > kMaxTextNesting) lex_.Fail("Nesting too deep");
  }

  std::string Ident(const char* what) {
    if (lex_.tok != Tok::Ident) lex_.Fail(what);
    std::string s = lex_.ident;
    lex_.Next();
    return s;
  }

  void Expect(char c) {
    if (!lex_.IsSym(c)) lex_.Fail(std::string("'") + c + "' expected");
    lex_.Next();
  }

  void Property() {
    std::string name = Ident("Property name expected");
    if (name.size() > 255) lex_.Fail("Name too long");
    Expect('=');
    w_.WriteStr(name);
    Value();
  }

  void Value() {
    switch (lex_.tok) {
      case Tok::Integer:
        w_.WriteInteger(lex_.integer);
        lex_.Next();
        return;
      case Tok::Float:
        FloatValue();
        lex_.Next();
        return;
      case Tok::String: {
        std::u16string s = lex_.str;
        lex_.Next();
        while (lex_.IsSym('+')) {
          lex_.Next();
          if (lex_.tok != Tok::String) lex_.Fail("String expected");
          s += lex_.str;
          lex_.Next();
        }
        bool wide = false;
        for (char16_t c : s) wide = wide || c > 0x7F;
        if (wide) {
          w_.WriteWideString(s);
        } else {
          std::string a(s.begin(), s.end());
          w_.WriteString(a);
        }
        return;
      }
      case Tok::Ident:
        if (lex_.ident.size() > 255) lex_.Fail("Name too long");
        w_.WriteIdent(lex_.ident);
        lex_.Next();
        return;
      case Tok::Symbol:
        break;
      case Tok::Eof:
        lex_.Fail("Value expected");
    }
    switch (lex_.sym) {
      case '[': {
        lex_.Next();
        w_.WriteValue(TValueType::vaSet);
        while (!lex_.IsSym(']')) {
          std::string m = Ident("Identifier expected");
          if (m.size() > 255) lex_.Fail("Name too long");
          w_.WriteStr(m);
          if (lex_.IsSym(',')) {
            lex_.Next();
          } else if (!lex_.IsSym(']')) {
            lex_.Fail("']' expected");
          }
        }
        lex_.Next();
        w_.WriteStr("");
        return;
      }
      case '(': {
        Enter();
        lex_.Next();
        w_.WriteListBegin();
        while (!lex_.IsSym(')')) Value();
        lex_.Next();
        w_.WriteListEnd();
        --depth_;
        return;
      }
      case '{': {
        std::string bytes = lex_.ReadHexBlock();
        w_.WriteBinary(bytes.data(), static_cast<uint32_t>(bytes.size()));
        return;
      }
      case '<': {
        Enter();
        lex_.Next();
        w_.WriteValue(TValueType::vaCollection);
        while (!lex_.IsSym('>')) {
          if (!lex_.IsIdent("item")) lex_.Fail("'item' expected");
          lex_.Next();
          if (lex_.IsSym('[')) {
            lex_.Next();
            if (lex_.tok != Tok::Integer) lex_.Fail("Integer expected");
            w_.WriteInteger(lex_.integer);
            lex_.Next();
            Expect(']');
          }
          w_.WriteListBegin();
          while (!lex_.IsIdent("end")) Property();
          lex_.Next();
          w_.WriteListEnd();
        }
        lex_.Next();
        w_.WriteListEnd();
        --depth_;
        return;
      }
      default:
        lex_.Fail("Value expected");
    }
  }

  void FloatValue() {
    const std::string& text = lex_.ident;
    if (lex_.suffix == 'c') {
      int64_t v;
      if (!ParseCurrency(text, v)) lex_.Fail("Invalid currency value");
      w_.WriteCurrency(v);
      return;
    }
    double d = std::strtod(text.c_str(), nullptr);
    if (lex_.suffix == 's')
      w_.WriteSingle(d > 3.4028234663852886e38
                         ? HUGE_VALF
                         : (d < -3.4028234663852886e38 ? -HUGE_VALF : static_cast<float>(d)));
    else if (lex_.suffix == 'd')
      w_.WriteDate(d);
    else
      w_.WriteFloat(d);
  }

  Lexer& lex_;
  TWriter& w_;
  int depth_ = 0;
};

// ---- binary -> text
std::string Quote(const std::u16string& s) {
  if (s.empty()) return "''";
  std::string out;
  bool inQuote = false;
  for (char16_t c : s) {
    if (c >= 32 && c < 127) {
      if (!inQuote) {
        out.push_back('\'');
        inQuote = true;
      }
      if (c == '\'') out.push_back('\'');
      out.push_back(static_cast<char>(c));
    } else {
      if (inQuote) {
        out.push_back('\'');
        inQuote = false;
      }
      out += "#" + std::to_string(static_cast<unsigned>(c));
    }
  }
  if (inQuote) out.push_back('\'');
  return out;
}

std::string FloatText(double v) {
  std::string s = FloatToStrA(v);
  if (s.find_first_of(".eEIN") == std::string::npos) s += ".0";
  return s;
}

std::string SingleText(float f) {
  char buf[40];
  for (int prec = 1; prec <= 9; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, static_cast<double>(f));
    if (std::strtof(buf, nullptr) == f) break;
  }
  std::string s = buf;
  if (s.find_first_of(".eEIN") == std::string::npos) s += ".0";
  return s;
}

std::string CurrencyText(int64_t v) {
  uint64_t a = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string frac = std::to_string(a % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  while (frac.size() > 1 && frac.back() == '0') frac.pop_back();
  return (v < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac;
}

class BinaryToText {
 public:
  BinaryToText(TReader& r, std::string& out) : r_(r), out_(out) {}

  void Object(int indent) {
    Enter();
    uint8_t flags;
    int32_t pos;
    r_.ReadPrefix(flags, pos);
    std::string cls = r_.ReadStr();
    std::string name = r_.ReadStr();
    Indent(indent);
    out_ += (flags & ffInherited) ? "inherited " : ((flags & ffInline) ? "inline " : "object ");
    if (!name.empty()) out_ += name + ": ";
    out_ += cls;
    if (flags & ffChildPos) out_ += " [" + std::to_string(pos) + "]";
    out_ += "\r\n";
    while (!r_.EndOfList()) Property(indent + 2);
    r_.ReadListEnd();
    while (!r_.EndOfList()) Object(indent + 2);
    r_.ReadListEnd();
    Indent(indent);
    out_ += "end\r\n";
    --depth_;
  }

 private:
  void Enter() {
    if (++depth_ > kMaxTextNesting) throw EReadError(u"Stream nesting too deep");
  }
  void Indent(int n) { out_.append(static_cast<size_t>(n), ' '); }

  void Property(int indent) {
    std::string name = r_.ReadStr();
    Indent(indent);
    out_ += name + " = ";
    Value(indent);
    out_ += "\r\n";
  }

  void Value(int indent) {
    switch (r_.NextValue()) {
      case TValueType::vaList: {
        Enter();
        r_.ReadValue();
        out_ += "(";
        while (!r_.EndOfList()) {
          out_ += "\r\n";
          Indent(indent + 2);
          Value(indent + 2);
        }
        r_.ReadListEnd();
        out_ += ")";
        --depth_;
        return;
      }
      case TValueType::vaInt8:
      case TValueType::vaInt16:
      case TValueType::vaInt32:
      case TValueType::vaInt64:
        out_ += std::to_string(r_.ReadInt64());
        return;
      case TValueType::vaExtended:
      case TValueType::vaDouble:
        out_ += FloatText(r_.ReadFloat());
        return;
      case TValueType::vaSingle:
        out_ += SingleText(r_.ReadSingle()) + "s";
        return;
      case TValueType::vaCurrency:
        out_ += CurrencyText(r_.ReadCurrency()) + "c";
        return;
      case TValueType::vaDate:
        out_ += FloatText(r_.ReadDate()) + "d";
        return;
      case TValueType::vaString:
      case TValueType::vaLString:
      case TValueType::vaWString:
      case TValueType::vaUTF8String:
        out_ += Quote(r_.ReadWideString());
        return;
      case TValueType::vaIdent:
      case TValueType::vaFalse:
      case TValueType::vaTrue:
      case TValueType::vaNil:
      case TValueType::vaNull:
        out_ += r_.ReadIdent();
        return;
      case TValueType::vaBinary: {
        std::vector<uint8_t> data = r_.ReadBinary();
        static const char kHex[] = "0123456789ABCDEF";
        out_ += "{";
        for (size_t i = 0; i < data.size(); ++i) {
          if (i % 32 == 0) {
            out_ += "\r\n";
            Indent(indent + 2);
          }
          out_.push_back(kHex[data[i] >> 4]);
          out_.push_back(kHex[data[i] & 15]);
        }
        out_ += "}";
        return;
      }
      case TValueType::vaSet: {
        r_.ReadValue();
        out_ += "[";
        bool first = true;
        for (std::string m = r_.ReadStr(); !m.empty(); m = r_.ReadStr()) {
          if (!first) out_ += ", ";
          out_ += m;
          first = false;
        }
        out_ += "]";
        return;
      }
      case TValueType::vaCollection: {
        Enter();
        r_.ReadValue();
        out_ += "<";
        while (!r_.EndOfList()) {
          out_ += "\r\n";
          Indent(indent + 2);
          out_ += "item";
          TValueType n = r_.NextValue();
          if (n == TValueType::vaInt8 || n == TValueType::vaInt16 || n == TValueType::vaInt32)
            out_ += " [" + std::to_string(r_.ReadInteger()) + "]";
          out_ += "\r\n";
          r_.ReadListBegin();
          while (!r_.EndOfList()) Property(indent + 4);
          r_.ReadListEnd();
          Indent(indent + 2);
          out_ += "end";
        }
        r_.ReadListEnd();
        out_ += ">";
        --depth_;
        return;
      }
    }
  }

  TReader& r_;
  std::string& out_;
  int depth_ = 0;
};

}  // namespace

void ObjectTextToBinary(TStream& input, TStream& output) {
  int64_t n = input.Size() - input.Position();
  std::string text(static_cast<size_t>(n < 0 ? 0 : n), '\0');
  if (!text.empty()) input.ReadBuffer(&text[0], static_cast<int64_t>(text.size()));
  // A UTF-8 byte-order mark is allowed.
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  Lexer lex(std::move(text));
  TMemoryStream out;
  TWriter w(out);
  w.WriteSignature();
  TextToBinary(lex, w).Object();
  out.SaveToStream(output);
}

void ObjectBinaryToText(TStream& input, TStream& output) {
  TReader r(input);
  r.ReadSignature();
  std::string out;
  BinaryToText(r, out).Object(0);
  output.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

}  // namespace classlib
