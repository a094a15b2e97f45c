// The formatter with any format string: every directive, width, precision
// and length modifier against a fixed set of arguments of every kind. A
// directive the arguments cannot satisfy prints "%!"; nothing may read past
// an argument or a string's bound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string format(size / 2, u'\0');
  for (size_t i = 0; i + 1 < size; i += 2) format[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const char16_t wide[4] = {u'a', u'b', u'c', u'd'};  // not terminated: bounded by its array
  const char narrow[3] = {'x', 'y', 'z'};
  const std::u16string text = u"text";
  const int64_t big = -1234567890123;
  const void* pointer = data;
  (void)quil::formatRuntime(format, 42, static_cast<uint32_t>(7), big, wide, narrow, text, pointer, u'Q', 'q',
                            static_cast<int16_t>(-3), true);
  return 0;
}
