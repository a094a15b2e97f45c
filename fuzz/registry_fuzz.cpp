// The .reg settings parser with any bytes: the settings key and the values
// the log file manager reads.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto registry =
      quil::platform::Registry::fromText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::u16string key = u"SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc";
  (void)registry.keyExists(key);
  (void)registry.readDword(key, u"LogLevel");
  (void)registry.readDword(key, u"MaxLogFileSize");
  (void)registry.readString(key, u"LogFolder", 32768 * sizeof(char16_t));
  return 0;
}
