// Names on the medium: folding for comparison, what a name may hold, and
// the resolution of a volume path to a host path below the disc folder.
#include "disc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "beneath.h"
#include "folder_names.h"
#include "text/case_fold.h"
#include "text/utf.h"

namespace quil::emulator {

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

bool fitsTheMedium(std::u16string_view volumePath) {
  if (volumePath.size() > kMaxPathUnits) return false;
  size_t start = 0;
  while (start <= volumePath.size()) {
    size_t end = volumePath.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = volumePath.size();
    if (end - start > kMaxNameUnits) return false;
    start = end + 1;
  }
  return true;
}

bool isEmulatorFile(std::u16string_view name) {
  return name.size() >= 5 && foldName(name.substr(0, 5)) == u".QUIL";
}

std::optional<ResolvedPath> resolvePath(const std::string& discFolder, std::u16string_view volumePath,
                                        bool* throughLink, Descriptor* folder) {
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
  // The walk starts from the disc folder's held descriptor; what it hands
  // out or moves on from is a descriptor of its own.
  const auto root = discFolderDescriptor(discFolder);
  const auto ownCopyOfRoot = [&] { return Descriptor(root ? ::fcntl(root->get(), F_DUPFD_CLOEXEC, 0) : -1); };
  Descriptor dir;
  if (names.empty()) {
    dir = ownCopyOfRoot();
    if (dir) ::fstat(dir.get(), &out.status);
    if (folder != nullptr) *folder = std::move(dir);
    return out;
  }
  // What fstat said of dir, when it was asked of that very descriptor: the
  // name index takes it instead of asking again.
  struct stat parentStatus {};
  const struct stat* dirStatus = nullptr;

  // A path that exists as spelled is what most calls name: the kernel walks
  // it in one step, refusing links, and no folder is read.
  size_t first = 0;  // the first component still to be looked up one by one
  if (root) {
    const auto relativeOf = [&](size_t count) {
      std::string relative;
      for (size_t i = 0; i < count; ++i) relative += (relative.empty() ? "" : "/") + names[i];
      return relative;
    };
    const std::string relative = relativeOf(names.size());
    const int opened = openPathOfRelative(root->get(), relative);
    const int error = errno;
    Descriptor exact(opened >= 0 ? opened : -1);
    if (exact) {
      struct stat st {};
      if (::fstat(exact.get(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) return refusedAsLink();
        out.host += "/" + relative;
        out.isDirectory = S_ISDIR(st.st_mode);
        out.parentIsFolder = true;
        out.status = st;
        if (folder != nullptr && out.isDirectory) *folder = std::move(exact);
        return out;
      }
    } else if (opened == -1 && error == ELOOP) {
      return refusedAsLink();
    } else if (opened == -1 && error == ENOENT && names.size() > 1) {
      // A name about to be made: its folder is most often spelled as it
      // exists, and then only the last name is looked up.
      const std::string parentPath = relativeOf(names.size() - 1);
      Descriptor parent(openPathOfRelative(root->get(), parentPath));
      struct stat st {};
      if (parent && ::fstat(parent.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
        dir = std::move(parent);
        out.host += "/" + parentPath;
        out.status = st;
        parentStatus = st;
        dirStatus = &parentStatus;
        first = names.size() - 1;
      }
    }
  }

  if (first == 0) dir = ownCopyOfRoot();

  // Otherwise one component at a time from the disc folder, without
  // following a link: the spelling given if it exists (an exact match wins
  // over others), else an entry that differs only in case, from the
  // folder's name index. Closed once the path leaves what exists.
  for (size_t i = first; i < names.size(); ++i) {
    const std::string& name = names[i];
    std::optional<std::string> actual;
    struct stat st {};
    bool found = false;
    if (i + 1 == names.size()) out.parentIsFolder = out.exists && out.isDirectory && dir;
    if (out.exists && out.isDirectory && dir) {
      if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        actual = name;
        found = true;
      } else {
        const auto candidates = namesFolding(dir.get(), toUtf8(foldName(fromUtf8(name))), dirStatus);
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
        dirStatus = nullptr;  // the lstat above came by name, not from this descriptor
      }
    } else {
      out.exists = false;  // not there, or gone meanwhile
      out.isDirectory = false;
    }
  }
  if (folder != nullptr && out.exists && out.isDirectory) {
    // The status handed out with a folder is that of its descriptor (the
    // walk's lstat came by name).
    if (::fstat(dir.get(), &out.status) != 0) return out;
    *folder = std::move(dir);
  }
  return out;
}

}  // namespace quil::emulator
