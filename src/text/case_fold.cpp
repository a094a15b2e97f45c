#include "text/case_fold.h"

#include <locale.h>
#include <wctype.h>

namespace quil {

namespace {
// The locale that gives towupper its Unicode table; made once, never freed.
locale_t unicodeLocale() {
  static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return loc;
}
}  // namespace

char16_t toUpper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const locale_t loc = unicodeLocale();
  if (loc == static_cast<locale_t>(0)) return c;
  const wint_t up = towupper_l(static_cast<wint_t>(c), loc);
  // A mapping out of the plane cannot be one UTF-16 unit; keep the original.
  return up <= 0xFFFF ? static_cast<char16_t>(up) : c;
}

std::u16string toUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = toUpper(c);
  return out;
}

}  // namespace quil
