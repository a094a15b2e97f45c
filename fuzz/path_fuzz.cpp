// Volume path classification in both namings: any UTF-16 text, surrogates
// and NULs included. Whatever the kind, the names it gives are consistent.
// (Free naming may give an empty clip name: the path CLIP, M01.XML names
// the metadata of the clip with no name.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/file_name_manage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string path(size / 2, u'\0');
  for (size_t i = 0; i + 1 < size; i += 2) path[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  for (bool freeNaming : {false, true}) {
    const quil::files::FileNameManage name(path, freeNaming);
    if (name.fileKind() > quil::files::General) std::abort();
    // In strict naming a file of the AV tree is known by its numbered name
    // (a letter and four digits), which the open-file table hashes.
    if (!freeNaming && name.fileKind() >= quil::files::Clip && name.fileKind() <= quil::files::EdlNrtMeta &&
        name.clipName().size() != 5) {
      std::abort();
    }
  }
  return 0;
}
