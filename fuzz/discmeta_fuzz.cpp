// DISCMETA.XML parsing with any bytes, as the volume opening hands them to
// the writer library: a parse fails or succeeds, it never throws anything
// but what the catching frame takes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "quil/sibling/quilwriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string discId;
  bool current = false;
  try {
    (void)QUILWriter::parseDiscmeta(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), discId, current);
  } catch (const QUILWriter::QUILWriterException&) {
  }
  return 0;
}
