#include "disc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "beneath.h"
#include "disc_segment.h"
#include "folder_names.h"
#include "platform/drive_folder.h"
#include "text/case_fold.h"
#include "text/format.h"
#include "text/utf.h"

namespace quil::emulator {

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// The whole content of a file below the disc folder, reached without
// following a link; nullopt when it cannot be read.
std::optional<std::string> readBeneath(const std::string& discFolder, const std::string& host) {
  const Descriptor fd(openBeneath(discFolder, host, O_RDONLY));
  if (!fd) return std::nullopt;
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

// Local time with its zone, as the disc metadata carries it:
// 2026-12-06T09:30:00+09:00, or ...Z at UTC.
std::string localDateText() {
  const time_t t = time(nullptr);
  struct tm parts {};
  localtime_r(&t, &parts);
  long offset = parts.tm_gmtoff;  // seconds east
  std::u16string zone = u"Z";
  if (offset != 0) {
    const char16_t sign = offset > 0 ? u'+' : u'-';
    if (offset < 0) offset = -offset;
    zone = quil::format(u"%c%02ld:%02ld", sign, static_cast<int32_t>(offset / 3600),
                        static_cast<int32_t>((offset / 60) % 60));
  }
  return toUtf8(quil::format(u"%04d-%02d-%02dT%02d:%02d:%02d%ls", parts.tm_year + 1900, parts.tm_mon + 1,
                             parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, zone));
}

const char* const kRootXml[] = {"INDEX.XML", "ALIAS.XML", "DISCMETA.XML", "MEDIAPRO.XML", "SYSPRO.XML"};
const char* const kFolders[] = {"CLIP", "SUB", "COMPONENT", "EDIT", "USERDATA", "GENERAL", "KELDA"};

}  // namespace

std::u16string foldName(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) c = quil::toUpper(c);
  return out;
}

bool nameAllowed(std::u16string_view name) {
  if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
  if (name.back() == u' ' || name.back() == u'.') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 0x20) return false;  // NUL and the control characters
    // A lone surrogate has no UTF-8 form: two such names would meet in one
    // host file.
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
      continue;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    switch (c) {
      case u'<': case u'>': case u':': case u'"': case u'/': case u'\\': case u'|': case u'?': case u'*':
        return false;
      default:
        break;
    }
  }
  // The emulator's own files are not part of the medium, in any case: names
  // match without regard to case, so ".QUIL-MEDIUM" would reach them too.
  return !isEmulatorFile(name);
}

bool isEmulatorFile(std::u16string_view name) {
  return name.size() >= 5 && foldName(name.substr(0, 5)) == u".QUIL";
}

std::optional<ResolvedPath> resolvePath(const std::string& discFolder, std::u16string_view volumePath,
                                        bool* throughLink) {
  if (throughLink != nullptr) *throughLink = false;
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= volumePath.size()) {
    size_t end = volumePath.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = volumePath.size();
    const std::u16string_view component = volumePath.substr(start, end - start);
    if (!component.empty()) {
      if (!nameAllowed(component)) return std::nullopt;
      names.push_back(toUtf8(component));
    }
    if (end == volumePath.size()) break;
    start = end + 1;
  }
  const auto refusedAsLink = [&]() -> std::optional<ResolvedPath> {
    if (throughLink != nullptr) *throughLink = true;
    return std::nullopt;
  };
  ResolvedPath out;
  out.host = discFolder;
  out.exists = true;
  out.isDirectory = true;
  Descriptor dir(::open(discFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (names.empty()) {
    if (dir) ::fstat(dir.get(), &out.status);
    return out;
  }

  // A path that exists as spelled is what most calls name: the kernel walks
  // it in one step, refusing links, and no folder is read.
  if (dir) {
    std::string relative;
    for (const auto& name : names) relative += (relative.empty() ? "" : "/") + name;
    const int opened = openPathOfRelative(dir.get(), relative);
    const int error = errno;
    const Descriptor exact(opened >= 0 ? opened : -1);
    if (exact) {
      struct stat st {};
      if (::fstat(exact.get(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) return refusedAsLink();
        out.host += "/" + relative;
        out.isDirectory = S_ISDIR(st.st_mode);
        out.status = st;
        return out;
      }
    } else if (opened == -1 && error == ELOOP) {
      return refusedAsLink();
    }
  }

  // Otherwise one component at a time from the disc folder, without
  // following a link: the spelling given if it exists (an exact match wins
  // over others), else an entry that differs only in case, from the
  // folder's name index. Closed once the path leaves what exists.
  for (const auto& name : names) {
    std::optional<std::string> actual;
    struct stat st {};
    bool found = false;
    if (out.exists && out.isDirectory && dir) {
      if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        actual = name;
        found = true;
      } else {
        const auto candidates = namesFolding(dir.get(), toUtf8(foldName(fromUtf8(name))));
        if (!candidates.empty()) {
          actual = candidates.front();
          found = ::fstatat(dir.get(), actual->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        }
      }
    }
    out.host += "/" + (actual ? *actual : name);
    if (found) {
      // A real disc holds no links: one anywhere on the way refuses the path.
      if (S_ISLNK(st.st_mode)) return refusedAsLink();
      out.isDirectory = S_ISDIR(st.st_mode);
      out.status = st;
      if (out.isDirectory) {
        dir = Descriptor(::openat(dir.get(), actual->c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!dir && (errno == ENOTDIR || errno == ELOOP)) return refusedAsLink();  // a link swapped in meanwhile
      }
    } else {
      out.exists = false;  // not there, or gone meanwhile
      out.isDirectory = false;
    }
  }
  return out;
}

uint8_t MediumDescription::mediumTypeCode() const {
  // Write-once media report one of the R codes.
  if (writeOnce) return mediumType == 'S' || mediumType == 'W' ? 0x52 : static_cast<uint8_t>(mediumType);
  return static_cast<uint8_t>(mediumType);
}

std::optional<MediumDescription> MediumDescription::load(const std::string& discFolder) {
  // The description is the emulator's own file, but it lies in the disc
  // folder all the same: a link in its place is no description.
  const auto content = readBeneath(discFolder, discFolder + "/" + std::string(kMediumFileName));
  if (!content) return std::nullopt;
  std::istringstream in(*content);
  MediumDescription m;
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

bool MediumDescription::save(const std::string& discFolder) const {
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

std::optional<std::string> discFolderOfDrive(char16_t letter) {
  const auto link = quil::platform::driveLink(letter);
  if (!link) return std::nullopt;
  std::error_code ec;
  const fs::path target = fs::canonical(*link, ec);
  if (ec || !fs::is_directory(target, ec)) return std::nullopt;
  return target.string();
}

std::optional<std::string> discFolderOfRoot(std::u16string_view root) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.remove_suffix(1);
  if (root.size() == 2 && root[1] == u':') return discFolderOfDrive(root[0]);
  if (root.empty()) return std::nullopt;
  std::error_code ec;
  const fs::path folder = fs::path(toUtf8(root));
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  return fs::canonical(folder, ec).string();
}

namespace {

// The bytes of the files in the folder `dir` and below it. Every folder is
// opened relative to its parent without following a link, so that a link,
// even one swapped in while counting, never counts what lies outside.
uint64_t bytesBelow(int dir, int depth) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(listing), closedir);
  if (!d) {
    ::close(listing);
    return 0;
  }
  uint64_t total = 0;
  while (const dirent* e = readdir(d.get())) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    struct stat st {};
    if (::fstatat(dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && !isEmulatorFile(fromUtf8(e->d_name))) total += static_cast<uint64_t>(st.st_size);
    // Bounded, as a descriptor is held open for every level.
    if (S_ISDIR(st.st_mode) && depth < 128) {
      const Descriptor sub(::openat(dirfd(d.get()), e->d_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (sub) total += bytesBelow(sub.get(), depth + 1);
    }
  }
  return total;
}

}  // namespace

uint64_t usedBytes(const std::string& discFolder) {
  const Descriptor dir(::open(discFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return dir ? bytesBelow(dir.get(), 0) : 0;
}

SpaceAccount& SpaceAccount::of(const std::string& discFolder) {
  // Never destroyed: a recording that another library ends from its static
  // destructors at process exit still gives its room back here.
  static std::mutex& mutex = *new std::mutex;
  static auto& accounts = *new std::map<std::string, std::unique_ptr<SpaceAccount>>;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = accounts[discFolder];
  if (!slot) {
    slot.reset(new SpaceAccount(discFolder));  // private constructor: one account per disc
    slot->refresh();
  }
  return *slot;
}

SpaceAccount::SpaceAccount(std::string folder) : folder_(std::move(folder)), segment_(DiscSegment::of(folder_)) {}

void SpaceAccount::refresh() {
  const auto medium = MediumDescription::load(folder_);
  const uint64_t onDisc = usedBytes(folder_);
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  space.capacity = medium ? medium->capacity : 0;
  // Reservations still held by open files, of this process or another, are
  // not on the disc yet: never count less than the account already does,
  // only what was added outside.
  if (space.valid == 0 || onDisc > space.used) space.used = onDisc;
  space.valid = 1;
}

uint64_t SpaceAccount::reserve(uint64_t wanted) {
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  const uint64_t free = space.capacity > space.used ? space.capacity - space.used : 0;
  const uint64_t granted = wanted < free ? wanted : free;
  space.used += granted;
  return granted;
}

void SpaceAccount::release(uint64_t bytes) {
  DiscSegment::TableLock lock(segment_);
  SegmentSpace& space = segment_.space();
  space.used = bytes > space.used ? 0 : space.used - bytes;
}

uint64_t SpaceAccount::freeBytes() {
  DiscSegment::TableLock lock(segment_);
  const SegmentSpace& space = segment_.space();
  return space.capacity > space.used ? space.capacity - space.used : 0;
}

uint64_t SpaceAccount::capacity() {
  DiscSegment::TableLock lock(segment_);
  return segment_.space().capacity;
}

std::string formatDisc(const std::string& folder, const MediumDescription& medium) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create " + folder + ": " + ec.message();
  // The folder named is the caller's own and may be reached through links;
  // below it, every entry is made relative to its descriptor, never
  // replacing or following an entry that appeared meanwhile.
  const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return "cannot open " + folder + ": " + std::strerror(errno);
  {
    const int listing = ::openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<DIR, int (*)(DIR*)> d(listing >= 0 ? fdopendir(listing) : nullptr, closedir);
    if (!d) {
      if (listing >= 0) ::close(listing);
      return "cannot list " + folder;
    }
    while (const dirent* e = readdir(d.get())) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) return folder + " is not empty";
    }
  }
  for (const char* f : kFolders) {
    if (::mkdirat(dir.get(), f, 0777) != 0) return "cannot create " + std::string(f) + ": " + std::strerror(errno);
  }
  // A fresh identifier for the disc's AV tree.
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  const uint64_t unique = static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(getpid()) << 40);
  const std::string discId =
      toUtf8(quil::format(u"urn:smpte:umid:060A2B340101010501010D43130000%016llX", unique));
  const std::map<std::string, std::string> contents = {
      {"INDEX.XML",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<IndexTable xmlns=\"urn:schemas-orbelDisc:index:ver.1.10\">\n"
       "\t<ClipTable path=\"/CLIP/\"/>\n\t<EditlistTable path=\"/EDIT/\"/>\n</IndexTable>\n"},
      {"ALIAS.XML",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AliasTable xmlns=\"urn:schemas-orbelDisc:alias:ver.1.10\">\n"
       "</AliasTable>\n"},
      {"DISCMETA.XML",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DiscMeta xmlns=\"urn:schemas-orbelDisc:discMeta:ver.1.10\" "
       "xmlns:lib=\"urn:schemas-orbelDisc:lib:ver.1.40\">\n\t<KeldaIdRef value=\"" +
           discId + "\"/>\n\t<InitializedDate value=\"" + localDateText() + "\"/>\n</DiscMeta>\n"},
      {"MEDIAPRO.XML",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MediaProfile xmlns=\"urn:schemas-orbelDisc:mediaProfile:ver.1.20\">\n"
       "\t<Contents/>\n</MediaProfile>\n"},
      {"SYSPRO.XML",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SystemProfile xmlns=\"urn:schemas-orbelDisc:systemProfile:ver.1.00\">\n"
       "</SystemProfile>\n"},
  };
  for (const char* name : kRootXml) {
    const Descriptor fd(::openat(dir.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    const std::string& text = contents.at(name);
    size_t done = 0;
    while (fd && done < text.size()) {
      const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (!fd || done != text.size()) return std::string("cannot write ") + name;
  }
  if (!medium.save(folder)) return "cannot write the medium description";
  return std::string();
}

}  // namespace quil::emulator

namespace quil::emulator {

std::string discIdentifier(const std::string& discFolder) {
  const std::string text = readBeneath(discFolder, discFolder + "/DISCMETA.XML").value_or(std::string());
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
