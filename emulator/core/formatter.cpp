// Making a fresh, empty disc in a folder.
#include "disc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>

#include "beneath.h"
#include "text/format.h"
#include "text/utf.h"

namespace quil::emulator {

namespace {

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

namespace fs = std::filesystem;

std::string formatDisc(const std::string& folder, const MediumDescription& medium) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create " + folder + ": " + ec.message();
  // The folder named is the caller's own and may be reached through links;
  // below it, every entry is made relative to its descriptor, never
  // replacing or following an entry that appeared meanwhile.
  const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return "cannot open " + folder + ": " + std::strerror(errno);
  // A disc made anew where another was: a descriptor still held of that
  // one is let go.
  struct stat st {};
  if (::fstat(dir.get(), &st) == 0) {
    confirmDiscFolder(folder, st);
    confirmDiscFolder(fs::canonical(folder, ec).string(), st);
  }
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
