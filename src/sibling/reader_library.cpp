#include "sibling/reader_library.h"

#include "quil/sibling/quilreader.h"

namespace quil::sibling {

const ReaderLibrary& readerLibrary() {
  static const ReaderLibrary real = {&QUIL_CreateFile,
                                     &QUIL_CloseHandle,
                                     &QUIL_ReadFile,
                                     &QUIL_SetFilePointer,
                                     &QUIL_GetLastErrorWithMessage,
                                     &QUIL_SetLastErrorWithMessage};
  return real;
}

}  // namespace quil::sibling
