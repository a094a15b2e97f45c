// The disc's identifier and the stable identifiers of its clips.
#include "disc.h"

#include "beneath.h"
#include "disc_image.h"
#include "text/format.h"
#include "text/utf.h"

namespace quil::emulator {

std::string discIdentifier(const std::string& discFolder) {
  std::string text;
  if (DiscImage::isImage(discFolder)) {
    if (const auto image = DiscImage::open(discFolder)) text = image->readWhole(u"\\DISCMETA.XML").value_or(std::string());
  } else {
    text = readWholeBeneath(discFolder, discFolder + "/DISCMETA.XML").value_or(std::string());
  }
  const size_t element = text.find("<KeldaIdRef");
  if (element == std::string::npos) return std::string();
  const size_t value = text.find("value=\"", element);
  if (value == std::string::npos) return std::string();
  const size_t end = text.find('"', value + 7);
  return end == std::string::npos ? std::string() : text.substr(value + 7, end - value - 7);
}

std::u16string clipIdentifier(const std::string& discFolder, std::u16string_view clipName) {
  constexpr uint64_t kBasis = 14695981039346656037ull;
  constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t high = kBasis;
  for (char16_t c : foldName(clipName)) {
    high ^= static_cast<uint64_t>(c);
    high *= kPrime;
  }
  uint64_t low = kBasis;
  for (unsigned char c : discIdentifier(discFolder)) {
    low ^= c;
    low *= kPrime;
  }
  return quil::format(u"060A2B340101010501010D4313%016llX%016llX", high, low);
}

}  // namespace quil::emulator
