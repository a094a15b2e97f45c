#include "text/format.h"

#include "text/utf.h"

namespace quil::fmt_detail {

namespace {

constexpr char16_t kUpperHex[] = u"0123456789ABCDEF";
constexpr char16_t kLowerHex[] = u"0123456789abcdef";

void pad(std::u16string& out, size_t count, char16_t fill) { out.append(count, fill); }

// Appends body padded to width, on the left unless left-aligned. As in the
// Microsoft runtime, the '0' flag pads strings and characters with zeros too.
void appendPadded(std::u16string& out, std::u16string_view body, const Directive& d, int width) {
  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  const size_t fill = body.size() < w ? w - body.size() : 0;
  if (!d.left) pad(out, fill, d.zero ? u'0' : u' ');
  out.append(body);
  if (d.left) pad(out, fill, u' ');
}

int64_t asInt(const Arg& a) {
  return a.info.type == ArgType::kSignedInt ? a.i : static_cast<int64_t>(a.u);
}

// The value an integer directive of the given width reads from the argument:
// a narrower directive sees the low bits, as the C runtime does with a
// promoted argument.
uint64_t maskToBits(uint64_t v, uint8_t bits) { return bits >= 64 ? v : v & ((uint64_t{1} << bits) - 1); }

int64_t signExtend(uint64_t v, uint8_t bits) {
  if (bits >= 64) return static_cast<int64_t>(v);
  const uint64_t sign = uint64_t{1} << (bits - 1);
  v = maskToBits(v, bits);
  return static_cast<int64_t>((v ^ sign) - sign);
}

template <unsigned Base>
size_t reversedDigits(uint64_t m, const char16_t* digits, char16_t* out) {
  size_t n = 0;
  for (; m != 0; m /= Base) out[n++] = digits[m % Base];
  return n;
}

void appendInteger(std::u16string& out, const Directive& d, const Arg& a, int width, int precision, bool hasPrecision) {
  const uint64_t raw = static_cast<uint64_t>(asInt(a));
  bool negative = false;
  uint64_t magnitude = 0;
  if (d.conv == Conv::kSigned) {
    const int64_t v = signExtend(raw, d.bits);
    negative = v < 0;
    magnitude = negative ? (~static_cast<uint64_t>(v) + 1) : static_cast<uint64_t>(v);
  } else {
    magnitude = maskToBits(raw, d.bits);
  }
  unsigned base = 10;
  const char16_t* digits = kUpperHex;
  if (d.letter == u'x') base = 16, digits = kLowerHex;
  else if (d.letter == u'X') base = 16;
  else if (d.letter == u'o') base = 8;

  // The body is the precision's zeros then the digits; nothing is built
  // on the heap, as every trace line formats a few integers.
  char16_t digitsReversed[72];
  size_t n = 0;
  switch (base) {  // a constant base divides by multiplying
    case 10: n = reversedDigits<10>(magnitude, digits, digitsReversed); break;
    case 16: n = reversedDigits<16>(magnitude, digits, digitsReversed); break;
    default: n = reversedDigits<8>(magnitude, digits, digitsReversed); break;
  }
  size_t zeros = 0;
  if (hasPrecision) {
    const size_t p = static_cast<size_t>(precision);
    if (n < p) zeros = p - n;
  } else if (magnitude == 0) {
    digitsReversed[n++] = u'0';
  }
  if (d.alt && base == 8 && zeros == 0 && (n == 0 || digitsReversed[n - 1] != u'0')) zeros = 1;

  char16_t prefix[3];
  size_t prefixLength = 0;
  if (d.conv == Conv::kSigned) {
    if (negative) prefix[prefixLength++] = u'-';
    else if (d.plus) prefix[prefixLength++] = u'+';
    else if (d.space) prefix[prefixLength++] = u' ';
  }
  if (d.alt && base == 16 && magnitude != 0) {
    prefix[prefixLength++] = u'0';
    prefix[prefixLength++] = d.letter == u'x' ? u'x' : u'X';
  }

  const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  const size_t used = prefixLength + zeros + n;
  const size_t fill = used < w ? w - used : 0;
  char16_t forward[72];
  for (size_t k = 0; k < n; ++k) forward[k] = digitsReversed[n - 1 - k];
  const auto appendBody = [&] {
    pad(out, zeros, u'0');
    out.append(forward, n);
  };
  if (d.left) {
    out.append(prefix, prefixLength);
    appendBody();
    pad(out, fill, u' ');
  } else if (d.zero && !hasPrecision) {
    out.append(prefix, prefixLength);
    pad(out, fill, u'0');
    appendBody();
  } else {
    pad(out, fill, u' ');
    out.append(prefix, prefixLength);
    appendBody();
  }
}

size_t measure(const char16_t* s, size_t limit) {
  size_t n = 0;
  while (n < limit && s[n] != 0) ++n;
  return n;
}

size_t measure(const char* s, size_t limit) {
  size_t n = 0;
  while (n < limit && s[n] != 0) ++n;
  return n;
}

// Length of a string argument, never reading past the precision.
size_t stringLength(const Arg& a, bool hasPrecision, int precision, bool wide) {
  const size_t limit = hasPrecision ? static_cast<size_t>(precision) : kUnknownLength;
  if (a.length != kUnknownLength) return a.length < limit ? a.length : limit;
  return wide ? measure(static_cast<const char16_t*>(a.p), limit) : measure(static_cast<const char*>(a.p), limit);
}

void appendString(std::u16string& out, const Directive& d, const Arg& a, int width, int precision, bool hasPrecision) {
  const bool wide = d.conv == Conv::kWideString;
  if (a.p == nullptr) {
    // The C runtime prints "(null)" for a null string; the precision still cuts it.
    std::u16string_view null = u"(null)";
    if (hasPrecision && static_cast<size_t>(precision) < null.size()) null = null.substr(0, static_cast<size_t>(precision));
    appendPadded(out, null, d, width);
    return;
  }
  const size_t n = stringLength(a, hasPrecision, precision, wide);
  if (wide) {
    appendPadded(out, std::u16string_view(static_cast<const char16_t*>(a.p), n), d, width);
  } else {
    appendPadded(out, fromUtf8(std::string_view(static_cast<const char*>(a.p), n)), d, width);
  }
}

void appendChar(std::u16string& out, const Directive& d, const Arg& a, int width) {
  char16_t c = 0;
  if (a.info.type == ArgType::kWideString || a.info.type == ArgType::kNarrowString) {
    // A string under %c gives its first character.
    if (a.p != nullptr && stringLength(a, true, 1, a.info.type == ArgType::kWideString) == 1) {
      c = a.info.type == ArgType::kWideString ? *static_cast<const char16_t*>(a.p)
                                                : static_cast<unsigned char>(*static_cast<const char*>(a.p));
    }
  } else if (d.conv == Conv::kNarrowChar) {
    c = static_cast<unsigned char>(asInt(a) & 0xFF);
  } else {
    c = static_cast<char16_t>(asInt(a) & 0xFFFF);
  }
  if (d.conv == Conv::kNarrowChar && c >= 0x80) {
    // An 8-bit character above ASCII has no meaning on its own in UTF-8.
    c = 0xFFFD;
  }
  // A NUL character would end the text for every C reader of the line; leave it out.
  const std::u16string_view body = c == 0 ? std::u16string_view() : std::u16string_view(&c, 1);
  appendPadded(out, body, d, width);
}

void appendPointer(std::u16string& out, const Directive& d, const Arg& a, int width) {
  char16_t digits[16];
  auto v = reinterpret_cast<uintptr_t>(a.p);
  for (int k = 15; k >= 0; --k, v >>= 4) digits[k] = kUpperHex[v & 0xF];
  appendPadded(out, std::u16string_view(digits, 16), d, width);
}

}  // namespace

void vformatTo(std::u16string& out, std::u16string_view f, const Arg* args, size_t count) {
  size_t next = 0;
  size_t literalStart = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != u'%') continue;
    out.append(f.substr(literalStart, i - literalStart));
    const Directive d = parseDirective(f, i);
    if (d.conv == Conv::kPercent) {
      out.push_back(u'%');
      i = d.end - 1;
      literalStart = d.end;
      continue;
    }
    bool ok = d.conv != Conv::kInvalid;
    int width = d.width;
    int precision = d.precision;
    bool hasPrecision = d.hasPrecision;
    // A negative width from '*' left-aligns: only then is the directive
    // copied and changed.
    Directive leftAligned;
    const Directive* use = &d;
    if (ok && d.widthStar) {
      ok = next < count && fitsStar(args[next].info);
      if (ok) {
        width = static_cast<int>(signExtend(static_cast<uint64_t>(asInt(args[next++])), 32));
        if (width < 0) {
          leftAligned = d;
          leftAligned.left = true;
          use = &leftAligned;
          width = -width;
        }
      }
    }
    if (ok && d.precisionStar) {
      ok = next < count && fitsStar(args[next].info);
      if (ok) {
        precision = static_cast<int>(signExtend(static_cast<uint64_t>(asInt(args[next++])), 32));
        if (precision < 0) hasPrecision = false, precision = 0;  // a negative precision counts as none
      }
    }
    ok = ok && next < count && accepts(d, args[next].info);
    if (!ok) {
      out += u"%!";
      i = (d.end > i ? d.end : i + 1) - 1;
      literalStart = i + 1;
      continue;
    }
    const Arg& a = args[next++];
    const Directive& effective = *use;
    switch (d.conv) {
      case Conv::kSigned:
      case Conv::kUnsigned:
        appendInteger(out, effective, a, width, precision, hasPrecision);
        break;
      case Conv::kWideChar:
      case Conv::kNarrowChar:
        appendChar(out, effective, a, width);
        break;
      case Conv::kWideString:
      case Conv::kNarrowString:
        appendString(out, effective, a, width, precision, hasPrecision);
        break;
      case Conv::kPointer:
        appendPointer(out, effective, a, width);
        break;
      default:
        break;
    }
    i = d.end - 1;
    literalStart = d.end;
  }
  if (literalStart < f.size()) out.append(f.substr(literalStart));
}

}  // namespace quil::fmt_detail
