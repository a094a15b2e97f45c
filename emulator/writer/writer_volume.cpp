// The writer side of a volume as a whole: opening it, checking its AV tree
// and its disc metadata, its label, and flushing it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <set>
#include <sstream>

#include "disc_segment.h"
#include "quil/emulator_control.h"
#include "share_registry.h"
#include "text/utf.h"
#include "writer_support.h"

namespace quilwriter {

namespace {

using quil::emulator::foldName;

constexpr const char* kAliasNamespace = "urn:schemas-orbelDisc:alias:ver.1.10";

// What DISCMETA.XML says, when it is a disc metadata document at all.
bool parseDiscMetaText(const char* text, size_t length, std::string& discId, bool& version100) {
  if (text == nullptr && length != 0) return false;
  pugi::xml_document doc;
  if (!doc.load_buffer(text, length, pugi::parse_default, pugi::encoding_utf8)) return false;
  const pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "DiscMeta") != 0) return false;
  const char* id = root.child("KeldaIdRef").attribute("value").value();
  if (*id == '\0') return false;
  discId = id;
  version100 = std::strcmp(root.attribute("xmlns").value(), kDiscMetaNamespace100) == 0;
  return true;
}

std::string readHostFile(const Disc& disc, const std::string& host) {
  std::string out;
  const int fd = quil::emulator::openBeneath(disc.folder, host, O_RDONLY);
  if (fd < 0) return out;
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

// A file of the disc by its volume path, empty when it is not there.
std::string readDiscFile(const Disc& disc, std::u16string_view path) {
  if (disc.image) return disc.image->readWhole(path).value_or(std::string());
  const auto found = resolve(disc, path);
  return found.exists && !found.isDirectory ? readHostFile(disc, found.host) : std::string();
}

// A new identifier of the same form as the formatter's.
std::string freshDiscId() {
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  const uint64_t unique = static_cast<uint64_t>(now) ^ (static_cast<uint64_t>(getpid()) << 40);
  char text[80];
  std::snprintf(text, sizeof text, "urn:smpte:umid:060A2B340101010501010D43130000%016llX",
                static_cast<unsigned long long>(unique));
  return text;
}

// ---------------------------------------------------------------------------
// The AV tree and its names that differ only in case
// ---------------------------------------------------------------------------

// A folder of the AV tree: its name, the numbering its files share (the
// prefix letter; 0 for the root) and the suffix each extension carries.
struct AvFolder {
  const char16_t* name;
  char16_t letter;
  std::map<std::u16string, std::u16string> suffixOf;  // upper-case extension -> suffix
};

const std::vector<AvFolder>& avFolders() {
  static const std::vector<AvFolder> folders = {
      {u"CLIP", u'C', {{u"MXF", u""}, {u"XML", u"M01"}, {u"KLV", u"M02"}}},
      {u"SUB", u'C', {{u"MXF", u"S01"}}},
      {u"COMPONENT", u'P', {{u"MXF", u""}}},
      {u"EDIT", u'E', {{u"SMI", u"E01"}, {u"XML", u"M01"}}},
  };
  return folders;
}

// One file name taken apart: stem, suffix and extension as given.
struct NameParts {
  std::u16string stem;
  std::u16string suffix;
  std::u16string extension;  // without the dot; empty when there is none
  bool hasDot = false;
};

NameParts split(const std::u16string& name, const AvFolder* folder) {
  NameParts p;
  const size_t dot = name.rfind(u'.');
  std::u16string base = dot == std::u16string::npos ? name : name.substr(0, dot);
  if (dot != std::u16string::npos) {
    p.extension = name.substr(dot + 1);
    p.hasDot = true;
  }
  if (folder != nullptr) {
    const auto it = folder->suffixOf.find(foldName(p.extension));
    if (it != folder->suffixOf.end() && !it->second.empty() && base.size() > it->second.size() &&
        foldName(base.substr(base.size() - it->second.size())) == it->second) {
      p.suffix = base.substr(base.size() - it->second.size());
      base.resize(base.size() - it->second.size());
    }
  }
  p.stem = base;
  return p;
}

// The number of a stem of the numbered form (C0001, P0001, E0001), else -1.
int numberOf(const std::u16string& stem, char16_t letter) {
  if (letter == 0 || stem.size() != 5 || foldName(stem.substr(0, 1))[0] != letter) return -1;
  int n = 0;
  for (size_t i = 1; i < 5; ++i) {
    if (stem[i] < u'0' || stem[i] > u'9') return -1;
    n = n * 10 + (stem[i] - u'0');
  }
  return n;
}

struct Entry {
  std::string hostName;  // as on the host, UTF-8
  std::u16string name;
  bool directory = false;
  bool link = false;  // a symbolic link: never followed, no part of a disc
};

// The entries of a folder below the disc folder, opened and examined without
// following a link.
std::vector<Entry> listFolder(const Disc& disc, const std::string& host, std::u16string_view path) {
  std::vector<Entry> out;
  if (disc.image) {
    const auto folder = disc.image->locate(path);
    if (!folder) return out;
    for (const auto& e : disc.image->entries(*folder)) {
      out.push_back(Entry{quil::toUtf8(e.name), e.name, e.directory, false});
    }
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.hostName < b.hostName; });
    return out;
  }
  const int fd = quil::emulator::openBeneath(disc.folder, host, O_RDONLY | O_DIRECTORY);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fd >= 0 ? fdopendir(fd) : nullptr, closedir);
  if (!dir) {
    if (fd >= 0) ::close(fd);
    return out;
  }
  while (dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name.rfind(".quil", 0) == 0) continue;  // the emulator's own files
    struct stat st {};
    const bool found = fstatat(dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    out.push_back(Entry{name, quil::fromUtf8(name), found && S_ISDIR(st.st_mode), found && S_ISLNK(st.st_mode)});
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.hostName < b.hostName; });
  return out;
}

struct ScannedFolder {
  const AvFolder* folder;  // null: the root
  std::u16string name;     // "" for the root
  std::string host;
  std::vector<Entry> files;
};

struct PlannedRename {
  const ScannedFolder* folder;
  std::string oldHostName;
  QUILWriter::QUIL_AliasRename::Rename rename;
};

// Files of one folder whose names differ only in case cannot both exist
// on the medium: the first in byte order keeps its name, each other gets a
// free name of the same kind. Files that shared a stem get the same new
// stem, so that a clip keeps its metadata.
class RenamePlanner {
 public:
  explicit RenamePlanner(const std::vector<ScannedFolder>& scanned) {
    for (const auto& s : scanned) {
      const char16_t letter = s.folder != nullptr ? s.folder->letter : 0;
      for (const auto& e : s.files) {
        const NameParts p = split(e.name, s.folder);
        usedStems_[letter].insert(foldName(p.stem));
        usedNames_[&s].insert(foldName(e.name));
        highest_[letter] = std::max(highest_[letter], numberOf(p.stem, letter));
      }
    }
  }

  std::vector<PlannedRename> plan(const std::vector<ScannedFolder>& scanned) {
    std::vector<PlannedRename> out;
    for (const auto& s : scanned) {
      std::map<std::u16string, std::vector<const Entry*>> groups;
      for (const auto& e : s.files) groups[foldName(e.name)].push_back(&e);
      for (const auto& [folded, members] : groups) {
        for (size_t i = 1; i < members.size(); ++i) {  // sorted: the first keeps its name
          const std::u16string newName = newNameFor(s, members[i]->name);
          out.push_back(PlannedRename{&s, members[i]->hostName, {s.name, members[i]->name, newName}});
        }
      }
    }
    return out;
  }

 private:
  std::u16string newNameFor(const ScannedFolder& s, const std::u16string& name) {
    const char16_t letter = s.folder != nullptr ? s.folder->letter : 0;
    const NameParts p = split(name, s.folder);
    if (s.folder == nullptr) {
      // A root file: a numbered name beside the original.
      for (int n = 1;; ++n) {
        const std::u16string candidate =
            p.stem + u"_" + quil::fromUtf8(std::to_string(n)) + (p.hasDot ? u"." + p.extension : u"");
        if (usedNames_[&s].insert(foldName(candidate)).second) return candidate;
      }
    }
    const std::u16string key = std::u16string(1, letter) + u"/" + p.stem;
    auto it = newStems_.find(key);
    if (it == newStems_.end()) it = newStems_.emplace(key, newStem(letter, p.stem)).first;
    const std::u16string& stem = it->second;
    if (numberOf(stem, letter) >= 0) return stem + foldName(p.suffix) + u"." + foldName(p.extension);
    return stem + p.suffix + u"." + p.extension;
  }

  // The next free number after the highest in use, else the lowest free
  // one; a stem outside the numbered form gets "_1", "_2", ...
  std::u16string newStem(char16_t letter, const std::u16string& stem) {
    auto& used = usedStems_[letter];
    if (numberOf(stem, letter) >= 0) {
      const auto numbered = [letter](int n) {
        char16_t text[6] = {letter, 0, 0, 0, 0, 0};
        for (int i = 4; i >= 1; --i, n /= 10) text[i] = static_cast<char16_t>(u'0' + n % 10);
        return std::u16string(text, 5);
      };
      for (int n = highest_[letter] + 1; n <= 9999; ++n) {
        if (used.insert(numbered(n)).second) {
          highest_[letter] = n;
          return numbered(n);
        }
      }
      for (int n = 1; n <= 9999; ++n) {
        if (used.insert(numbered(n)).second) return numbered(n);
      }
    }
    for (int n = 1;; ++n) {
      const std::u16string candidate = stem + u"_" + quil::fromUtf8(std::to_string(n));
      if (used.insert(foldName(candidate)).second) return candidate;
    }
  }

  std::map<char16_t, std::set<std::u16string>> usedStems_;
  std::map<const ScannedFolder*, std::set<std::u16string>> usedNames_;
  std::map<char16_t, int> highest_;
  std::map<std::u16string, std::u16string> newStems_;
};

// ALIAS.XML after the renames: the entries it had, then one Alias element
// per rename, naming the file as it was (name) and as it is now (alias).
std::vector<uint8_t> aliasTableWith(const std::string& existing, const std::vector<PlannedRename>& renames) {
  pugi::xml_document doc;
  pugi::xml_node table;
  if (doc.load_buffer(existing.data(), existing.size()) &&
      std::strcmp(doc.document_element().name(), "AliasTable") == 0) {
    table = doc.document_element();
  } else {
    doc.reset();
    auto decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    table = doc.append_child("AliasTable");
    table.append_attribute("xmlns") = kAliasNamespace;
  }
  for (const auto& r : renames) {
    auto alias = table.append_child("Alias");
    alias.append_attribute("directory") = quil::toUtf8(r.rename.directory).c_str();
    alias.append_attribute("name") = quil::toUtf8(r.rename.oldName).c_str();
    alias.append_attribute("alias") = quil::toUtf8(r.rename.newName).c_str();
  }
  std::ostringstream out;
  doc.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
  const std::string text = out.str();
  return std::vector<uint8_t>(text.begin(), text.end());
}

bool supportedExtension(const std::u16string& name) {
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || name.size() - dot != 4) return false;
  const std::u16string ext = foldName(name.substr(dot + 1));
  return ext == u"MXF" || ext == u"XML" || ext == u"KLV" || ext == u"SMI";
}

std::vector<ScannedFolder> scanTree(const Disc& disc) {
  std::vector<ScannedFolder> scanned;
  ScannedFolder root{nullptr, u"", disc.folder, {}};
  for (auto& e : listFolder(disc, disc.folder, u"\\")) {
    if (e.link) QW_FAIL(kUnsupportedTree, "a link, " + e.hostName + ", stands at the root of the disc");
    if (!e.directory) root.files.push_back(std::move(e));
  }
  scanned.push_back(std::move(root));
  for (const auto& folder : avFolders()) {
    // A link in the place of the folder is no folder of the AV tree.
    const std::u16string avPath = volumePath(u"", folder.name);
    const auto path = resolve(disc, avPath);
    if (!path.exists || !path.isDirectory) {
      QW_FAIL(kUnsupportedTree, "the AV tree has no " + quil::toUtf8(folder.name) + " folder");
    }
    ScannedFolder s{&folder, folder.name, path.host, {}};
    for (auto& e : listFolder(disc, path.host, avPath)) {
      if (e.directory || e.link || !supportedExtension(e.name)) {
        QW_FAIL(kUnsupportedTree, "unsupported entry " + e.hostName + " in " + quil::toUtf8(folder.name));
      }
      s.files.push_back(std::move(e));
    }
    scanned.push_back(std::move(s));
  }
  return scanned;
}

}  // namespace

}  // namespace quilwriter

namespace QUILWriter {

using namespace quilwriter;

void CreateVolume(const std::u16string& root, const _Volume_Param& param, Media_Param_& media,
                  QUILCacheReader* reader) {
  EntryPoint entry("QUILWriter::CreateVolume");
  const Disc disc = openDisc(root);
  // Complete what the caller could not learn from the drive.
  if (media.mediumType == 0) {
    media.mediumType = disc.medium.mediumTypeCode();
    media.isRMedia = disc.medium.writeOnce;
  }
  if (media.fwVersion == 0 && disc.medium.firmware.size() == 4 &&
      std::all_of(disc.medium.firmware.begin(), disc.medium.firmware.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    media.fwVersion = static_cast<uint32_t>(std::stoul(disc.medium.firmware));
  }
  quil::emulator::SpaceAccount::of(disc.folder).refresh();
  rememberVolume(disc.folder, param, reader);
}

void CreateVolumeEnd() {
  try {
    markLastVolumeReady();
  } catch (...) {
    // Nothing may leave this call; a volume not marked ready works all the same.
  }
}

void CheckVolume(const std::u16string& root, bool repair, int32_t* result) {
  EntryPoint entry("QUILWriter::CheckVolume");
  (void)repair;  // nothing is repaired: the check only reports
  if (result == nullptr) QW_FAIL(kInvalidParameter, "no result to check into");
  const Disc disc = openDisc(root);
  static const char16_t* const kFiles[] = {u"INDEX.XML", u"ALIAS.XML", u"DISCMETA.XML", u"MEDIAPRO.XML",
                                           u"SYSPRO.XML"};
  static const char16_t* const kFolders[] = {u"CLIP", u"SUB", u"COMPONENT", u"EDIT"};
  // A link in the place of any of them (refused by the resolver) is no
  // part of a sound tree.
  bool good = true;
  const auto found = [&](const char16_t* name, bool folder) {
    if (disc.image) {
      const auto p = disc.image->locate(volumePath(u"", name));
      return p && p->exists && p->directory == folder;
    }
    const auto p = quil::emulator::resolvePath(disc.folder, volumePath(u"", name));
    return p && p->exists && p->isDirectory == folder;
  };
  for (const char16_t* f : kFiles) good = good && found(f, false);
  for (const char16_t* f : kFolders) good = good && found(f, true);
  *result = good ? 0 : static_cast<int32_t>(kDiscCorrupted);
}

void CheckKeldaFile(const std::u16string& root, const _Volume_Param& param, std::string& discId,
                    QUIL_AliasRename& aliasRename) {
  EntryPoint entry("QUILWriter::CheckKeldaFile");
  (void)param;
  const Disc disc = openDisc(root);
  aliasRename = QUIL_AliasRename{};
  const auto scanned = scanTree(disc);

  const std::string metaText = readDiscFile(disc, u"\\DISCMETA.XML");
  bool version100 = false;
  if (!parseDiscMetaText(metaText.data(), metaText.size(), discId, version100)) discId = freshDiscId();

  RenamePlanner planner(scanned);
  const auto renames = planner.plan(scanned);
  const std::string aliasText = readDiscFile(disc, u"\\ALIAS.XML");

  if (!disc.medium.writable) {
    // Nothing can be renamed: the disc opens write-protected and presents
    // the new names through the alias table alone.
    if (!renames.empty()) aliasRename.virtualAlias = aliasTableWith(aliasText, renames);
    QW_FAIL(kWriteProtectTree, "the medium in " + disc.folder + " is not writable");
  }
  if (renames.empty()) return;
  // All renames or none: a failure puts back what was already renamed, so
  // that the tree is as the caller left it and the renames the failure
  // keeps from the caller are not done behind its back.
  std::vector<std::pair<std::string, std::string>> done;
  for (const auto& r : renames) {
    const std::string from = r.folder->host + "/" + r.oldHostName;
    const std::string to = r.folder->host + "/" + quil::toUtf8(r.rename.newName);
    if (quil::emulator::renameBeneath(disc.folder, from, to) != 0) {
      const int err = errno;
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        quil::emulator::renameBeneath(disc.folder, it->second, it->first);
      }
      aliasRename.renames.clear();
      QW_FAIL(kMoveError, "cannot rename " + from + ": " + std::to_string(err));
    }
    done.emplace_back(from, to);
    aliasRename.renames.push_back(r.rename);
  }
  aliasRename.virtualAlias = aliasTableWith(aliasText, renames);
}

bool parseDiscmeta(const char* text, uint32_t length, std::string& discId, bool& versionIsCurrent) {
  EntryPoint entry("QUILWriter::parseDiscmeta");
  return parseDiscMetaText(text, length, discId, versionIsCurrent);
}

void setVirtualAlias(const std::vector<uint8_t>& alias) { keepVirtualAlias(alias); }

void FlushVolume(const std::u16string& root) {
  EntryPoint entry("QUILWriter::FlushVolume");
  const Disc disc = openDisc(root);
  if (disc.image) return;  // nothing of an image is ever written, so nothing waits to be flushed
  // Everything written to the disc folder's file system, including files
  // still open for recording, reaches the medium.
  const int fd = ::open(disc.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) QW_FAIL(kWriteError, "cannot open " + disc.folder + ": " + std::to_string(errno));
  const int hostFault = quil::emulator::takeHostFault("sync");
  const int rc = hostFault != 0 ? -1 : ::syncfs(fd);
  const int err = hostFault != 0 ? hostFault : errno;
  ::close(fd);
  if (rc != 0) QW_FAIL(kWriteError, "cannot flush " + disc.folder + ": " + std::to_string(err));
}

void SetVolumeLabel(const std::u16string& root, const std::u16string& label) {
  EntryPoint entry("QUILWriter::SetVolumeLabel");
  Disc disc = openDisc(root);
  if (label.size() > 32) QW_FAIL(kInvalidParameter, "a label has at most 32 characters");
  if (std::any_of(label.begin(), label.end(), [](char16_t c) { return c < 0x20; })) {
    QW_FAIL(kInvalidParameter, "a label holds no control characters");
  }
  requireWritable(disc);
  // As within one process, the label stays while another process writes.
  if (quil::emulator::ShareRegistry::instance().writtenElsewhere(disc.folder, nullptr)) {
    QW_FAIL_WIN(kDenied, kWinSharingViolation, "a file of " + disc.folder + " is being written by another process");
  }
  // The description is read again under the disc's lock: another process
  // may have changed it since, and its change must not be written over.
  quil::emulator::DiscSegment::DiscLock lock(quil::emulator::DiscSegment::of(disc.folder));
  auto medium = quil::emulator::MediumDescription::load(disc.folder);
  if (!medium) QW_FAIL(kWriteError, "cannot read the medium description in " + disc.folder);
  medium->label = label;
  if (!medium->save(disc.folder)) QW_FAIL(kWriteError, "cannot save the label in " + disc.folder);
}

}  // namespace QUILWriter
