// The reader library as a table of operations. The core calls the reader
// through this table so that a test can put a recording fake in its place
// and assert the exact order of calls, evictions and reopen positions.
#pragma once

#include <cstdint>

#include "quil/quilcoreapi.h"

namespace quil::sibling {

struct ReaderLibrary {
  int32_t (*createFile)(int32_t volume, const QUILCHAR* path, uint32_t access, uint32_t share, void* security,
                        uint32_t disposition, uint32_t flags, void* extra);
  int32_t (*closeHandle)(int32_t file);
  int32_t (*readFile)(int32_t file, void* buffer, uint32_t size, uint32_t* done);
  int32_t (*setFilePointer)(int32_t file, int64_t distance, int64_t* position, uint32_t method);
  int32_t (*getLastErrorWithMessage)(QUILCHAR* buffer, uint32_t length, uint32_t* textLength);
  void (*setLastErrorWithMessage)(int32_t code, const QUILCHAR* message);
};

// The real reader library.
const ReaderLibrary& readerLibrary();

}  // namespace quil::sibling
