// Disc images from the fuzzer's bytes: each input is written to a file of
// its own and opened as a disc image, then walked: every folder listed (a
// few levels down, so that a folder holding itself ends), every file opened
// and read whole in pieces and at its end, the disc's metadata read. A
// damaged image may fail anywhere, but never crash, hang, leak or read
// outside the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "disc.h"
#include "disc_image.h"
#include "quil/emulator_control.h"

namespace {

namespace fs = std::filesystem;

fs::path gFolder;

void walk(quil::emulator::DiscImage& image, const std::u16string& folder, int depth) {
  const auto where = image.locate(folder);
  if (!where || !where->exists || !where->directory) return;
  std::vector<char> buffer(65536);
  for (const auto& e : image.entries(*where)) {
    const std::u16string path = folder + u"\\" + e.name;
    if (e.directory) {
      if (depth < 6) walk(image, path, depth + 1);
      continue;
    }
    const auto file = image.locate(path);
    if (!file || !file->exists) continue;
    const auto opened = image.openFile(*file);
    if (!opened) continue;
    if (opened->size() != e.size) std::abort();  // one entry, one size
    // The first megabyte in pieces, then the last bytes and past the end.
    for (int64_t at = 0; at < std::min<int64_t>(opened->size(), 1 << 20); at += static_cast<int64_t>(buffer.size())) {
      if (opened->read(buffer.data(), buffer.size(), at) <= 0) break;
    }
    const ssize_t tail = opened->read(buffer.data(), buffer.size(), std::max<int64_t>(0, opened->size() - 100));
    if (tail > 100) std::abort();
    if (opened->read(buffer.data(), buffer.size(), opened->size() + 1) != 0) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gFolder = fs::path("/dev/shm").string() + "/quil-image-fuzz-" + std::to_string(getpid());
  fs::create_directories(gFolder);
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gFolder, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A new file each time: an image rewritten in place within one clock tick
  // keeps its size and time, and would be taken for the one before.
  static unsigned long count = 0;
  const std::string path = (gFolder / ("image-" + std::to_string(++count))).string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  if (size != 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::close(fd);
  std::string why;
  if (const auto image = quil::emulator::DiscImage::open(path, &why)) {
    walk(*image, u"", 0);
    image->readWhole(u"\\DISCMETA.XML");
    (void)quil::emulator::clipIdentifier(path, u"C0001");
    (void)quil::emulator::MediumDescription::load(path);
  } else if (why.empty()) {
    std::abort();  // a refused image always says why
  }
  (void)quil::emulator::imageProblem(path);
  ::unlink(path.c_str());
  return 0;
}
