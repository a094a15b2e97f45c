// printf-style formatting into UTF-16 with the conventions of the Microsoft C
// runtime's wide functions, which the trace and log formats were written for:
//   %s %ls %ws  wide string        %hs %S  8-bit string
//   %c %lc      wide character     %hc %C  8-bit character
//   %c on a string prints its first character
//   %ld %lu %lx  32-bit            %lld %llu %I64d  64-bit
//   %hd %hu      16-bit            %hhd  8-bit
//   %p           16 upper-case hex digits, no "0x"
//   %.*ls        precision taken from an int argument
// A string is never read past its precision, so a caller's unterminated
// buffer is safe under "%.*ls".
//
// The format is checked against the argument types at compile time: a literal
// format whose directives do not match the arguments does not compile. The
// runtime entry point (formatRuntime) makes the same check per directive and
// prints "%!" for a directive it cannot satisfy instead of reading garbage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace quil {

namespace fmt_detail {

enum class ArgType : uint8_t {
  kSignedInt,
  kUnsignedInt,
  kWideChar,
  kNarrowChar,
  kWideString,
  kNarrowString,
  kPointer,
  kNone,
};

struct ArgInfo {
  ArgType type = ArgType::kNone;
  uint8_t size = 0;          // bytes of an integral argument
  bool fromPointer = false;  // a string passed as a raw pointer (also valid for %p)
};

struct Arg {
  ArgInfo info;
  union {
    int64_t i;
    uint64_t u;
    const void* p;
  };
  // Strings: number of code units when known, kUnknownLength when the string
  // is NUL-terminated and must be measured (never past the precision).
  size_t length = 0;
};

inline constexpr size_t kUnknownLength = static_cast<size_t>(-1);

enum class Conv : uint8_t { kInvalid, kPercent, kSigned, kUnsigned, kWideChar, kNarrowChar, kWideString, kNarrowString, kPointer };

struct Directive {
  Conv conv = Conv::kInvalid;
  size_t end = 0;  // index just after the conversion character
  bool left = false, plus = false, space = false, alt = false, zero = false;
  bool widthStar = false, precisionStar = false, hasPrecision = false;
  int width = 0;
  int precision = 0;
  uint8_t bits = 32;  // width of an integer conversion
  char16_t letter = 0;
};

constexpr bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Parses the directive that starts at f[pos] == '%'.
constexpr Directive parseDirective(std::u16string_view f, size_t pos) {
  Directive d;
  size_t i = pos + 1;
  if (i < f.size() && f[i] == u'%') {
    d.conv = Conv::kPercent;
    d.end = i + 1;
    return d;
  }
  for (; i < f.size(); ++i) {
    const char16_t c = f[i];
    if (c == u'-') d.left = true;
    else if (c == u'+') d.plus = true;
    else if (c == u' ') d.space = true;
    else if (c == u'#') d.alt = true;
    else if (c == u'0') d.zero = true;
    else break;
  }
  if (i < f.size() && f[i] == u'*') {
    d.widthStar = true;
    ++i;
  } else {
    while (i < f.size() && isDigit(f[i]) && d.width < 100000) d.width = d.width * 10 + (f[i++] - u'0');
  }
  if (i < f.size() && f[i] == u'.') {
    d.hasPrecision = true;
    ++i;
    if (i < f.size() && f[i] == u'*') {
      d.precisionStar = true;
      ++i;
    } else {
      while (i < f.size() && isDigit(f[i]) && d.precision < 100000) d.precision = d.precision * 10 + (f[i++] - u'0');
    }
  }
  // Length modifier. 0 = none, 'h', 'H' (hh), 'l', 'L' (ll / I64), 'w'.
  char16_t len = 0;
  if (i < f.size()) {
    if (f[i] == u'h') {
      len = u'h';
      ++i;
      if (i < f.size() && f[i] == u'h') len = u'H', ++i;
    } else if (f[i] == u'l') {
      len = u'l';
      ++i;
      if (i < f.size() && f[i] == u'l') len = u'L', ++i;
    } else if (f[i] == u'w') {
      len = u'w', ++i;
    } else if (f[i] == u'z' || f[i] == u'j' || f[i] == u't') {
      len = u'L', ++i;
    } else if (f[i] == u'I') {
      if (i + 2 < f.size() && f[i + 1] == u'6' && f[i + 2] == u'4') len = u'L', i += 3;
      else if (i + 2 < f.size() && f[i + 1] == u'3' && f[i + 2] == u'2') len = u'l', i += 3;
      else len = u'L', ++i;  // plain I: pointer-sized on x64
    }
  }
  if (i >= f.size()) {  // incomplete directive: all of it is the fault
    d.end = f.size();
    return d;
  }
  d.letter = f[i];
  d.end = i + 1;
  switch (f[i]) {
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
      if (len == u'w') return d;
      d.conv = (f[i] == u'd' || f[i] == u'i') ? Conv::kSigned : Conv::kUnsigned;
      d.bits = len == u'H' ? 8 : len == u'h' ? 16 : len == u'L' ? 64 : 32;
      return d;
    case u'c':
      d.conv = len == u'h' ? Conv::kNarrowChar : Conv::kWideChar;
      return d;
    case u'C':
      d.conv = (len == u'l' || len == u'w') ? Conv::kWideChar : Conv::kNarrowChar;
      return d;
    case u's':
      d.conv = len == u'h' ? Conv::kNarrowString : Conv::kWideString;
      return d;
    case u'S':
      d.conv = (len == u'l' || len == u'w') ? Conv::kWideString : Conv::kNarrowString;
      return d;
    case u'p':
      d.conv = Conv::kPointer;
      return d;
    default:
      return d;  // floating point, %n and unknown letters are not supported
  }
}

constexpr bool isIntegral(ArgType t) {
  return t == ArgType::kSignedInt || t == ArgType::kUnsignedInt || t == ArgType::kWideChar ||
         t == ArgType::kNarrowChar;
}

// Whether an argument may feed a star width or precision.
constexpr bool fitsStar(const ArgInfo& a) { return isIntegral(a.type) && a.size <= 4; }

// Whether an argument may feed a directive.
constexpr bool accepts(const Directive& d, const ArgInfo& a) {
  switch (d.conv) {
    case Conv::kSigned:
    case Conv::kUnsigned:
      return isIntegral(a.type) && (a.size <= 4 || d.bits == 64);
    case Conv::kWideChar:
      return (isIntegral(a.type) && a.size <= 4) || a.type == ArgType::kWideString;
    case Conv::kNarrowChar:
      return (isIntegral(a.type) && a.size <= 4) || a.type == ArgType::kNarrowString;
    case Conv::kWideString:
      return a.type == ArgType::kWideString;
    case Conv::kNarrowString:
      return a.type == ArgType::kNarrowString;
    case Conv::kPointer:
      return a.type == ArgType::kPointer || a.fromPointer;
    default:
      return false;
  }
}

// Returns -1 when every directive finds an argument of a fitting type and
// every argument is used, else the position in the format of the first fault.
constexpr long checkFormat(std::u16string_view f, const ArgInfo* args, size_t count) {
  size_t next = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != u'%') continue;
    const Directive d = parseDirective(f, i);
    if (d.conv == Conv::kInvalid) return static_cast<long>(i);
    if (d.conv == Conv::kPercent) {
      i = d.end - 1;
      continue;
    }
    if (d.widthStar) {
      if (next >= count || !fitsStar(args[next])) return static_cast<long>(i);
      ++next;
    }
    if (d.precisionStar) {
      if (next >= count || !fitsStar(args[next])) return static_cast<long>(i);
      ++next;
    }
    if (next >= count || !accepts(d, args[next])) return static_cast<long>(i);
    ++next;
    i = d.end - 1;
  }
  return next == count ? -1 : static_cast<long>(f.size());
}

template <class T>
consteval ArgInfo infoOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_array_v<U>) {
    using E = std::remove_cv_t<std::remove_extent_t<U>>;
    if constexpr (std::is_same_v<E, char16_t>) return {ArgType::kWideString, 0, false};
    else if constexpr (std::is_same_v<E, char>) return {ArgType::kNarrowString, 0, false};
    else return {ArgType::kPointer, 0, false};
  } else if constexpr (std::is_same_v<U, bool>) {
    return {ArgType::kUnsignedInt, 1, false};
  } else if constexpr (std::is_same_v<U, char16_t>) {
    return {ArgType::kWideChar, 2, false};
  } else if constexpr (std::is_same_v<U, char>) {
    return {ArgType::kNarrowChar, 1, false};
  } else if constexpr (std::is_enum_v<U>) {
    return infoOf<std::underlying_type_t<U>>();
  } else if constexpr (std::is_integral_v<U>) {
    static_assert(!std::is_same_v<U, wchar_t> && !std::is_same_v<U, char32_t> && !std::is_same_v<U, char8_t>,
                  "wchar_t, char32_t and char8_t have no directive here");
    return {std::is_signed_v<U> ? ArgType::kSignedInt : ArgType::kUnsignedInt, static_cast<uint8_t>(sizeof(U)), false};
  } else if constexpr (std::is_same_v<U, std::u16string> || std::is_same_v<U, std::u16string_view>) {
    return {ArgType::kWideString, 0, false};
  } else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view>) {
    return {ArgType::kNarrowString, 0, false};
  } else if constexpr (std::is_pointer_v<U>) {
    using E = std::remove_cv_t<std::remove_pointer_t<U>>;
    if constexpr (std::is_same_v<E, char16_t>) return {ArgType::kWideString, 0, true};
    else if constexpr (std::is_same_v<E, char>) return {ArgType::kNarrowString, 0, true};
    else return {ArgType::kPointer, 0, false};
  } else if constexpr (std::is_null_pointer_v<U>) {
    return {ArgType::kPointer, 0, false};
  } else {
    static_assert(sizeof(U) == 0, "this argument type cannot be formatted");
    return {};
  }
}

template <class C, size_t N>
constexpr size_t boundedLength(const C (&s)[N]) {
  size_t n = 0;
  while (n < N && s[n] != C{}) ++n;
  return n;
}

template <class T>
Arg makeArg(const T& v) {
  using U = std::remove_cvref_t<T>;
  Arg a{};
  a.info = infoOf<T>();
  if constexpr (std::is_array_v<U>) {
    a.p = v;
    a.length = boundedLength(v);
  } else if constexpr (std::is_enum_v<U>) {
    return makeArg(static_cast<std::underlying_type_t<U>>(v));
  } else if constexpr (std::is_integral_v<U>) {
    if constexpr (std::is_signed_v<U>) a.i = v;
    else a.u = v;
  } else if constexpr (std::is_same_v<U, std::u16string> || std::is_same_v<U, std::u16string_view> ||
                       std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view>) {
    a.p = v.data();
    a.length = v.size();
  } else if constexpr (std::is_pointer_v<U>) {
    a.p = v;
    a.length = kUnknownLength;
  } else {
    a.p = nullptr;
  }
  return a;
}

[[noreturn]] void formatStringDoesNotMatchArguments();  // never defined: a compile-time error

void vformatTo(std::u16string& out, std::u16string_view format, const Arg* args, size_t count);

}  // namespace fmt_detail

template <class... Args>
class BasicFormatString {
 public:
  template <class S>
    requires std::is_convertible_v<const S&, std::u16string_view>
  consteval BasicFormatString(const S& s) : text_(s) {  // NOLINT: implicit on purpose, like std::format_string
    constexpr fmt_detail::ArgInfo infos[sizeof...(Args) + 1] = {fmt_detail::infoOf<Args>()..., fmt_detail::ArgInfo{}};
    if (fmt_detail::checkFormat(text_, infos, sizeof...(Args)) != -1) fmt_detail::formatStringDoesNotMatchArguments();
  }
  constexpr std::u16string_view get() const { return text_; }

 private:
  std::u16string_view text_;
};

template <class... Args>
using FormatString = BasicFormatString<std::type_identity_t<Args>...>;

template <class... Args>
void formatTo(std::u16string& out, FormatString<Args...> format, const Args&... args) {
  const fmt_detail::Arg packed[sizeof...(Args) + 1] = {fmt_detail::makeArg(args)..., fmt_detail::Arg{}};
  fmt_detail::vformatTo(out, format.get(), packed, sizeof...(Args));
}

template <class... Args>
std::u16string format(FormatString<Args...> format, const Args&... args) {
  std::u16string out;
  formatTo<Args...>(out, format, args...);
  return out;
}

// For formats that are not literals (tests, tools): checked per directive at
// run time.
template <class... Args>
std::u16string formatRuntime(std::u16string_view format, const Args&... args) {
  const fmt_detail::Arg packed[sizeof...(Args) + 1] = {fmt_detail::makeArg(args)..., fmt_detail::Arg{}};
  std::u16string out;
  fmt_detail::vformatTo(out, format, packed, sizeof...(Args));
  return out;
}

}  // namespace quil
