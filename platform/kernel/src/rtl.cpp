// Counted strings, the system's upcase rule, bitmaps and the debug log.
#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

SIZE_T RtlCompareMemory(const void* a, const void* b, SIZE_T length) {
  auto* x = static_cast<const unsigned char*>(a);
  auto* y = static_cast<const unsigned char*>(b);
  SIZE_T i = 0;
  while (i < length && x[i] == y[i]) ++i;
  return i;
}

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  destination->Buffer = const_cast<PWSTR>(source);
  if (source == nullptr) {
    destination->Length = destination->MaximumLength = 0;
    return;
  }
  std::size_t n = 0;
  while (source[n] != 0) ++n;
  if (n * 2 > 0xFFFC) hk::Fault("RtlInitUnicodeString: string of %zu characters is too long", n);
  destination->Length = static_cast<USHORT>(n * 2);
  destination->MaximumLength = static_cast<USHORT>(n * 2 + 2);
}

void RtlInitAnsiString(ANSI_STRING* destination, const char* source) {
  destination->Buffer = const_cast<char*>(source);
  std::size_t n = source ? std::strlen(source) : 0;
  destination->Length = static_cast<USHORT>(n);
  destination->MaximumLength = static_cast<USHORT>(source ? n + 1 : 0);
}

void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (source == nullptr) {
    destination->Length = 0;
    return;
  }
  // Truncates silently; terminates only when there is room.
  USHORT n =
      source->Length < destination->MaximumLength ? source->Length : destination->MaximumLength;
  n &= static_cast<USHORT>(~1u);
  std::memmove(destination->Buffer, source->Buffer, n);
  destination->Length = n;
  if (static_cast<std::size_t>(n) + 2 <= destination->MaximumLength) destination->Buffer[n / 2] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (source->Length == 0) return STATUS_SUCCESS;
  std::size_t total = static_cast<std::size_t>(destination->Length) + source->Length;
  if (total > destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  std::memmove(destination->Buffer + destination->Length / 2, source->Buffer, source->Length);
  destination->Length = static_cast<USHORT>(total);
  if (total + 2 <= destination->MaximumLength) destination->Buffer[total / 2] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, source);
  return RtlAppendUnicodeStringToString(destination, &s);
}

// The kernel's upcase table maps lower-case letters of the Latin, Greek and
// Cyrillic blocks; this covers the ranges an NT path or device name can
// contain in practice, independent of the host locale.
WCHAR RtlUpcaseUnicodeChar(WCHAR c) {
  if (c >= u'a' && c <= u'z') return static_cast<WCHAR>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<WCHAR>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    bool oddLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool evenLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddLower && (c & 1)) return static_cast<WCHAR>(c - 1);
    if (evenLower && !(c & 1)) return static_cast<WCHAR>(c - 1);
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<WCHAR>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<WCHAR>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<WCHAR>(c - 0x20);
  return c;
}

NTSTATUS RtlUpcaseUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source,
                                BOOLEAN allocateDestination) {
  hk::detail::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlUpcaseUnicodeString");
  if (allocateDestination) hk::Fault("RtlUpcaseUnicodeString with allocation is not offered");
  if (source->Length > destination->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (USHORT i = 0; i < source->Length / 2; ++i) {
    destination->Buffer[i] = RtlUpcaseUnicodeChar(source->Buffer[i]);
  }
  destination->Length = source->Length;
  return STATUS_SUCCESS;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
  USHORT n = (a->Length < b->Length ? a->Length : b->Length) / 2;
  for (USHORT i = 0; i < n; ++i) {
    WCHAR x = a->Buffer[i];
    WCHAR y = b->Buffer[i];
    if (caseInsensitive) {
      x = RtlUpcaseUnicodeChar(x);
      y = RtlUpcaseUnicodeChar(y);
    }
    if (x != y) return static_cast<LONG>(x) - static_cast<LONG>(y);
  }
  return static_cast<LONG>(a->Length) - static_cast<LONG>(b->Length);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
  if (a->Length != b->Length) return FALSE;
  return RtlCompareUnicodeString(a, b, caseInsensitive) == 0;
}

BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING prefix, PCUNICODE_STRING string,
                               BOOLEAN caseInsensitive) {
  if (prefix->Length > string->Length) return FALSE;
  UNICODE_STRING head = *string;
  head.Length = prefix->Length;
  return RtlCompareUnicodeString(prefix, &head, caseInsensitive) == 0;
}

// Bitmaps: bit i is byte i / 8, bit i % 8. An index outside the map would
// corrupt memory silently in the kernel; here it is a fault.
namespace {
void CheckRange(PRTL_BITMAP map, ULONG start, ULONG count, const char* what) {
  if (map == nullptr || map->Buffer == nullptr) hk::Fault("%s on a bitmap without buffer", what);
  if (start > map->SizeOfBitMap || count > map->SizeOfBitMap - start) {
    hk::Fault("%s: bits %u..+%u outside a bitmap of %u bits", what, start, count,
              map->SizeOfBitMap);
  }
}
auto* Bytes(PRTL_BITMAP map) { return reinterpret_cast<PUCHAR>(map->Buffer); }
bool Bit(PRTL_BITMAP map, ULONG i) { return (Bytes(map)[i / 8] >> (i % 8)) & 1; }
void Put(PRTL_BITMAP map, ULONG i, bool v) {
  if (v) {
    Bytes(map)[i / 8] = static_cast<UCHAR>(Bytes(map)[i / 8] | (1u << (i % 8)));
  } else {
    Bytes(map)[i / 8] = static_cast<UCHAR>(Bytes(map)[i / 8] & ~(1u << (i % 8)));
  }
}
// Bit i is bit i % 32 of ULONG i / 32 on a little-endian machine, which is
// what lets the counts and fills below work a word at a time.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bitmap words assume little-endian");
static_assert(sizeof(ULONG) == 4, "bitmap words are 32 bits");
ULONG Word(PRTL_BITMAP map, ULONG w) { return map->Buffer[w]; }
// Bits lo..hi-1 of a word (0 <= lo < hi <= 32).
ULONG Mask(ULONG lo, ULONG hi) {
  const ULONG upTo = hi == 32 ? 0xFFFFFFFFu : (1u << hi) - 1;
  return upTo & ~((1u << lo) - 1);
}
int Ones(ULONG word) { return __builtin_popcount(word); }
// Set bits among start..start+count-1 (inside the map).
ULONG CountSet(PRTL_BITMAP map, ULONG start, ULONG count) {
  ULONG n = 0;
  ULONG at = start;
  const ULONG end = start + count;
  while (at < end) {
    const ULONG lo = at % 32;
    const ULONG hi = end - (at - lo) < 32 ? end - (at - lo) : 32;
    n += static_cast<ULONG>(Ones(Word(map, at / 32) & Mask(lo, hi)));
    at += hi - lo;
  }
  return n;
}
// Sets or clears start..start+count-1 (inside the map).
void Fill(PRTL_BITMAP map, ULONG start, ULONG count, bool set) {
  ULONG at = start;
  const ULONG end = start + count;
  while (at < end) {
    const ULONG lo = at % 32;
    const ULONG hi = end - (at - lo) < 32 ? end - (at - lo) : 32;
    const ULONG mask = Mask(lo, hi);
    map->Buffer[at / 32] = set ? map->Buffer[at / 32] | mask : map->Buffer[at / 32] & ~mask;
    at += hi - lo;
  }
}
ULONG FindClearRun(PRTL_BITMAP map, ULONG count, ULONG from, ULONG to) {
  ULONG run = 0;
  for (ULONG i = from; i < to;) {
    // A full word of set bits ends any run at once.
    if (run == 0 && i % 32 == 0 && to - i >= 32 && Word(map, i / 32) == 0xFFFFFFFFu) {
      i += 32;
      continue;
    }
    run = Bit(map, i) ? 0 : run + 1;
    ++i;
    if (run == count) return i - count;
  }
  return 0xFFFFFFFF;
}
}  // namespace

void RtlInitializeBitMap(PRTL_BITMAP header, PULONG buffer, ULONG sizeOfBitMap) {
  header->SizeOfBitMap = sizeOfBitMap;
  header->Buffer = buffer;
}
void RtlClearAllBits(PRTL_BITMAP h) {
  std::memset(h->Buffer, 0, ((h->SizeOfBitMap + 31) / 32) * 4);
}
void RtlSetAllBits(PRTL_BITMAP h) {
  std::memset(h->Buffer, 0xFF, ((h->SizeOfBitMap + 31) / 32) * 4);
}
void RtlSetBit(PRTL_BITMAP h, ULONG bit) {
  CheckRange(h, bit, 1, "RtlSetBit");
  Put(h, bit, true);
}
void RtlClearBit(PRTL_BITMAP h, ULONG bit) {
  CheckRange(h, bit, 1, "RtlClearBit");
  Put(h, bit, false);
}
BOOLEAN RtlTestBit(PRTL_BITMAP h, ULONG bit) {
  CheckRange(h, bit, 1, "RtlTestBit");
  return Bit(h, bit);
}
void RtlSetBits(PRTL_BITMAP h, ULONG start, ULONG count) {
  CheckRange(h, start, count, "RtlSetBits");
  Fill(h, start, count, true);
}
void RtlClearBits(PRTL_BITMAP h, ULONG start, ULONG count) {
  CheckRange(h, start, count, "RtlClearBits");
  Fill(h, start, count, false);
}
BOOLEAN RtlAreBitsSet(PRTL_BITMAP h, ULONG start, ULONG length) {
  if (length == 0 || start >= h->SizeOfBitMap || length > h->SizeOfBitMap - start) return FALSE;
  return CountSet(h, start, length) == length;
}
BOOLEAN RtlAreBitsClear(PRTL_BITMAP h, ULONG start, ULONG length) {
  if (length == 0 || start >= h->SizeOfBitMap || length > h->SizeOfBitMap - start) return FALSE;
  return CountSet(h, start, length) == 0;
}
ULONG RtlFindClearBits(PRTL_BITMAP h, ULONG count, ULONG hint) {
  if (count == 0) return hint < h->SizeOfBitMap ? hint : 0;
  if (count > h->SizeOfBitMap) return 0xFFFFFFFF;
  if (hint >= h->SizeOfBitMap) hint = 0;
  ULONG found = FindClearRun(h, count, hint, h->SizeOfBitMap);
  if (found == 0xFFFFFFFF && hint != 0) {
    ULONG end = hint + count - 1 < h->SizeOfBitMap ? hint + count - 1 : h->SizeOfBitMap;
    found = FindClearRun(h, count, 0, end);
  }
  return found;
}
ULONG RtlFindClearBitsAndSet(PRTL_BITMAP h, ULONG count, ULONG hint) {
  ULONG found = RtlFindClearBits(h, count, hint);
  if (found != 0xFFFFFFFF && count != 0) RtlSetBits(h, found, count);
  return found;
}
ULONG RtlNumberOfSetBits(PRTL_BITMAP h) { return CountSet(h, 0, h->SizeOfBitMap); }
ULONG RtlNumberOfClearBits(PRTL_BITMAP h) { return h->SizeOfBitMap - RtlNumberOfSetBits(h); }

// Debug print with the kernel's conventions: %s narrow, %S and %ws wide,
// %wZ a counted wide string, %Z a counted narrow one, %I64 a 64-bit
// integer, %l a 32-bit one.
namespace {
std::mutex g_logLock;
std::vector<std::string> g_log;
std::string g_partial;
bool g_echo = false;

void AppendWide(std::string& out, const WCHAR* s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

// Applies the flags, width and (for strings) precision of one conversion.
std::string Pad(std::string text, const std::string& conversion, bool numeric) {
  bool left = conversion.find('-') != std::string::npos;
  std::size_t at = 1;
  while (at < conversion.size() && std::strchr("-+ #", conversion[at])) ++at;
  bool zero = at < conversion.size() && conversion[at] == '0';
  std::size_t width = 0;
  std::size_t precision = std::string::npos;
  std::size_t dot = conversion.find('.');
  for (std::size_t i = at; i < conversion.size() && i < dot; ++i) {
    if (std::isdigit(static_cast<unsigned char>(conversion[i])))
      width = width * 10 + static_cast<std::size_t>(conversion[i] - '0');
  }
  if (dot != std::string::npos) {
    precision = 0;
    for (std::size_t i = dot + 1; i < conversion.size(); ++i)
      precision = precision * 10 + static_cast<std::size_t>(conversion[i] - '0');
  }
  if (!numeric && precision < text.size()) text.resize(precision);
  if (text.size() >= width) return text;
  std::size_t fill = width - text.size();
  if (left) return text + std::string(fill, ' ');
  if (numeric && zero) {
    std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.substr(0, sign) + std::string(fill, '0') + text.substr(sign);
  }
  return std::string(fill, ' ') + text;
}

std::string Format(const char* format, va_list args) {
  std::string out;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    std::string conversion = "%";
    ++p;
    while (*p && std::strchr("-+ #0", *p)) conversion += *p++;
    while (*p && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.' || *p == '*')) {
      if (*p == '*') {
        conversion += std::to_string(va_arg(args, int));
        ++p;
      } else {
        conversion += *p++;
      }
    }
    enum { kInt, kLong64, kPtr, kWide } width = kInt;
    if (std::strncmp(p, "I64", 3) == 0) {
      width = kLong64;
      p += 3;
    } else if (std::strncmp(p, "I32", 3) == 0) {
      p += 3;
    } else if (*p == 'I') {
      width = kPtr;
      ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      width = kLong64;
      p += 2;
    } else if (*p == 'l' || *p == 'h') {
      ++p;  // 32-bit long, or a short promoted to int
    } else if (*p == 'w') {
      width = kWide;
      ++p;
    } else if (*p == 'z') {
      width = kPtr;
      ++p;
    }
    char conv = *p;
    if (conv == 0) break;
    char buffer[128];
    switch (conv) {
      case '%':
        out += '%';
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        unsigned long long value;
        bool negative = false;
        bool isSigned = conv == 'd' || conv == 'i';
        if (width == kLong64) {
          long long v = va_arg(args, long long);
          negative = isSigned && v < 0;
          value = negative ? 0ull - static_cast<unsigned long long>(v)
                           : static_cast<unsigned long long>(v);
        } else if (width == kPtr) {
          std::intptr_t v = va_arg(args, std::intptr_t);
          negative = isSigned && v < 0;
          value = negative ? 0ull - static_cast<unsigned long long>(v)
                           : static_cast<unsigned long long>(static_cast<std::uintptr_t>(v));
        } else {
          int v = va_arg(args, int);
          negative = isSigned && v < 0;
          value = negative ? 0ull - static_cast<unsigned long long>(static_cast<long long>(v))
                           : static_cast<unsigned long long>(static_cast<unsigned>(v));
        }
        unsigned base = conv == 'x' || conv == 'X' ? 16 : conv == 'o' ? 8 : 10;
        const char* digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        std::string text;
        do {
          text.insert(text.begin(), digits[value % base]);
          value /= base;
        } while (value != 0);
        if (negative) text.insert(text.begin(), '-');
        out += Pad(text, conversion, true);
        break;
      }
      case 'p':
        std::snprintf(buffer, sizeof buffer, "%p", va_arg(args, void*));
        out += buffer;
        break;
      case 'c':
      case 'C': {
        int c = va_arg(args, int);
        if (width == kWide || conv == 'C') {
          WCHAR w = static_cast<WCHAR>(c);
          AppendWide(out, &w, 1);
        } else {
          out += static_cast<char>(c);
        }
        break;
      }
      case 's':
      case 'S': {
        std::string text;
        if (width == kWide || conv == 'S') {
          const WCHAR* w = va_arg(args, const WCHAR*);
          if (w == nullptr) {
            text = "(null)";
          } else {
            std::size_t n = 0;
            while (w[n]) ++n;
            AppendWide(text, w, n);
          }
        } else {
          const char* s = va_arg(args, const char*);
          text = s ? s : "(null)";
        }
        out += Pad(text, conversion, false);
        break;
      }
      case 'Z': {
        if (width == kWide) {
          auto* s = va_arg(args, PCUNICODE_STRING);
          if (s && s->Buffer) AppendWide(out, s->Buffer, s->Length / 2);
        } else {
          auto* s = va_arg(args, const ANSI_STRING*);
          if (s && s->Buffer) out.append(s->Buffer, s->Length);
        }
        break;
      }
      default:
        out += conversion;
        out += conv;
        break;
    }
  }
  return out;
}
}  // namespace

ULONG DbgPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = Format(format, args);
  va_end(args);
  std::lock_guard<std::mutex> guard(g_logLock);
  if (g_echo) std::fprintf(stderr, "%s", text.c_str());
  g_partial += text;
  std::size_t nl;
  while ((nl = g_partial.find('\n')) != std::string::npos) {
    g_log.push_back(g_partial.substr(0, nl));
    g_partial.erase(0, nl + 1);
  }
  return 0;
}

namespace hk {
std::vector<std::string> DbgLines() {
  std::lock_guard<std::mutex> guard(g_logLock);
  std::vector<std::string> lines = g_log;
  if (!g_partial.empty()) lines.push_back(g_partial);
  return lines;
}
void ClearDbgLog() {
  std::lock_guard<std::mutex> guard(g_logLock);
  g_log.clear();
  g_partial.clear();
}
void SetDbgEcho(bool echo) {
  std::lock_guard<std::mutex> guard(g_logLock);
  g_echo = echo;
}

std::u16string Wide(const char* ascii) {
  std::u16string out;
  for (const char* p = ascii; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return out;
}
std::string Narrow(const std::u16string& wide) {
  std::string out;
  AppendWide(out, wide.data(), wide.size());
  return out;
}
std::string Narrow(PCUNICODE_STRING s) {
  std::string out;
  if (s && s->Buffer) AppendWide(out, s->Buffer, s->Length / 2);
  return out;
}
}  // namespace hk

// ---------------------------------------------------------------- security

namespace {
// S-1-5-18 (SYSTEM) and S-1-5-32-544 (the administrators).
struct TwoSubAuthoritySid {
  SID head;
  ULONG second;
};
SID g_systemSid = {1, 1, {{0, 0, 0, 0, 0, 5}}, {18}};
TwoSubAuthoritySid g_adminsSid = {{1, 2, {{0, 0, 0, 0, 0, 5}}, {32}}, 544};
SE_EXPORTS g_seExports = {&g_systemSid, &g_adminsSid};

bool ValidSid(const SID* sid) {
  return sid != nullptr && sid->Revision == 1 && sid->SubAuthorityCount <= 15;
}
}  // namespace

SE_EXPORTS* SeExports = &g_seExports;

ULONG RtlLengthSid(PSID sid) {
  const auto* s = static_cast<const SID*>(sid);
  return 8 + 4 * static_cast<ULONG>(s->SubAuthorityCount);
}

NTSTATUS RtlCreateAcl(PACL acl, ULONG length, ULONG revision) {
  if (length < sizeof(ACL)) return STATUS_BUFFER_TOO_SMALL;
  if (revision != ACL_REVISION || length > 0xFFFF) return STATUS_INVALID_PARAMETER;
  std::memset(acl, 0, sizeof(ACL));
  acl->AclRevision = static_cast<UCHAR>(revision);
  acl->AclSize = static_cast<USHORT>(length & ~3u);
  return STATUS_SUCCESS;
}

NTSTATUS RtlAddAccessAllowedAce(PACL acl, ULONG revision, ACCESS_MASK mask, PSID sid) {
  if (!ValidSid(static_cast<const SID*>(sid))) return STATUS_INVALID_SID;
  if (acl->AclRevision != ACL_REVISION || revision != ACL_REVISION) return STATUS_REVISION_MISMATCH;
  // The ACEs already there, walked by their sizes, to the first free byte.
  auto* base = reinterpret_cast<UCHAR*>(acl);
  ULONG used = sizeof(ACL);
  for (USHORT i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header;
    std::memcpy(&header, base + used, sizeof header);
    used += header.AceSize;
    if (header.AceSize < sizeof header || used > acl->AclSize) return STATUS_INVALID_ACL;
  }
  const ULONG aceSize = offsetof(ACCESS_ALLOWED_ACE, SidStart) + RtlLengthSid(sid);
  if (used + aceSize > acl->AclSize) return STATUS_ALLOTTED_SPACE_EXCEEDED;
  ACCESS_ALLOWED_ACE ace{};
  ace.Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
  ace.Header.AceSize = static_cast<USHORT>(aceSize);
  ace.Mask = mask;
  std::memcpy(base + used, &ace, offsetof(ACCESS_ALLOWED_ACE, SidStart));
  std::memcpy(base + used + offsetof(ACCESS_ALLOWED_ACE, SidStart), sid, RtlLengthSid(sid));
  ++acl->AceCount;
  return STATUS_SUCCESS;
}

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, ULONG revision) {
  if (revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  auto* d = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  std::memset(d, 0, sizeof *d);
  d->Revision = static_cast<UCHAR>(revision);
  return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, BOOLEAN present, PACL dacl,
                                      BOOLEAN defaulted) {
  auto* d = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
  if (d->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
  d->Control &= static_cast<USHORT>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  d->Dacl = nullptr;
  if (present) {
    d->Control |= SE_DACL_PRESENT;
    d->Dacl = dacl;
    if (defaulted) d->Control |= SE_DACL_DEFAULTED;
  }
  return STATUS_SUCCESS;
}

namespace hk {
std::u16string SddlOf(PSECURITY_DESCRIPTOR descriptor) {
  const auto* d = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
  if ((d->Control & SE_DACL_PRESENT) == 0) return u"";
  if (d->Dacl == nullptr) return u"D:NO_ACCESS_CONTROL";
  std::string out = "D:";
  const auto* base = reinterpret_cast<const UCHAR*>(d->Dacl);
  ULONG at = sizeof(ACL);
  for (USHORT i = 0; i < d->Dacl->AceCount && at < d->Dacl->AclSize; ++i) {
    ACCESS_ALLOWED_ACE ace;
    std::memcpy(&ace, base + at, offsetof(ACCESS_ALLOWED_ACE, SidStart));
    const auto* sid =
        reinterpret_cast<const SID*>(base + at + offsetof(ACCESS_ALLOWED_ACE, SidStart));
    std::string trustee = "S-1-" + std::to_string(sid->IdentifierAuthority.Value[5]);
    for (UCHAR k = 0; k < sid->SubAuthorityCount; ++k) {
      ULONG sub;
      std::memcpy(&sub, reinterpret_cast<const UCHAR*>(sid->SubAuthority) + 4 * k, sizeof sub);
      trustee += "-" + std::to_string(sub);
    }
    static const struct {
      const char* sid;
      const char* alias;
    } kAliases[] = {{"S-1-5-18", "SY"}, {"S-1-5-32-544", "BA"}, {"S-1-1-0", "WD"},
                    {"S-1-5-11", "AU"}, {"S-1-5-4", "IU"},      {"S-1-5-32-545", "BU"}};
    for (const auto& alias : kAliases) {
      if (trustee == alias.sid) trustee = alias.alias;
    }
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%x", ace.Mask);
    out += std::string("(") + (ace.Header.AceType == ACCESS_DENIED_ACE_TYPE ? "D" : "A") + ";" +
           ((ace.Header.AceFlags & INHERIT_ONLY_ACE) ? "IO" : "") + ";" + mask + ";;;" + trustee +
           ")";
    at += ace.Header.AceSize;
  }
  return Wide(out.c_str());
}
}  // namespace hk
