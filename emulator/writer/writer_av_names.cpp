// Deleting, renaming and locking the files of the AV tree by name. A clip
// is more than its essence file: its metadata, its user metadata and its
// sub clip go with it, and an edit list takes its metadata along, so these
// operations work on the whole set of files that share a name.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "share_registry.h"
#include "text/utf.h"
#include "writer_support.h"

namespace quilwriter {

namespace {

using quil::emulator::ShareRegistry;
using quil::emulator::SpaceAccount;

struct Member {
  std::u16string folder;
  std::u16string file;
};

// The first member is the principal file: the set exists when it does.
std::vector<Member> clipSet(const std::u16string& name) {
  return {{u"CLIP", name + u".MXF"},
          {u"CLIP", name + u"M01.XML"},
          {u"CLIP", name + u"M02.KLV"},
          {u"SUB", name + u"S01.MXF"}};
}

std::vector<Member> componentSet(const std::u16string& name) { return {{u"COMPONENT", name + u".MXF"}}; }

// The core names an edit list with its E01 suffix ("E0001E01"); its
// metadata is the same base with M01. A free name without the suffix is
// its own base.
std::vector<Member> edlSet(const std::u16string& name) {
  std::u16string base = name;
  if (base.size() > 3 && quil::emulator::foldName(base.substr(base.size() - 3)) == u"E01") {
    base.resize(base.size() - 3);
  }
  return {{u"EDIT", name + u".SMI"}, {u"EDIT", base + u"M01.XML"}};
}

std::vector<Member> userMetaSet(const std::u16string& name) { return {{u"CLIP", name + u"M02.KLV"}}; }

struct Found {
  Member member;
  quil::emulator::ResolvedPath path;
};

std::vector<Found> resolveSet(const Disc& disc, const std::vector<Member>& set) {
  std::vector<Found> out;
  for (const auto& m : set) {
    auto path = resolve(disc, volumePath(m.folder, m.file));
    if (path.exists && path.isDirectory) path.exists = false;  // a folder is no member of a set
    out.push_back(Found{m, std::move(path)});
  }
  return out;
}

// lockedRefuses: a locked (read-only) principal may not be deleted.
void deleteSet(const std::u16string& root, const std::u16string& name, const std::vector<Member>& set,
               bool lockedRefuses) {
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(name);
  const auto found = resolveSet(disc, set);
  const auto& principal = found.front().path;
  if (!principal.exists) QW_FAIL(kNotFound, principal.host + " does not exist");
  if (lockedRefuses && !hasWriteBit(principal)) QW_FAIL(kWriteProtected, principal.host + " is locked");
  for (const auto& f : found) {
    if (f.path.exists && ShareRegistry::instance().blocksDelete(disc.folder, f.path.host)) {
      QW_FAIL_WIN(kDenied, kWinSharingViolation, f.path.host + " is open without delete sharing");
    }
  }
  // The principal goes last: should a deletion fail, the set still exists
  // and the delete can be tried again.
  auto& space = SpaceAccount::of(disc.folder);
  for (size_t i = found.size(); i-- > 0;) {
    const auto& path = found[i].path;
    if (!path.exists) continue;
    const int64_t size = path.status.st_size;
    if (quil::emulator::removeBeneath(disc.folder, path.host, false) != 0) {
      const int err = errno;
      QW_FAIL(codeOf(kDeleteError, err), "cannot delete " + path.host + ": " + std::to_string(err));
    }
    if (size > 0) space.release(static_cast<uint64_t>(size));
  }
}

void renameSet(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
               const std::vector<Member>& oldSet, const std::vector<Member>& newSet) {
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(oldName);
  checkAvName(newName);
  const auto from = resolveSet(disc, oldSet);
  const auto to = resolveSet(disc, newSet);
  if (!from.front().path.exists) QW_FAIL(kNotFound, from.front().path.host + " does not exist");
  for (size_t i = 0; i < from.size(); ++i) {
    // A stale file of the new name would join the renamed set: refused too.
    if (to[i].path.exists && to[i].path.host != from[i].path.host) {
      QW_FAIL(kExists, to[i].path.host + " already exists");
    }
    if (from[i].path.exists && ShareRegistry::instance().blocksDelete(disc.folder, from[i].path.host)) {
      QW_FAIL_WIN(kDenied, kWinSharingViolation, from[i].path.host + " is open without delete sharing");
    }
  }
  // All files or none: a failure puts back what was already renamed.
  std::vector<std::pair<std::string, std::string>> done;
  for (size_t i = 0; i < from.size(); ++i) {
    if (!from[i].path.exists) continue;
    const std::string target = parentOf(from[i].path.host) + "/" + quil::toUtf8(newSet[i].file);
    if (quil::emulator::renameBeneath(disc.folder, from[i].path.host, target) != 0) {
      const int err = errno;
      for (auto it = done.rbegin(); it != done.rend(); ++it) {
        quil::emulator::renameBeneath(disc.folder, it->second, it->first);
      }
      QW_FAIL(codeOf(kMoveError, err), "cannot rename " + from[i].path.host + ": " + std::to_string(err));
    }
    done.emplace_back(from[i].path.host, target);
  }
}

// A lock takes every write bit away, as the read-only attribute of the
// medium does; an unlock gives the owner's back.
void lockFile(const std::u16string& root, const std::u16string& name, bool lock, std::u16string_view folder) {
  const Disc disc = openDisc(root);
  requireWritable(disc);
  checkAvName(name);
  const std::string host = hostOfExisting(disc, folder, name + u".MXF");
  // A recording of this process takes its lock when it closes (the library
  // sees to that); one of another process is not ours to change.
  if (ShareRegistry::instance().writtenElsewhere(disc.folder, &host)) {
    QW_FAIL_WIN(kDenied, kWinSharingViolation, host + " is being written by another process");
  }
  struct stat st {};
  if (quil::emulator::statBeneath(disc.folder, host, st) != 0) {
    QW_FAIL(codeOf(kSetAttributesError, errno), "cannot stat " + host);
  }
  mode_t mode = st.st_mode & 07777;
  mode = lock ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  if (quil::emulator::chmodBeneath(disc.folder, host, mode) != 0) {
    QW_FAIL(codeOf(kSetAttributesError, errno), "cannot change the mode of " + host);
  }
}

}  // namespace

}  // namespace quilwriter

namespace QUILWriter {

using namespace quilwriter;

void DeleteClipFile(const std::u16string& root, const std::u16string& name, _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::DeleteClipFile");
  (void)naming;
  deleteSet(root, name, clipSet(name), true);
}

void DeleteComponentFile(const std::u16string& root, const std::u16string& name, _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::DeleteComponentFile");
  (void)naming;
  deleteSet(root, name, componentSet(name), true);
}

void DeleteEdlFile(const std::u16string& root, const std::u16string& name, _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::DeleteEdlFile");
  (void)naming;
  deleteSet(root, name, edlSet(name), false);
}

void DeleteUserMetaFile(const std::u16string& root, const std::u16string& name, _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::DeleteUserMetaFile");
  (void)naming;
  deleteSet(root, name, userMetaSet(name), false);
}

void RenameClipFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                    _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::RenameClipFile");
  (void)naming;
  renameSet(root, oldName, newName, clipSet(oldName), clipSet(newName));
}

void RenameComponentFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                         _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::RenameComponentFile");
  (void)naming;
  renameSet(root, oldName, newName, componentSet(oldName), componentSet(newName));
}

void RenameEdlFile(const std::u16string& root, const std::u16string& oldName, const std::u16string& newName,
                   _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::RenameEdlFile");
  (void)naming;
  renameSet(root, oldName, newName, edlSet(oldName), edlSet(newName));
}

void LockClipFile(const std::u16string& root, const std::u16string& name, bool lock, _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::LockClipFile");
  (void)naming;
  lockFile(root, name, lock, u"CLIP");
}

void LockComponentFile(const std::u16string& root, const std::u16string& name, bool lock,
                       _QUIL_NAMING_MODE naming) {
  EntryPoint entry("QUILWriter::LockComponentFile");
  (void)naming;
  lockFile(root, name, lock, u"COMPONENT");
}

}  // namespace QUILWriter
