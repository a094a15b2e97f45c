// The description of the medium, kept in a hidden file of the disc folder.
#include "disc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <tuple>
#include <fstream>
#include <sstream>

#include "beneath.h"
#include "disc_image.h"
#include "text/utf.h"

namespace quil::emulator {

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

uint8_t MediumDescription::mediumTypeCode() const {
  // Write-once media report one of the R codes.
  if (writeOnce) return mediumType == 'S' || mediumType == 'W' ? 0x52 : static_cast<uint8_t>(mediumType);
  return static_cast<uint8_t>(mediumType);
}

namespace {

// The lines of a description over `m`: what the file does not say stays.
MediumDescription parsed(const std::string& content, MediumDescription m) {
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) {
    line = trimmed(line);
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "medium" && !value.empty()) m.mediumType = value[0];
    else if (key == "write-once") m.writeOnce = value == "yes";
    else if (key == "writable") m.writable = value == "yes";
    else if (key == "firmware") m.firmware = value;
    else if (key == "label") m.label = fromUtf8(value);
    else if (key == "capacity") m.capacity = std::strtoull(value.c_str(), nullptr, 10);
    else if (key == "is23mode-check") m.is23ModeCheckOk = value == "ok";
    else if (key == "clip-limit") m.clipLimit = std::strtoull(value.c_str(), nullptr, 10);
  }
  return m;
}

// An image's description lies beside it (IMAGE.quil-medium), where one was
// written; else the medium holds what the image holds. Whatever it says, an
// image is never written, and its label is the UDF volume identifier.
std::optional<MediumDescription> imageMedium(const std::string& imagePath) {
  const auto image = DiscImage::open(imagePath);
  if (!image) return std::nullopt;
  MediumDescription defaults;
  defaults.capacity = image->bytes();
  std::ifstream side(imagePath + std::string(kMediumFileName), std::ios::binary);
  std::ostringstream content;
  if (side) content << side.rdbuf();
  MediumDescription m = parsed(content.str(), defaults);
  m.writable = false;
  m.label = image->volumeIdentifier();
  return m;
}

}  // namespace

std::optional<MediumDescription> MediumDescription::load(const std::string& discFolder) {
  // Asked at every writer call and driver control: the file is read again
  // only when it changed (a save replaces it, so a new inode at least).
  const std::string file = discFolder + "/" + std::string(kMediumFileName);
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) {
    // No folder to hold the file: the disc may be an image.
    return errno == ENOTDIR && DiscImage::isImage(discFolder) ? imageMedium(discFolder) : std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  auto stamp = std::make_tuple(st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                                     st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  static std::mutex& mutex = *new std::mutex;
  static auto& known = *new std::map<std::string, std::pair<decltype(stamp), MediumDescription>>;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = known.find(file);
    if (it != known.end() && it->second.first == stamp) return it->second.second;
  }
  // The description is the emulator's own file, but it lies in the disc
  // folder all the same: a link in its place is no description.
  const auto content = readWholeBeneath(discFolder, file);
  if (!content) return std::nullopt;
  MediumDescription m = parsed(*content, MediumDescription{});
  std::lock_guard<std::mutex> lock(mutex);
  known[file] = {stamp, m};
  return m;
}

bool MediumDescription::save(const std::string& discFolder) const {
  if (DiscImage::isImage(discFolder)) return false;  // an image is never written
  std::ostringstream text;
  text << "# The medium of this emulated disc.\n"
       << "medium=" << mediumType << "\n"
       << "write-once=" << (writeOnce ? "yes" : "no") << "\n"
       << "writable=" << (writable ? "yes" : "no") << "\n"
       << "firmware=" << firmware << "\n"
       << "label=" << toUtf8(label) << "\n"
       << "capacity=" << capacity << "\n"
       << "is23mode-check=" << (is23ModeCheckOk ? "ok" : "failed") << "\n"
       << "clip-limit=" << clipLimit << "\n";
  const std::string bytes = text.str();
  // A temporary of this save's own, flushed to the disc before it replaces
  // the description: a crash or a concurrent save never leaves it half written.
  // Made and renamed relative to the disc folder's descriptor: neither
  // name is ever followed as a link.
  static std::atomic<uint64_t> serial{0};
  const Descriptor dir(::open(discFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return false;
  const std::string name(kMediumFileName);
  const std::string temp = name + "." + std::to_string(getpid()) + "." + std::to_string(serial++) + ".new";
  const int fd = ::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
    ::unlinkat(dir.get(), temp.c_str(), 0);
    return false;
  }
  ::fsync(dir.get());
  return true;
}

}  // namespace quil::emulator
